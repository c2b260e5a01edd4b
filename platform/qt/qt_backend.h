#pragma once

// The Qt backend: the window program, velmorin-ui, which a copy becomes when it has a window to
// show. State shared by its files is kept in one struct.
//   Offers: windows built from their layouts at the screen's DPI, fixed dialogs, background
//     pictures, message boxes, the tick loop's wait (qt_timer.cpp), the About tune through its
//     module.
//   Leaves to others: the hour's sound (the sound helper), the running-copy lock (posix/).
//   Needs: an X11 display (or XWayland).

#include "platform/core/forms.h"
#include "platform/platform.h"

#include <QPixmap>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace platform::qt {

// A loaded form: its top-level widget, built from the layout.
class FormWindow final : public QWidget, public core::Window {
  public:
    explicit FormWindow(const Form& form);
    ~FormWindow() override;

    void Present() override;
    void Destroy() override;
    // Corrects a placement made before the window system had told the frame, once it has.
    void CorrectPlacement();
    // The frame the window has, or will have once shown.
    QMargins Frame();

    QPixmap background;
    // The outer place a window was given while its frame was unknown.
    std::optional<QPoint> placed_without_frame;
    bool painted = false;
    std::optional<QMargins> frame_before_mapping;

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
};

struct Backend {
    bool another_copy_running = false;
    // Set in Run: a test that builds windows without it never hands over.
    bool running = false;
    // A shown window was unloaded: once none shows, this copy goes on as the resident.
    bool going_lean = false;
    double twips_per_pixel = 15.0;
};

Backend& State();

// The loaded window of a form, or nothing.
FormWindow* Find(const Form& form);

QPixmap Picture(const std::string& name);

// Runs events until every shown window has been exposed and painted, for a short time at most.
void PaintShownWindows();

// X11 (qt_frame.cpp); neither does anything on another window system.
QMargins FrameBeforeMapping(QWidget& window);
void MoveFrameTo(QWidget& window, QPoint outer, QMargins frame);
void SyncWithDisplay();

// A window program that shows no window any more becomes the resident, which maps no toolkit:
// the same process, with the same timers and lock, at a tenth of the memory. Called when a
// shown window is unloaded and after every tick, since it waits out the hour's chimes.
void GoLeanWhenNoWindowShows();

// Arms the tick loop's wait for the next due timer (platform/core/tick_timers.h), or stops it.
void ArmTickWait();

} // namespace platform::qt
