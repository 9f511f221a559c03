#include "app/query_mode.h"

#include "app/command_line.h"
#include "app/main_window.h"
#include "core/config.h"
#include "core/correction.h"
#include "core/query/server_query.h"
#include "core/query_report.h"
#include "core/second_opinion.h"
#include "core/set_clock.h"
#include "core/text.h"
#include "tempikon_version.h"

namespace tempikon::app {

int RunQueryMode(platform::Platform& platform) {
    platform::SettingsStore& store = platform.settings();
    const std::string location = store.locationOf(version::kProductName);
    if (const auto why = store.unreadableReason(version::kProductName)) {
        platform.writeErrorLine(UnreadableSettingsLine(location, *why));
        return kExitNotConfigured;
    }
    const core::Config config = core::LoadConfig(store);
    if (config.server.empty()) {
        platform.writeErrorLine(MissingConfigurationLine(location));
        return kExitNotConfigured;
    }
    // An unknown protocol of the primary is a configuration error too.
    if (const std::string problem = core::ProtocolProblem(config.protocol); !problem.empty()) {
        platform.writeErrorLine("tempikon: " + core::EscapeText(config.server) + ": " + problem);
        return kExitNotConfigured;
    }

    core::ServerQuery query(platform);

    // Returns true when the server answered, with a valid time or not: the
    // backup is asked only when the primary gave no answer.
    int status = kExitNoValidTime;
    // How a setting would correct the clock: "step" or "slew".
    const auto howSet = [&](const core::ClockPlan& plan) {
        platform::Clock& clock = platform.clock();
        return core::ChooseCorrection(plan.micros, clock.nowMicros(), config.step, clock.canSlew())
            .word;
    };
    const auto ask = [&](const core::ServerSpec& server, const std::string& label) {
        const platform::Clock& clock = platform.clock();
        const std::string& host = server.host;
        const core::QueryAnswer answer = query.ask(server, config.timeout);
        for (const std::string& warning : answer.warnings)
            platform.writeErrorLine("tempikon: " + core::EscapeText(host) +
                                    ": the key server warns: " + warning);
        if (!answer.any()) {
            platform.writeOutputLine(label + ": no time");
            platform.writeErrorLine("tempikon: " + core::EscapeText(host) + ": " +
                                    answer.failure.reason);
            return false;
        }
        if (answer.sample) {
            const std::int64_t now = clock.nowMicros();
            const core::ClockPlan plan =
                core::PlanNtpSetting(*answer.sample, server.offsetHours, now, clock);
            // A setting would make this change only when the other server
            // agreed (or, from the window, the user said so).
            std::string secondOpinion;
            if (!core::WithinMaxChange(
                    now, plan.micros, config.maxChange,
                    platform.version().buildSeconds * platform::kMicrosPerSecond))
                secondOpinion =
                    "; needs a second opinion (" + core::DistanceText(plan.micros - now) +
                    " from this clock, MaxChange " + std::to_string(config.maxChange) + " s)";
            platform.writeOutputLine(
                core::NtpReportLine(label, *answer.sample, plan, clock, answer.ntsSubject) + " " +
                howSet(plan) + secondOpinion);
            status = kExitOk;
            return true;
        }
        const std::string& timeText = answer.timeText;
        const auto seconds = core::ParseTimeOfDay(timeText);
        if (!seconds) {
            platform.writeOutputLine(label + ": " + core::QuoteReply(timeText) +
                                     " is not a valid time of day");
            platform.writeErrorLine("tempikon: " + core::EscapeText(host) + ": " +
                                    core::InvalidTimeFailure(timeText).reason);
            return true;
        }
        // The setting's own plan, so that d is the change a setting would make.
        const std::int64_t now = clock.nowMicros();
        const core::ClockPlan plan =
            core::PlanClockSetting(*seconds, server.offsetHours, server.utc, now,
                                   core::ReplyAgeMicros(answer, platform.monotonicMicros()), clock);
        platform.writeOutputLine(
            core::QueryReportLine(label, timeText, plan, now, answer.roundTripMicros) + " " +
            howSet(plan));
        status = kExitOk;
        return true;
    };

    // Names from the settings file reach a terminal: escaped like replies.
    if (!ask(core::PrimaryServer(config), core::EscapeText(config.server)) &&
        !config.server2.empty())
        ask(core::BackupServer(config), core::EscapeText(config.server2) + " (Backup)");
    return status;
}

}  // namespace tempikon::app
