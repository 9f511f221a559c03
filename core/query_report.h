#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace tempikon::core {

// The line a query-only run prints for a server that gave a valid time:
// "<server>: <time text> -> <corrected> d=<seconds, one decimal>s rtt=<ms>ms".
// The correction is the setting's: the offset in whole minutes; the
// difference is to the clock's time of day, milliseconds included.
std::string QueryReportLine(std::string_view server, std::string_view timeText,
                            int serverSecondsOfDay, float offsetHours,
                            const platform::LocalDateTime& now, std::int64_t roundTripMicros);

}  // namespace tempikon::core
