#pragma once

#include <cstdint>
#include <string>

// How far one server alone may move the clock, and when another server's
// answer confirms a larger change. Pure: instants in, verdicts and texts out.
namespace tempikon::core {

// Two servers agree when the changes they would make differ by this at most.
inline constexpr std::int64_t kAgreementMicros = 2'000'000;
// A server that tells the time of day only (Daytime) is read nearest this
// clock, so it can confirm a change under half a day, never a date.
inline constexpr std::int64_t kTimeOfDayReachMicros = 12LL * 3600 * 1'000'000;

// Whether one server may move the clock from nowMicros to targetMicros on
// its own: back by maxChangeSeconds at most, and forward by that much from
// the later of this clock and the build date (a clock that reads before
// the program was made is known to be wrong). maxChangeSeconds 0 (or
// below): any change.
bool WithinMaxChange(std::int64_t nowMicros, std::int64_t targetMicros,
                     std::int32_t maxChangeSeconds, std::int64_t buildMicros);

// Whether a second server confirms a change: the change it would make
// (secondChangeMicros) lies within kAgreementMicros of the first's. A
// server that knows the time of day only confirms a change under
// kTimeOfDayReachMicros.
bool Confirms(std::int64_t firstChangeMicros, std::int64_t secondChangeMicros,
              bool secondKnowsTheDate);

// A distance in the largest unit that still counts two or more of it,
// rounded to the nearest: "56 years", "3 days", "2 hours", "17 minutes", "45 s".
std::string DistanceText(std::int64_t micros);

// Why a change was not made: "2082-12-07 12:00:00 is 56 years from this
// clock; not set: no second server agrees (MaxChange 1000 s)". serverTime
// is the time the server gave, as shown to the user.
std::string NotConfirmedText(const std::string& serverTime, std::int64_t changeMicros,
                             std::int32_t maxChangeSeconds);

}  // namespace tempikon::core
