// Busy as Windows tells programs that would otherwise show a notification: a presentation, a
// full-screen or Direct3D full-screen program, or quiet time.

#include "platform/win32/win32_backend.h"

#include <shellapi.h>

namespace platform {

bool UserIsBusy() {
    QUERY_USER_NOTIFICATION_STATE state{};
    if (FAILED(SHQueryUserNotificationState(&state))) {
        return false;
    }
    return state == QUNS_BUSY || state == QUNS_RUNNING_D3D_FULL_SCREEN ||
           state == QUNS_PRESENTATION_MODE || state == QUNS_QUIET_TIME;
}

std::string_view BusyMeaning() {
    return "a presentation, a full-screen program or quiet time";
}

} // namespace platform
