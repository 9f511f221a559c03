#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/daytime_query.h"
#include "core/public_stuff.h"
#include "platform/platform.h"

namespace tempikon::core {

enum class SetOutcome {
    None,         // nothing ran yet
    Set,          // the clock was set
    Unreachable,  // no server gave a time
    InvalidData,  // the text was not a time of day
    Refused,      // the system refused to set the clock
    Skipped,      // another query was waiting, or the window closed
};

// Seconds of the day for "h:m" or "h:m:s" (1-2 digits each, blanks around
// ignored, 0-23/0-59/0-59); nullopt when the text is not such a time.
std::optional<int> ParseTimeOfDay(std::string_view text);

// The status text pieces, pure so that they can be checked from a table.
std::string FormatTimeOfDay(int secondsOfDay);  // "hh:nn:ss", wraps into 0..86399
// Offset in hours -> whole minutes; halves round away from zero.
long long OffsetMinutes(float offsetHours);

// SetClockFromServer with its two status lines. Label2 changes once per run;
// every outcome text is also written to standard output.
class ClockSetter {
public:
    ClockSetter(platform::Platform& platform, PublicStuff& stuff, DaytimeQuery& query,
                platform::Label& label1, platform::Label& label2);

    SetOutcome SetClockFromServer();
    SetOutcome lastOutcome() const { return last_; }
    // A run is under way, possibly waiting for the system to set the clock
    // (a password prompt), with window events flowing.
    bool isRunning() const { return running_; }

private:
    platform::Platform& platform_;
    PublicStuff& stuff_;
    DaytimeQuery& query_;
    platform::Label& label1_;
    platform::Label& label2_;
    SetOutcome last_ = SetOutcome::None;
    bool running_ = false;
};

}  // namespace tempikon::core
