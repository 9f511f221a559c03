#include "core/query_report.h"

#include <cstdio>

#include "core/numbers.h"

namespace tempikon::core {

std::string QueryReportLine(std::string_view server, std::string_view timeText,
                            const ClockPlan& plan, std::int64_t nowMicros,
                            std::int64_t roundTripMicros) {
    const std::int64_t dTenths = (plan.micros - nowMicros) / 100'000;  // toward zero, as printed
    const std::int64_t magnitude = dTenths < 0 ? -dTenths : dTenths;
    char d[48];
    std::snprintf(d, sizeof d, "%s%lld.%lld", dTenths < 0 ? "-" : "",
                  static_cast<long long>(magnitude / 10), static_cast<long long>(magnitude % 10));
    const std::string rtt =
        roundTripMicros < 0 ? std::string("?") : std::to_string((roundTripMicros + 500) / 1000);
    return std::string(server) + ": " + Trim(timeText) + " -> " +
           FormatTimeOfDay(plan.localSecondsOfDay) + " d=" + d + "s rtt=" + rtt + "ms";
}

}  // namespace tempikon::core
