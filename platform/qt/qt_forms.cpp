#include "platform/qt/qt_backend.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>

namespace platform {

namespace qt {

namespace {

// Bounds the wait for a shown window's first paint, so that a window manager that never maps
// it costs no more than this.
constexpr int kPaintWaitMs = 1000;

int Pixels(double twips) {
    return qRound(twips / State().twips_per_pixel);
}

QRect Geometry(const ControlLayout& control) {
    return {Pixels(control.left), Pixels(control.top), Pixels(control.width),
            Pixels(control.height)};
}

QString Text(std::string_view text) {
    // Labels take CR LF line breaks; Qt wants a plain line feed.
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))
        .replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QWidget* BuildControl(FormWindow& window, const ControlLayout& control) {
    const Form& form = window.form;
    switch (control.kind) {
    case ControlKind::CommandButton: {
        auto* button = new QPushButton(Text(control.text), &window);
        // No button is the default or the cancel button: Enter and Esc press nothing.
        button->setAutoDefault(false);
        button->setDefault(false);
        const std::string event = control.name + "_Click";
        QObject::connect(button, &QPushButton::clicked,
                         [&form, event] { RunHandler(form, event); });
        return button;
    }
    case ControlKind::Label: {
        auto* label = new QLabel(Text(control.text), &window);
        label->setWordWrap(true);
        label->setAlignment(control.alignment == Alignment::Center ? Qt::AlignHCenter | Qt::AlignTop
                                                                   : Qt::AlignLeft | Qt::AlignTop);
        if (!control.font.face.empty()) {
            QFont font(QString::fromStdString(control.font.face));
            font.setPointSize(control.font.points);
            label->setFont(font);
        }
        return label;
    }
    case ControlKind::PictureBox: {
        auto* picture = new QLabel(&window);
        picture->setPixmap(Picture(control.picture));
        picture->setAlignment(Qt::AlignCenter);
        picture->setFocusPolicy(Qt::TabFocus);
        return picture;
    }
    case ControlKind::Timer:
        // Timers run in the shared tick loop (platform/core/tick_timers.cpp).
        return nullptr;
    }
    return nullptr;
}

void Build(FormWindow& window) {
    const WindowLayout& layout = window.form.layout;
    window.setObjectName(QString::fromStdString(layout.name));
    window.setWindowTitle(Text(layout.caption));
    if (!layout.icon.empty()) {
        window.setWindowIcon(QIcon(Picture(layout.icon)));
    }
    const QSize client(Pixels(layout.width), Pixels(layout.height));
    if (layout.border == BorderStyle::FixedDialog) {
        window.setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint |
                              Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
        window.setFixedSize(client);
    } else {
        window.setWindowFlags(Qt::Window);
        window.resize(client);
    }
    window.move(Pixels(layout.left), Pixels(layout.top));
    if (!layout.background.empty()) {
        window.background = Picture(layout.background);
    }

    std::vector<std::pair<int, QWidget*>> focus_chain;
    for (const ControlLayout& control : layout.controls) {
        QWidget* widget = BuildControl(window, control);
        if (widget == nullptr) {
            continue;
        }
        widget->setObjectName(QString::fromStdString(control.name));
        widget->setGeometry(Geometry(control));
        if (widget->focusPolicy() != Qt::NoFocus) {
            focus_chain.emplace_back(control.tab_index, widget);
        }
    }
    std::sort(focus_chain.begin(), focus_chain.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 1; i < focus_chain.size(); ++i) {
        QWidget::setTabOrder(focus_chain[i - 1].second, focus_chain[i].second);
    }
    if (!focus_chain.empty()) {
        focus_chain.front().second->setFocus(Qt::OtherFocusReason);
    }
}

} // namespace

FormWindow* Find(const Form& form) {
    return static_cast<FormWindow*>(core::WindowOf(form));
}

FormWindow::FormWindow(const Form& form) : core::Window(form) {
    setAttribute(Qt::WA_DeleteOnClose, false);
}

FormWindow::~FormWindow() = default;

void FormWindow::Present() {
    show();
    CorrectPlacement();
    raise();
    activateWindow();
}

void FormWindow::Destroy() {
    if (isVisible()) {
        State().going_lean = true;
        // From the event loop, once the handler that unloaded this window has returned.
        QTimer::singleShot(0, [] { GoLeanWhenNoWindowShows(); });
    }
    hide();
    deleteLater();
}

// The window manager announces the frame before the window is mapped (FrameBeforeMapping), so
// that a load handler places it by its outer size from the start.
QMargins FormWindow::Frame() {
    if (isVisible() && windowHandle() != nullptr && !windowHandle()->frameMargins().isNull()) {
        return windowHandle()->frameMargins();
    }
    if (!frame_before_mapping) {
        frame_before_mapping = FrameBeforeMapping(*this);
    }
    return *frame_before_mapping;
}

// A window manager that did not announce the frame in time has a window placed by its client
// size; half the frame makes up the difference once the frame is known.
void FormWindow::CorrectPlacement() {
    if (!placed_without_frame || windowHandle() == nullptr || !isVisible()) {
        return;
    }
    const QMargins frame = windowHandle()->frameMargins();
    if (frame.isNull()) {
        return;
    }
    const QPoint asked = *placed_without_frame;
    placed_without_frame.reset();
    move(asked - QPoint((frame.left() + frame.right()) / 2, (frame.top() + frame.bottom()) / 2));
}

// The frame arrives from the window manager some time after the show.
bool FormWindow::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::Move || event->type() == QEvent::Show ||
        event->type() == QEvent::Resize) {
        CorrectPlacement();
    }
    return handled;
}

void FormWindow::paintEvent(QPaintEvent* event) {
    painted = true;
    // Once exposed, the window is framed; a window manager that keeps the client area where it
    // was sends it no move to correct the placement on.
    if (placed_without_frame) {
        QTimer::singleShot(0, this, &FormWindow::CorrectPlacement);
    }
    if (!background.isNull()) {
        QPainter painter(this);
        painter.drawPixmap(0, 0, background);
    }
    QWidget::paintEvent(event);
}

// Closing a window from its title bar unloads it; the process goes on with its hidden host
// window and timer.
void FormWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    Unload(form);
}

QPixmap Picture(const std::string& name) {
    return QPixmap(QStringLiteral(":/pictures/") + QString::fromStdString(name));
}

// A window manager maps and exposes a shown window only once it has framed it, later than one
// pass of the event loop: the About window, whose tune then holds the event thread, would stay
// blank for the whole tune.
void PaintShownWindows() {
    const auto unpainted = [] {
        const std::vector<core::Window*> loaded = core::LoadedWindows();
        return std::any_of(loaded.begin(), loaded.end(), [](core::Window* window) {
            const auto* shown = static_cast<FormWindow*>(window);
            return shown->isVisible() && !shown->painted;
        });
    };
    QElapsedTimer elapsed;
    elapsed.start();
    // Wakes the wait below when nothing else comes.
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.start(kPaintWaitMs);
    while (unpainted() && !elapsed.hasExpired(kPaintWaitMs)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    SyncWithDisplay();
}

} // namespace qt

using qt::Find;
using qt::State;

core::Window* core::BuildWindow(const Form& form) {
    auto* window = new qt::FormWindow(form);
    qt::Build(*window);
    return window;
}

void core::LastWindowUnloaded() {
    QCoreApplication::quit();
}

void SetControlText(const Form& form, std::string_view control, std::string_view text) {
    if (qt::FormWindow* window = Find(form)) {
        const QString name =
            QString::fromUtf8(control.data(), static_cast<qsizetype>(control.size()));
        if (auto* button = window->findChild<QPushButton*>(name)) {
            button->setText(qt::Text(text));
        } else if (auto* label = window->findChild<QLabel*>(name)) {
            label->setText(qt::Text(text));
        }
    }
}

float FormWidth(const Form& form) {
    if (qt::FormWindow* window = Find(form)) {
        const QMargins frame = window->Frame();
        return static_cast<float>((window->width() + frame.left() + frame.right()) *
                                  State().twips_per_pixel);
    }
    return static_cast<float>(form.layout.width);
}

float FormHeight(const Form& form) {
    if (qt::FormWindow* window = Find(form)) {
        const QMargins frame = window->Frame();
        return static_cast<float>((window->height() + frame.top() + frame.bottom()) *
                                  State().twips_per_pixel);
    }
    return static_cast<float>(form.layout.height);
}

float ScreenWidth() {
    return static_cast<float>(QGuiApplication::primaryScreen()->geometry().width() *
                              State().twips_per_pixel);
}

float ScreenHeight() {
    return static_cast<float>(QGuiApplication::primaryScreen()->geometry().height() *
                              State().twips_per_pixel);
}

// The caller placed the window by its outer size, with the frame the window manager announced.
void MoveForm(const Form& form, float left, float top) {
    if (qt::FormWindow* window = Find(form)) {
        const QMargins frame = window->Frame();
        const QPoint outer(qRound(left / State().twips_per_pixel),
                           qRound(top / State().twips_per_pixel));
        qt::MoveFrameTo(*window, outer, frame);
        window->placed_without_frame =
            frame.isNull() ? std::optional<QPoint>(outer) : std::optional<QPoint>();
    }
}

} // namespace platform
