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
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// What every window of the program needs once the application exists.
void SetUpApplication() {
    QApplication::setApplicationName(Title());
    // The About text asks for a Japanese proportional gothic; where it is not installed, the
    // IPA gothic that the setup installs stands in.
    QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐゴシック"),
                               {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic")});
    State().twips_per_pixel = 1440.0 / QGuiApplication::primaryScreen()->logicalDotsPerInch();
}

} // namespace

} // namespace qt

int Run(const Form& startup, int argc, char** argv) {
    if (!qt::HasDisplay()) {
        return 1;
    }
    qInstallMessageHandler(qt::StartupMessages);
    QApplication app(argc, argv);
    qInstallMessageHandler(nullptr);
    // The host window stays loaded, hidden, for the life of the process.
    QApplication::setQuitOnLastWindowClosed(false);
    qt::SetUpApplication();
    // The resident, which has no toolkit, has this program show its message boxes.
    if (const char* text = std::getenv("VELMORIN_MESSAGE_BOX")) {
        MessageBox(text);
        return 0;
    }
    qt::State().another_copy_running = posix::RegisterAndFindOtherCopies();
    core::LoadStartupForm(startup);
    // A second copy shows its control window instead; and start-up may have ended this one.
    if (!qt::State().another_copy_running) {
        posix::SayRunningInTerminal();
    }
    return QApplication::exec();
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
    qInstallMessageHandler(qt::StartupMessages);
    QApplication app(argc, argv);
    qInstallMessageHandler(nullptr);
    // The process ends when the window is unloaded (core::LastWindowUnloaded).
    QApplication::setQuitOnLastWindowClosed(false);
    qt::SetUpApplication();
    Show(form);
    if (qt::FormWindow* window = qt::Find(form)) {
        posix::PublishWindow(static_cast<std::uint32_t>(window->winId()));
    }
    return QApplication::exec();
}

void DoEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void MessageBox(std::string_view text) {
    const std::string shown(text.substr(0, text.find('\0')));
    QMessageBox box(QMessageBox::NoIcon, qt::Title(), QString::fromStdString(shown),
                    QMessageBox::Ok);
    box.exec();
}

bool AnotherCopyRunning() {
    return qt::State().another_copy_running;
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
