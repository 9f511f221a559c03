#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/ntp_packet.h"
#include "core/plan.h"
#include "core/set_clock.h"
#include "platform/clock.h"

namespace tempikon::core {

// The lines a setting and a query-only run write.

// The line standard output gets for a result: the status, and for a
// setting how it was made, e.g. "Time set to 12:00:00 d=0s slewed +100 ms
// (slew)".
std::string OutputLine(const SetResult& result);

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
