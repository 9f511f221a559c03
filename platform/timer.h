#pragma once

#include <functional>

namespace tempikon::platform {

// Fires onTimer every interval while enabled and the interval is above 0.
// Setting the interval or enabling restarts the count.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void setInterval(int milliseconds) = 0;
    virtual int interval() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;

    std::function<void()> onTimer;
};

}  // namespace tempikon::platform
