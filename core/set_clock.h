#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/config.h"
#include "core/query/server_query.h"
#include "platform/platform.h"

namespace tempikon::core {

enum class SetOutcome {
    None,          // nothing ran yet
    Set,           // the clock was set
    Unreachable,   // no server gave a time
    InvalidData,   // the text was not a time of day
    Refused,       // the system refused to set the clock
    Skipped,       // another query was waiting, or the window closed
    NotConfirmed,  // a change beyond MaxChange that no second server confirmed
};

// A change beyond MaxChange that no second server confirmed: what the
// user is asked about ("Set time" in the window).
struct LargeChange {
    std::string server;      // the server whose time it is, as configured
    std::string clockTime;   // this clock's local date and time
    std::string serverTime;  // the time the setting would set, the same way
    std::int64_t changeMicros = 0;
    std::int32_t maxChangeSeconds = 0;
};

// The question for the user: both times, how far apart, and why it asks.
std::string LargeChangeQuestion(const LargeChange& change);

// "2026-12-07 12:00:00": a local date and time as the texts show them.
std::string FormatLocalDateTime(const platform::LocalDateTime& t);

// Seconds of the day for "h:m" or "h:m:s" (1-2 digits each, blanks around
// ignored, 0-23/0-59/0-59); nullopt when the text is not such a time.
std::optional<int> ParseTimeOfDay(std::string_view text);

// The status text pieces, pure so that they can be checked from a table.
std::string FormatTimeOfDay(int secondsOfDay);  // "hh:nn:ss", wraps into 0..86399
// Offset in hours -> whole minutes; halves round away from zero.
long long OffsetMinutes(float offsetHours);

// The instants whose local time is secondsOfDay on the local date `day`
// (days since 1970-01-01), earliest first: two in the hour repeated when
// summer time ends; in the hour skipped when it begins, the one instant the
// offset in force before the skip gives (the wall time lands after the gap).
std::vector<std::int64_t> LocalInstants(const platform::Clock& zone, std::int64_t day,
                                        long long secondsOfDay);

// What one setting does: the instant to set, the change it makes (d, whole
// seconds; 1 s either way shows as 0) and the local time of day it shows.
struct ClockPlan {
    std::int64_t micros = 0;
    long long d = 0;
    int localSecondsOfDay = 0;
};

// The server said serverSeconds (time of day); offsetHours is added; utc:
// that time of day is UTC rather than local. Of the instants with that time
// of day yesterday, today or tomorrow, the one nearest the clock's reading
// nowMicros is taken, so the clock never moves by more than 12 hours. The
// instant is the middle of the reported second plus delayMicros (half the
// round trip, plus the time since the reply came).
ClockPlan PlanClockSetting(int serverSeconds, float offsetHours, bool utc, std::int64_t nowMicros,
                           std::int64_t delayMicros, const platform::Clock& zone);

// An NTP sample and the offset in hours give the instant to set: the
// clock's reading nowMicros plus the sample's offset, whatever the date.
// d is the change rounded to whole seconds.
ClockPlan PlanNtpSetting(const ntp::Sample& sample, float offsetHours, std::int64_t nowMicros,
                         const platform::Clock& zone);

// How much older the last reply is than now (monotonicNow): half its round
// trip, plus the time since its first data came (a reply in pieces); 0
// when no data came.
std::int64_t ReplyAgeMicros(const QueryAnswer& answer, std::int64_t monotonicNow);

// What a setting came to, and the status text that says so (empty when it
// was skipped: nothing is to be reported then).
struct SetResult {
    SetOutcome outcome = SetOutcome::None;
    std::string status;
    // One line for each server that gave no time, "<server>: <reason>".
    std::vector<std::string> failures;
    // How a setting corrected the clock: "step" or "slew"; empty otherwise.
    std::string correction{};
    // The server whose time was set, as configured; empty otherwise.
    std::string server{};
};

// The line standard output gets for a result: the status, and for a
// setting how it was made, e.g. "Time set to 12:00:00 d=0s slewed +100 ms
// (slew)".
std::string OutputLine(const SetResult& result);

// Sets the clock from the primary server, else from the backup.
class ClockSetter {
public:
    ClockSetter(platform::Platform& platform, ServerQuery& query);

    // config is the configuration in force and is read again after every
    // wait: the dialog may change it meanwhile. onAsking hears each server
    // as it is asked, the backup as "<host> (Backup)". An NTP or NTS answer
    // that would move the clock beyond config.maxChange (forward from the
    // build date when the clock reads earlier) is set only when the other
    // configured server agrees within 2 s; otherwise askUser, when given,
    // decides (true: set), else nothing is set.
    SetResult run(const Config& config, const std::function<void(const std::string&)>& onAsking,
                  const std::function<bool(const LargeChange&)>& askUser = {});
    SetOutcome lastOutcome() const { return last_; }
    // A run is under way, possibly waiting for the system to set the clock
    // (a password prompt), with window events flowing.
    bool isRunning() const { return running_; }

private:
    // Asks the other configured server whether it agrees with a change of
    // the clock by changeMicros; reasons when it does not go to failures.
    bool secondOpinion(const Config& config, bool firstWasBackup, std::int64_t changeMicros,
                       std::vector<std::string>& failures,
                       const std::function<void(const std::string&)>& onAsking);

    platform::Platform& platform_;
    ServerQuery& query_;
    SetOutcome last_ = SetOutcome::None;
    bool running_ = false;
};

}  // namespace tempikon::core
