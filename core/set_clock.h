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

// What a setting came to, and the status text that says so (empty when it
// was skipped: nothing is to be reported then).
struct SetResult {
    SetOutcome outcome = SetOutcome::None;
    std::string status;
    // One line for each server that gave no time, "<server>: <reason>".
    std::vector<std::string> failures;
    // How a setting corrected the clock: "step" or "slew"; empty otherwise.
    std::string correction{};
    // The server asked last, as configured (whose time was set, for Set);
    // empty when none was asked.
    std::string server{};
    // For the history: that server's protocol ("Daytime", "NTP", "NTS"),
    // what its time measured (server minus clock) and the round trip.
    std::string protocol{};
    std::optional<std::int64_t> offsetMicros{};
    std::optional<std::int64_t> roundTripMicros{};
    // The subject of the certificate that vouched for an NTS server's
    // time; empty otherwise.
    std::string authenticatedBy{};
};

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
