#include "core/time_text.h"

#include <cstdio>

#include "core/numbers.h"

namespace tempikon::core {

namespace {

constexpr long long kSecondsPerDay = 86'400;

// One or two digits at text[i]; advances i.
std::optional<int> TwoDigits(std::string_view text, std::size_t& i) {
    int value = 0;
    int count = 0;
    while (i < text.size() && count < 2 && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + (text[i] - '0');
        ++i;
        ++count;
    }
    if (count == 0) return std::nullopt;
    return value;
}

}  // namespace

std::optional<int> ParseTimeOfDay(std::string_view text) {
    const std::string t = Trim(text);
    std::size_t i = 0;
    const auto hours = TwoDigits(t, i);
    if (!hours || *hours > 23 || i >= t.size() || t[i] != ':') return std::nullopt;
    ++i;
    const auto minutes = TwoDigits(t, i);
    if (!minutes || *minutes > 59) return std::nullopt;
    int seconds = 0;
    if (i < t.size()) {
        if (t[i] != ':') return std::nullopt;
        ++i;
        const auto s = TwoDigits(t, i);
        if (!s || *s > 59) return std::nullopt;
        seconds = *s;
    }
    if (i != t.size()) return std::nullopt;
    return (*hours * 60 + *minutes) * 60 + seconds;
}

std::string FormatTimeOfDay(int secondsOfDay) {
    long long s = secondsOfDay % kSecondsPerDay;
    if (s < 0) s += kSecondsPerDay;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(s / 3600),
                  static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
    return buf;
}

}  // namespace tempikon::core
