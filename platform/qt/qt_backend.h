#pragma once

// The Qt backend: the window program, velmorin-ui, which a copy becomes when it has a window to
// show. State shared by its files is kept in one struct.
//   Offers: windows built from their layouts at the screen's DPI, fixed dialogs, background
//     pictures, message boxes, timers on the wall-clock grid, the About tune through its module.
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

class QSocketNotifier;
class QTimer;

namespace platform::qt {

class AlignedTimer;

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
    std::vector<std::unique_ptr<AlignedTimer>> timers;
    // The outer place a window was given while its frame was unknown.
    std::optional<QPoint> placed_without_frame;
    bool painted = false;
    std::optional<QMargins> frame_before_mapping;

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
};

struct Backend {
    bool another_copy_running = false;
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

// Calls its handler every period, on a grid of the wall clock: just after each multiple of the
// period since the epoch. 800 ms divides the hour and every time-zone offset, so a tick lands
// a few milliseconds after hh:00:00 and hh:00:08. After a step of the wall clock, either way
// and of any size, or a resume from suspend, the next tick comes within one period.
class AlignedTimer {
  public:
    AlignedTimer(int period_ms, std::function<void()> handler);
    ~AlignedTimer();

  private:
    void Arm();
    void Fire();
    void ClockSet();

    int period_ms_;
    std::function<void()> handler_;
    std::unique_ptr<QTimer> timer_;
    qint64 due_ms_ = 0;
    int step_fd_ = -1; // a timerfd that reports steps of the wall clock
    std::unique_ptr<QSocketNotifier> step_watch_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace platform::qt
