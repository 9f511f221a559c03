#include "app/query_mode.h"

#include "app/command_line.h"
#include "app/main_window.h"
#include "core/config.h"
#include "core/daytime_query.h"
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

    const auto timer = platform.createTimer();
    const auto socket = platform.createTcpClient();
    core::DaytimeQuery query(platform, *timer, *socket);

    // Returns true when the server gave a time text, valid or not: the
    // backup is asked only when the primary gave none.
    int status = kExitNoValidTime;
    const auto ask = [&](const std::string& host, const std::string& label, float offset,
                         const std::string& zone) {
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
        const platform::Clock& clock = platform.clock();
        const std::int64_t now = clock.nowMicros();
        const core::ClockPlan plan =
            core::PlanClockSetting(*seconds, offset, core::IsUtcZone(zone), now,
                                   core::ReplyAgeMicros(query, platform.monotonicMicros()), clock);
        platform.writeOutputLine(
            core::QueryReportLine(label, timeText, plan, now, query.lastRoundTripMicros()));
        status = kExitOk;
        return true;
    };

    // Names from the settings file reach a terminal: escaped like replies.
    const std::string primary = core::EscapeText(config.server);
    if (!ask(config.server, primary, config.offset, config.zone) && !config.server2.empty())
        ask(config.server2, core::EscapeText(config.server2) + " (Backup)", config.offset2,
            config.zone2);
    return status;
}

}  // namespace tempikon::app
