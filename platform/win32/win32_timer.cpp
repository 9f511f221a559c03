#include "platform/win32/win32_timer.h"

#include "platform/win32/win32_platform.h"

namespace tempikon::win32 {

Win32Timer::~Win32Timer() {
    liveness_.end();
    if (id_) platform_.stopTimer(id_);
}

void Win32Timer::setInterval(int milliseconds) {
    interval_ = milliseconds;
    rearm();
}

void Win32Timer::setEnabled(bool enabled) {
    enabled_ = enabled;
    rearm();
}

// Every arming takes a new timer id: a WM_TIMER of the previous arming that
// is still queued then finds no timer and is dropped.
void Win32Timer::rearm() {
    if (id_) {
        platform_.stopTimer(id_);
        id_ = 0;
    }
    if (enabled_ && interval_ > 0) id_ = platform_.startTimer(this, interval_);
}

void Win32Timer::fire() {
    if (!enabled_ || interval_ <= 0) return;
    // A timer never fires inside its own handler, though a handler that
    // waits for events lets the message loop run on.
    if (inCallback_) return;
    inCallback_ = true;
    const platform::Liveness::Watch watch = liveness_.watch();
    if (onTimer) onTimer();
    if (watch.alive()) inCallback_ = false;
}

}  // namespace tempikon::win32
