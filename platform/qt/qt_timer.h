#pragma once

#include <memory>

#include "platform/reentrance.h"
#include "platform/timer.h"

class QTimer;

namespace tempikon::qt {

// A repeating precise QTimer with the enabled flag kept apart from the
// interval, as the window timer it stands for has them. A tick that falls
// due while the handler still runs (inside a nested loop) is dropped.
class QtTimer : public platform::Timer {
public:
    QtTimer();
    ~QtTimer() override;
    QtTimer(const QtTimer&) = delete;
    QtTimer& operator=(const QtTimer&) = delete;

    void setInterval(int milliseconds) override;
    int interval() const override { return interval_; }
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return enabled_; }

    // Whether the underlying timer is counting (enabled with an interval).
    bool isCounting() const;

private:
    void rearm();
    void fire();

    QTimer* timer_;
    int interval_ = 0;
    bool enabled_ = true;
    bool inCallback_ = false;
    platform::Liveness liveness_;
};

}  // namespace tempikon::qt
