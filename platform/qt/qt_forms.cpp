#include "platform/qt/qt_backend.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
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

bool HasDefaultButton(const WindowLayout& layout) {
    return std::any_of(layout.controls.begin(), layout.controls.end(),
                       [](const ControlLayout& control) { return control.default_button; });
}

QWidget* BuildControl(FormWindow& window, const ControlLayout& control) {
    const Form& form = window.form;
    const std::string clicked = control.name + "_Click";
    const std::string changed = control.name + "_Change";
    switch (control.kind) {
    case ControlKind::CommandButton: {
        auto* button = new QPushButton(Text(control.text), &window);
        // In a window without a default button Enter and Esc press nothing; in one with it,
        // Enter presses the focused button, or else the default one (FormWindow::keyPressEvent).
        button->setAutoDefault(HasDefaultButton(form.layout));
        button->setDefault(control.default_button);
        QObject::connect(button, &QPushButton::clicked,
                         [&form, clicked] { RunHandler(form, clicked); });
        return button;
    }
    case ControlKind::CheckBox: {
        auto* box = new QCheckBox(Text(control.text), &window);
        QObject::connect(box, &QCheckBox::clicked, [&form, clicked] { RunHandler(form, clicked); });
        return box;
    }
    case ControlKind::Slider: {
        auto* slider = new QSlider(Qt::Horizontal, &window);
        slider->setRange(0, control.maximum);
        slider->setPageStep(std::max(1, control.maximum / 10));
        slider->setFocusPolicy(Qt::StrongFocus);
        QObject::connect(slider, &QSlider::valueChanged,
                         [&form, changed] { RunHandler(form, changed); });
        return slider;
    }
    case ControlKind::ComboBox: {
        auto* combo = new QComboBox(&window);
        for (const std::string& item : control.items) {
            combo->addItem(Text(item));
        }
        combo->setFocusPolicy(Qt::StrongFocus);
        QObject::connect(combo, &QComboBox::currentIndexChanged,
                         [&form, changed] { RunHandler(form, changed); });
        return combo;
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
        // A slider or combo box shows no text of its own: the layout's text, the words of the
        // label before it, is what a screen reader names it by.
        if (!control.accessible_name.empty()) {
            widget->setAccessibleName(Text(control.accessible_name));
        } else if (control.kind == ControlKind::Slider || control.kind == ControlKind::ComboBox) {
            widget->setAccessibleName(Text(control.text));
        }
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

// Enter and Escape press the window's default and cancel buttons; a focused button takes Enter
// itself (it is an auto-default button then).
void FormWindow::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool escape = event->key() == Qt::Key_Escape;
    for (const ControlLayout& control : form.layout.controls) {
        if ((enter && control.default_button) || (escape && control.cancel_button)) {
            // The handler may unload this window; nothing of it is touched afterwards.
            RunHandler(form, control.name + "_Click");
            return;
        }
    }
    QWidget::keyPressEvent(event);
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
        if (auto* button = window->findChild<QAbstractButton*>(name)) {
            button->setText(qt::Text(text));
        } else if (auto* label = window->findChild<QLabel*>(name)) {
            label->setText(qt::Text(text));
        }
    }
}

int ControlValue(const Form& form, std::string_view control) {
    qt::FormWindow* window = Find(form);
    if (window == nullptr) {
        return 0;
    }
    QWidget* widget = window->findChild<QWidget*>(
        QString::fromUtf8(control.data(), static_cast<qsizetype>(control.size())));
    if (auto* box = qobject_cast<QCheckBox*>(widget)) {
        return box->isChecked() ? 1 : 0;
    }
    if (auto* slider = qobject_cast<QSlider*>(widget)) {
        return slider->value();
    }
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        return combo->currentIndex();
    }
    return 0;
}

void SetControlValue(const Form& form, std::string_view control, int value) {
    qt::FormWindow* window = Find(form);
    if (window == nullptr) {
        return;
    }
    QWidget* widget = window->findChild<QWidget*>(
        QString::fromUtf8(control.data(), static_cast<qsizetype>(control.size())));
    // Only the user's changes run handlers.
    const QSignalBlocker quiet(widget);
    if (auto* box = qobject_cast<QCheckBox*>(widget)) {
        box->setChecked(value != 0);
    } else if (auto* slider = qobject_cast<QSlider*>(widget)) {
        slider->setValue(value);
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        combo->setCurrentIndex(value);
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
