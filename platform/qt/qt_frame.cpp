#include "platform/posix/xcb_properties.h"
#include "platform/qt/qt_backend.h"

#include <QGuiApplication>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <vector>

namespace platform::qt {

namespace {

// A window manager that supports the request answers within a few milliseconds, or a few
// hundred on a busy machine; one that claims to and stays silent costs no more than this.
constexpr auto kFrameAnswerWait = std::chrono::milliseconds(500);

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    return posix::InternAtom(connection, name, false);
}

std::vector<std::uint32_t> Property(xcb_connection_t* connection, xcb_window_t window,
                                    xcb_atom_t property, xcb_atom_t type) {
    return posix::WindowValues(connection, window, property, 1024, type);
}

} // namespace

// A reparenting window manager tells a window's frame only once it has framed it, after the
// window is mapped; a window placed by its outer size before that would be placed by its client
// size and have to move once shown. The window manager is asked for the frame it will put
// around the not yet mapped window instead (_NET_REQUEST_FRAME_EXTENTS), and answers by setting
// _NET_FRAME_EXTENTS on it. With no window manager, or under Wayland, there is no frame.
// Asking creates the window on the display, so it is asked only of a window manager that
// offers to answer: one that does not (weston's) may also take a window's place only from where
// it was created, not from a move before it is mapped.
QMargins FrameBeforeMapping(QWidget& window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr) {
        return {};
    }
    xcb_connection_t* connection = x11->connection();
    // Desktops have one X screen; its root window is the one a window manager watches.
    const xcb_window_t root = posix::ScreenRoot(connection, 0);
    const xcb_atom_t request = Atom(connection, "_NET_REQUEST_FRAME_EXTENTS");
    const xcb_atom_t extents = Atom(connection, "_NET_FRAME_EXTENTS");
    const std::vector<std::uint32_t> supported =
        Property(connection, root, Atom(connection, "_NET_SUPPORTED"), XCB_ATOM_ATOM);
    // A window manager that has gone leaves its claims on the root window, but not its own
    // window, which names itself.
    const xcb_atom_t check = Atom(connection, "_NET_SUPPORTING_WM_CHECK");
    const std::vector<std::uint32_t> manager = Property(connection, root, check, XCB_ATOM_WINDOW);
    if (root == XCB_WINDOW_NONE || request == XCB_ATOM_NONE ||
        std::find(supported.begin(), supported.end(), request) == supported.end() ||
        manager.size() != 1 ||
        Property(connection, manager[0], check, XCB_ATOM_WINDOW) != manager) {
        return {};
    }
    const auto id = static_cast<xcb_window_t>(window.winId());
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = id;
    message.type = request;
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    // Qt's own thread reads the connection's events, so the answer is looked for in the
    // property itself rather than waited for as an event.
    const auto deadline = std::chrono::steady_clock::now() + kFrameAnswerWait;
    for (;;) {
        const std::vector<std::uint32_t> frame =
            Property(connection, id, extents, XCB_ATOM_CARDINAL);
        if (frame.size() == 4) {
            // The property holds left, right, top, bottom in device pixels.
            const qreal ratio = window.devicePixelRatioF();
            const auto scaled = [ratio](std::uint32_t value) {
                return qRound(static_cast<qreal>(value) / ratio);
            };
            return {scaled(frame[0]), scaled(frame[2]), scaled(frame[1]), scaled(frame[3])};
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return {};
        }
        QThread::msleep(2);
    }
}

// Qt places a window by its frame once it is shown, or while it has no native window yet; in
// between (FrameBeforeMapping made one) by its client area, as Qt knows no frame then. Either
// way the frame's top left lands on outer.
void MoveFrameTo(QWidget& window, QPoint outer, QMargins frame) {
    const QPoint frame_known_to_qt = window.geometry().topLeft() - window.pos();
    window.move(outer + QPoint(frame.left(), frame.top()) - frame_known_to_qt);
}

// Waits until the display has carried out everything asked of it so far, so that what was
// painted is on the screen before the event thread is held.
void SyncWithDisplay() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr) {
        return;
    }
    xcb_connection_t* connection = x11->connection();
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

} // namespace platform::qt
