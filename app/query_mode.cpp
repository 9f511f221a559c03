#include "app/query_mode.h"

#include "app/command_line.h"
#include "app/main_window.h"
#include "core/config.h"
#include "core/correction.h"
#include "core/daytime_query.h"
#include "core/ntp_query.h"
#include "core/query_report.h"
#include "core/set_clock.h"
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

    const auto timer = platform.createTimer();
    const auto socket = platform.createTcpClient();
    core::DaytimeQuery query(platform, *timer, *socket);

    // Returns true when the server answered, with a valid time or not: the
    // backup is asked only when the primary gave no answer.
    int status = kExitNoValidTime;
    // How a setting would correct the clock: "step" or "slew".
    const auto howSet = [&](const core::ClockPlan& plan) {
        platform::Clock& clock = platform.clock();
        return core::ChooseCorrection(plan.micros, clock.nowMicros(), config.step, clock.canSlew())
            .word;
    };
    const auto ask = [&](const std::string& host, const std::string& label,
                         const std::string& protocol, float offset, const std::string& zone,
                         const std::string& trustFile) {
        const platform::Clock& clock = platform.clock();
        const std::string problem = core::ProtocolProblem(protocol);
        if (!problem.empty()) {
            platform.writeOutputLine(label + ": no time");
            platform.writeErrorLine("tempikon: " + core::EscapeText(host) + ": " + problem);
            return false;
        }
        const std::optional<core::Protocol> kind = core::ParseProtocol(protocol);
        if (kind == core::Protocol::Ntp || kind == core::Protocol::Nts) {
            const auto sample =
                kind == core::Protocol::Nts
                    ? query.askNts(host, config.timeout, core::kNtpBurstRequests, trustFile)
                    : query.askNtp(host, config.timeout, core::kNtpBurstRequests);
            for (const std::string& warning : query.lastNtsWarnings())
                platform.writeErrorLine("tempikon: " + core::EscapeText(host) +
                                        ": the key server warns: " + warning);
            if (!sample) {
                platform.writeOutputLine(label + ": no time");
                platform.writeErrorLine("tempikon: " + core::EscapeText(host) + ": " +
                                        query.lastFailure().reason);
                return false;
            }
            const core::ClockPlan plan =
                core::PlanNtpSetting(*sample, offset, clock.nowMicros(), clock);
            platform.writeOutputLine(
                core::NtpReportLine(label, *sample, plan, clock, query.lastNtsSubject()) + " " +
                howSet(plan));
            status = kExitOk;
            return true;
        }
        const std::string timeText = query.ask(host, config.timeout);
        if (timeText.empty()) {
            platform.writeOutputLine(label + ": no time");
            platform.writeErrorLine("tempikon: " + core::EscapeText(host) + ": " +
                                    query.lastFailure().reason);
            return false;
        }
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
            core::PlanClockSetting(*seconds, offset, core::IsUtcZone(zone), now,
                                   core::ReplyAgeMicros(query, platform.monotonicMicros()), clock);
        platform.writeOutputLine(
            core::QueryReportLine(label, timeText, plan, now, query.lastRoundTripMicros()) + " " +
            howSet(plan));
        status = kExitOk;
        return true;
    };

    // Names from the settings file reach a terminal: escaped like replies.
    if (!ask(config.server, core::EscapeText(config.server), config.protocol, config.offset,
             config.zone, config.trustedCertificates) &&
        !config.server2.empty())
        ask(config.server2, core::EscapeText(config.server2) + " (Backup)", config.protocol2,
            config.offset2, config.zone2, config.trustedCertificates2);
    return status;
}

}  // namespace tempikon::app
