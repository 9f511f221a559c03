#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/set_clock.h"
#include "core/text.h"

namespace tempikon::core {

// The line a query-only run prints for a server that gave a valid time:
// "<server>: <time text> -> <corrected> d=<seconds, one decimal>s rtt=<ms>ms".
// The corrected time is the local time of day the setting would show; the
// difference is the plan's instant minus the clock's reading nowMicros.
std::string QueryReportLine(std::string_view server, std::string_view timeText,
                            const ClockPlan& plan, std::int64_t nowMicros,
                            std::int64_t roundTripMicros);

// The line for a server that gave an NTP sample: "<server>: NTP stratum=<n>
// offset=<+-s.uuuuuu>s rtt=<ms.mmm>ms leap=<n> -> <local date and time the
// setting would set, to the millisecond>". An NTS sample says "NTS" and,
// before the arrow, cert="<the certificate's subject>".
std::string NtpReportLine(std::string_view server, const ntp::Sample& sample, const ClockPlan& plan,
                          const platform::Clock& zone, std::string_view ntsSubject = {});

}  // namespace tempikon::core
