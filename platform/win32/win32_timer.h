#pragma once

#include <memory>

#include "platform/reentrance.h"
#include "platform/timer.h"
#include "platform/win32/win32_common.h"

namespace tempikon::win32 {

class Win32Platform;

class Win32Timer : public platform::Timer {
public:
    explicit Win32Timer(Win32Platform& platform) : platform_(platform) {}
    ~Win32Timer() override;
    void setInterval(int milliseconds) override;
    int interval() const override { return interval_; }
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return enabled_; }

    void fire();

private:
    void rearm();

    Win32Platform& platform_;
    int interval_ = 0;
    bool enabled_ = true;  // a fresh timer: enabled, interval 0, silent
    bool inCallback_ = false;
    UINT_PTR id_ = 0;  // 0: not running
    platform::Liveness liveness_;
};

}  // namespace tempikon::win32
