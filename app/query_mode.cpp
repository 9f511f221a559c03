#include "app/query_mode.h"

#include "app/command_line.h"
#include "app/main_window.h"
#include "core/config.h"
#include "core/correction.h"
#include "core/plan.h"
#include "core/query/server_query.h"
#include "core/report.h"
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
    if (config.primary().host.empty()) {
        platform.writeErrorLine(MissingConfigurationLine(location));
        return kExitNotConfigured;
    }
    // An unknown protocol of the primary is a configuration error too.
    if (const std::string problem = core::ProtocolProblem(config.primary().protocol.text());
        !problem.empty()) {
        platform.writeErrorLine("tempikon: " + core::EscapeText(config.primary().host) + ": " +
                                problem);
        return kExitNotConfigured;
    }

    core::ServerQuery query(platform);

    int status = kExitNoValidTime;
    // How a setting would correct the clock: "step" or "slew".
    const auto howSet = [&](const core::ClockPlan& plan) {
        platform::Clock& clock = platform.clock();
        return core::ChooseCorrection(plan.micros, clock.nowMicros(), config.step, clock.canSlew())
            .word;
    };
    const auto report = [&](const core::Turn& turn) {
        const platform::Clock& clock = platform.clock();
        const core::ServerSpec& server = turn.server;
        const core::QueryAnswer& answer = turn.answer;
        // Names from the settings file reach a terminal: escaped like replies.
        const std::string host = core::EscapeText(server.host);
        const std::string label = turn.backup ? host + " (Backup)" : host;
        for (const std::string& warning : answer.warnings)
            platform.writeErrorLine("tempikon: " + host + ": the key server warns: " + warning);
        if (!answer.any()) {
            platform.writeOutputLine(label + ": no time");
            platform.writeErrorLine("tempikon: " + host + ": " + answer.failure.reason);
            return;
        }
        // The setting's own plan, so that d is the change a setting would make.
        const std::int64_t now = clock.nowMicros();
        const std::optional<core::ClockPlan> plan = core::PlanFrom(
            answer, server.offsetHours, server.utc, now, platform.monotonicMicros(), clock);
        if (!plan) {
            platform.writeOutputLine(label + ": " + core::QuoteReply(answer.timeText) +
                                     " is not a valid time of day");
            platform.writeErrorLine("tempikon: " + host + ": " +
                                    core::InvalidTimeFailure(answer.timeText).reason);
            return;
        }
        const std::string line =
            answer.sample
                ? core::NtpReportLine(label, *answer.sample, *plan, clock, answer.ntsSubject)
                : core::QueryReportLine(label, answer.timeText, *plan, now, answer.roundTripMicros);
        // A setting would make a large change only when the other server
        // agreed (or, from the window, the user said so).
        std::string secondOpinion;
        if (answer.hasDate() &&
            !core::WithinMaxChange(now, plan->micros, config.maxChange,
                                   platform.version().buildSeconds * platform::kMicrosPerSecond))
            secondOpinion = "; needs a second opinion (" + core::DistanceText(plan->micros - now) +
                            " from this clock, MaxChange " + std::to_string(config.maxChange) +
                            " s)";
        platform.writeOutputLine(line + " " + howSet(*plan) + secondOpinion);
        status = kExitOk;
    };
    core::AskInTurn(
        query, config, core::kNtpBurstRequests, [](const core::Turn&) {}, report);
    return status;
}

}  // namespace tempikon::app
