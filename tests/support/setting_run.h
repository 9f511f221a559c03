#pragma once

#include <string>

#include "core/config.h"
#include "core/report.h"
#include "core/set_clock.h"
#include "platform/platform.h"

namespace tempikon::testing {

// One clock setting reported as the main window reports it: the server
// asked on the first status line, the outcome on the second and on
// standard output.
inline core::SetOutcome RunSetting(core::ClockSetter& setter, const core::Config& config,
                                   platform::Platform& platform, platform::Label& serverLine,
                                   platform::Label& outcomeLine) {
    const core::SetResult result =
        setter.run(config, [&](const std::string& server) { serverLine.setText(server); });
    if (!result.status.empty()) {
        outcomeLine.setText(result.status);
        platform.writeOutputLine(core::OutputLine(result));
    }
    return result.outcome;
}

}  // namespace tempikon::testing
