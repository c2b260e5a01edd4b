#include "platform/core/tick_grid.h"
#include "platform/core/tick_timers.h"
#include "platform/posix/instance.h"
#include "platform/posix/sound_client.h"
#include "platform/qt/qt_backend.h"

#include <QApplication>
#include <QDateTime>
#include <QFont>
#include <QMessageBox>
#include <QScreen>
#include <QTime>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <unistd.h>

namespace platform {

namespace qt {

Backend& State() {
    static Backend backend;
    return backend;
}

namespace {

QString Title() {
    return QString::fromUtf8(AppTitle().data(), static_cast<qsizetype>(AppTitle().size()));
}

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (const char* value = std::getenv(name); value != nullptr && *value) {
            return true;
        }
    }
    std::fprintf(stderr, "velmorin: no display: start it in a desktop session (DISPLAY "
                         "is not set)\n");
    return false;
}

// Qt reports a display it cannot open with several lines and an abort; the user gets one
// line and an exit status instead.
void StartupMessages(QtMsgType type, const QMessageLogContext&, const QString&) {
    if (type == QtFatalMsg) {
        const char* display = std::getenv("DISPLAY");
        std::fprintf(stderr, "velmorin: cannot open the display %s\n",
                     display != nullptr ? display : "");
        std::_Exit(1);
    }
}

// Qt centres a message box by a guess at the frame (and with no window manager, by a frame that
// is not there); it is placed by the frame the window manager announces instead, before it is
// mapped, so that it shows centred and stays where it shows.
class CentredMessageBox final : public QMessageBox {
  public:
    using QMessageBox::QMessageBox;

  protected:
    void showEvent(QShowEvent* event) override {
        // Sizes the box to its text.
        QMessageBox::showEvent(event);
        const QMargins frame = FrameBeforeMapping(*this);
        const QSize outer = size().grownBy(frame);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        MoveFrameTo(*this,
                    {screen.x() + (screen.width() - outer.width()) / 2,
                     screen.y() + (screen.height() - outer.height()) / 2},
                    frame);
    }
};

// Under a Wayland compositor the windows go where the compositor puts them; on the X display
// (XWayland there) they go where the program puts them, as on any X desktop. A platform the user
// chose is kept.
void PreferTheXDisplay() {
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr && *display && std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
}

// Qt's own handler, which prints every other message.
QtMessageHandler qt_messages = nullptr;

// The session has ended when the display has gone: said in one line, as the resident says it,
// instead of Qt's own warning.
void RunningMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.contains(QLatin1String("X11 connection broke"))) {
        std::fprintf(stderr, "velmorin: the display has closed\n");
        std::_Exit(1);
    }
    if (qt_messages != nullptr) {
        qt_messages(type, context, message);
    }
}

// The application as every window of the program needs it, on the X display where there is one;
// `body` runs inside it and gives the exit status. Windows are unloaded by the program, never
// closed away with the last one: the host window stays loaded, hidden, for the life of the
// process.
int RunApplication(int argc, char** argv, const std::function<int()>& body) {
    PreferTheXDisplay();
    qt_messages = qInstallMessageHandler(StartupMessages);
    QApplication app(argc, argv);
    qInstallMessageHandler(RunningMessages);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(Title());
    // The About text asks for a Japanese proportional gothic; where it is not installed, the
    // IPA gothic that the setup installs stands in.
    QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐゴシック"),
                               {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic")});
    State().twips_per_pixel = 1440.0 / QGuiApplication::primaryScreen()->logicalDotsPerInch();
    return body();
}

} // namespace

void GoLeanWhenNoWindowShows() {
    if (!State().running || !State().going_lean) {
        return;
    }
    for (core::Window* window : core::LoadedWindows()) {
        if (static_cast<FormWindow*>(window)->isVisible()) {
            return;
        }
    }
    // The hour's latch and decision belong to this process; a later tick tries again.
    if (core::ChimesAreNear(Now())) {
        return;
    }
    const std::string program = ProgramFolder() + "/velmorin";
    char* argv[] = {const_cast<char*>("velmorin"), nullptr};
    ::setenv(posix::kContinueVariable, "1", 1);
    std::fflush(nullptr);
    ::execv(program.c_str(), argv);
    // It goes on as it is.
    ::unsetenv(posix::kContinueVariable);
    State().going_lean = false;
    std::fprintf(stderr, "velmorin: cannot start %s: %s\n", program.c_str(), std::strerror(errno));
}

} // namespace qt

int Run(const Form& startup, int argc, char** argv) {
    if (!qt::HasDisplay()) {
        return 1;
    }
    return qt::RunApplication(argc, argv, [&startup] {
        // The resident, which has no toolkit, has this program show its message boxes.
        if (const char* text = std::getenv("VELMORIN_MESSAGE_BOX")) {
            MessageBox(text);
            return 0;
        }
        qt::State().another_copy_running = posix::RegisterAndFindOtherCopies();
        qt::State().running = true;
        core::LoadStartupForm(startup);
        // A second copy shows its control window instead; and start-up may have ended this one.
        if (!qt::State().another_copy_running) {
            posix::SayRunningInTerminal();
        }
        return QApplication::exec();
    });
}

int RunAlone(const Form& form, int argc, char** argv) {
    if (!qt::HasDisplay()) {
        return 1;
    }
    // Asked before the toolkit loads: a second request only brings the first one's window
    // forward, which takes no toolkit.
    if (!posix::ClaimWindow(form.layout.name)) {
        if (const std::uint32_t window = posix::ClaimedWindow(form.layout.name)) {
            posix::ActivateWindow(window);
        }
        return 0;
    }
    // The process ends when the window is unloaded (core::LastWindowUnloaded).
    return qt::RunApplication(argc, argv, [&form] {
        Show(form);
        if (qt::FormWindow* window = qt::Find(form)) {
            posix::PublishWindow(static_cast<std::uint32_t>(window->winId()));
        }
        return QApplication::exec();
    });
}

void DoEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    qt::PaintShownWindows();
}

void MessageBox(std::string_view text) {
    const std::string shown(text.substr(0, text.find('\0')));
    qt::CentredMessageBox box(QMessageBox::NoIcon, qt::Title(), QString::fromStdString(shown),
                              QMessageBox::Ok);
    box.exec();
}

bool AnotherCopyRunning() {
    return qt::State().another_copy_running;
}

// A window program is only ever started afresh; it hands over to the resident, never back.
bool ContinuesEarlierCopy() {
    return false;
}

TimeOfDay Now() {
    const QTime now = QTime::currentTime();
    return {now.hour(), now.minute(), now.second()};
}

bool PlaySoundA(const char* sound, void* /*module*/, std::uint32_t flags) {
    return posix::RequestSound(sound, flags);
}

void End() {
    std::fflush(nullptr);
    std::_Exit(0);
}

void EndWithStatus(int status) {
    std::fflush(nullptr);
    std::_Exit(status);
}

void Tell(std::string_view text, Notice notice) {
    posix::Tell(text, notice, MessageBox);
}

std::int64_t core::WallClockUs() {
    return QDateTime::currentMSecsSinceEpoch() * 1000;
}

// QTimer waits in whole milliseconds.
std::int64_t core::TickLagMs() {
    return kTickLagMs;
}

void core::TimersChanged() {
    qt::ArmTickWait();
}

} // namespace platform
