#include "core/second_opinion.h"

#include <algorithm>
#include <limits>

namespace tempikon::core {

namespace {

constexpr std::int64_t kSecond = 1'000'000;

std::int64_t Magnitude(std::int64_t micros) {
    if (micros == std::numeric_limits<std::int64_t>::min())
        return std::numeric_limits<std::int64_t>::max();
    return micros < 0 ? -micros : micros;
}

}  // namespace

bool WithinMaxChange(std::int64_t nowMicros, std::int64_t targetMicros,
                     std::int32_t maxChangeSeconds, std::int64_t buildMicros) {
    if (maxChangeSeconds <= 0) return true;
    const std::int64_t limit = std::int64_t{maxChangeSeconds} * kSecond;
    // Compared as differences, which cannot overflow for instants a clock
    // can hold (within a few hundred thousand years of 1970).
    if (targetMicros < nowMicros) return nowMicros - targetMicros <= limit;
    const std::int64_t from = std::max(nowMicros, buildMicros);
    return targetMicros <= from || targetMicros - from <= limit;
}

bool Confirms(std::int64_t firstChangeMicros, std::int64_t secondChangeMicros,
              bool secondKnowsTheDate) {
    if (!secondKnowsTheDate && Magnitude(firstChangeMicros) >= kTimeOfDayReachMicros) return false;
    const long double difference =
        static_cast<long double>(firstChangeMicros) - static_cast<long double>(secondChangeMicros);
    return difference <= kAgreementMicros && difference >= -kAgreementMicros;
}

std::string DistanceText(std::int64_t micros) {
    const std::int64_t seconds = Magnitude(micros) / kSecond;
    struct Unit {
        std::int64_t seconds;
        const char* name;
    };
    // A year of the Gregorian calendar's average length.
    static const Unit kUnits[] = {
        {31'556'952, " years"}, {86'400, " days"}, {3600, " hours"}, {60, " minutes"}};
    // Rounded to the nearest whole unit: 2 days 23:59:59 reads "3 days".
    for (const Unit& unit : kUnits)
        if (seconds >= 2 * unit.seconds)
            return std::to_string((seconds + unit.seconds / 2) / unit.seconds) + unit.name;
    return std::to_string(seconds) + " s";
}

std::string NotConfirmedText(const std::string& serverTime, std::int64_t changeMicros,
                             std::int32_t maxChangeSeconds) {
    return serverTime + " is " + DistanceText(changeMicros) +
           " from this clock; not set: no second server agrees (MaxChange " +
           std::to_string(maxChangeSeconds) + " s)";
}

}  // namespace tempikon::core
