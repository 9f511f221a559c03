#include "core/query_report.h"

#include <cstdio>

#include "core/numbers.h"
#include "core/set_clock.h"

namespace tempikon::core {

std::string QueryReportLine(std::string_view server, std::string_view timeText,
                            int serverSecondsOfDay, float offsetHours,
                            const platform::LocalDateTime& now, std::int64_t roundTripMicros) {
    const long long t = serverSecondsOfDay + OffsetMinutes(offsetHours) * 60;
    const long long clockMs =
        ((now.hour * 60LL + now.minute) * 60 + now.second) * 1000 + now.millisecond;
    const long long dTenths = (t * 1000 - clockMs) / 100;  // toward zero, as printed
    char d[48];
    std::snprintf(d, sizeof d, "%s%lld.%lld", dTenths < 0 ? "-" : "",
                  (dTenths < 0 ? -dTenths : dTenths) / 10, (dTenths < 0 ? -dTenths : dTenths) % 10);
    long long timeOfDay = t % 86'400;
    if (timeOfDay < 0) timeOfDay += 86'400;
    const std::string rtt =
        roundTripMicros < 0 ? std::string("?") : std::to_string((roundTripMicros + 500) / 1000);
    return std::string(server) + ": " + Trim(timeText) + " -> " +
           FormatTimeOfDay(static_cast<int>(timeOfDay)) + " d=" + d + "s rtt=" + rtt + "ms";
}

}  // namespace tempikon::core
