#pragma once

#include "platform/clock.h"

namespace tempikon::win32 {

class Win32Clock : public platform::Clock {
public:
    platform::LocalDateTime now() const override;
    platform::ClockResult setLocalTimeOfDay(int hour, int minute, int second) override;
};

}  // namespace tempikon::win32
