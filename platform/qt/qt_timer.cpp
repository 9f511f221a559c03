#include "platform/qt/qt_timer.h"

#include <QTimer>

namespace tempikon::qt {

QtTimer::QtTimer() : timer_(new QTimer) {
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setSingleShot(false);
    QObject::connect(timer_, &QTimer::timeout, timer_, [this] { fire(); });
}

QtTimer::~QtTimer() {
    liveness_.end();
    timer_->stop();
    timer_->disconnect();
    // Destroyed from inside its own tick (through a nested loop): the QTimer
    // is still on the stack and goes once control has left it.
    if (inCallback_) {
        timer_->deleteLater();
    } else {
        delete timer_;
    }
}

void QtTimer::setInterval(int milliseconds) {
    interval_ = milliseconds;
    rearm();
}

void QtTimer::setEnabled(bool enabled) {
    enabled_ = enabled;
    rearm();
}

bool QtTimer::isCounting() const {
    return timer_->isActive();
}

void QtTimer::rearm() {
    timer_->stop();
    if (enabled_ && interval_ > 0) timer_->start(interval_);
}

void QtTimer::fire() {
    if (inCallback_ || !onTimer) return;
    inCallback_ = true;
    const platform::Liveness::Watch watch = liveness_.watch();
    const auto handler = onTimer;
    handler();
    if (watch.alive()) inCallback_ = false;
}

}  // namespace tempikon::qt
