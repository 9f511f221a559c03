#include "core/report.h"

#include <cstdio>

#include "core/numbers.h"
#include "core/text.h"
#include "core/time_text.h"

namespace tempikon::core {

std::string OutputLine(const SetResult& result) {
    if (result.correction.empty()) return result.status;
    return result.status + " (" + result.correction + ")";
}

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

std::string NtpReportLine(std::string_view server, const ntp::Sample& sample, const ClockPlan& plan,
                          const platform::Clock& zone, std::string_view ntsSubject) {
    const std::int64_t offset = sample.offsetMicros;
    const std::uint64_t magnitude =
        offset < 0 ? 0 - static_cast<std::uint64_t>(offset) : static_cast<std::uint64_t>(offset);
    const platform::LocalDateTime t = zone.localAt(plan.micros);
    char head[16];
    std::snprintf(head, sizeof head, ": %s stratum=", ntsSubject.empty() ? "NTP" : "NTS");
    char numbers[128];
    std::snprintf(numbers, sizeof numbers, "%d offset=%c%llu.%06llus rtt=%lld.%03lldms leap=%d",
                  sample.stratum, offset < 0 ? '-' : '+',
                  static_cast<unsigned long long>(magnitude / 1'000'000),
                  static_cast<unsigned long long>(magnitude % 1'000'000),
                  static_cast<long long>(sample.delayMicros / 1000),
                  static_cast<long long>(sample.delayMicros % 1000), sample.leap);
    char when[48];
    std::snprintf(when, sizeof when, " -> %04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, t.millisecond);
    // Who vouched for the time; the subject comes from the server: escaped.
    const std::string cert =
        ntsSubject.empty() ? std::string() : " cert=\"" + EscapeText(ntsSubject) + "\"";
    return std::string(server) + head + numbers + cert + when;
}

}  // namespace tempikon::core
