#include "core/correction.h"

#include <cctype>
#include <cstdio>

#include "core/numbers.h"

namespace tempikon::core {

namespace {

bool IsAlways(const std::string& rule) {
    std::string text = Trim(rule);
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text == "always";
}

// Whole milliseconds, halves away from zero, with the sign a user reads;
// under a millisecond, whole microseconds (a slew of 0 ms would say nothing).
std::string MillisText(std::int64_t micros) {
    const std::int64_t magnitude = micros < 0 ? -micros : micros;
    if (magnitude == 0) return "0 µs";
    if (magnitude < 1000) {
        char text[32];
        std::snprintf(text, sizeof text, "%c%lld µs", micros < 0 ? '-' : '+',
                      static_cast<long long>(magnitude));
        return text;
    }
    const std::int64_t ms = (magnitude + 500) / 1000;
    // Built in one piece: GCC 12's optimiser warns falsely on "-" + string.
    char text[32];
    std::snprintf(text, sizeof text, "%c%lld ms", micros < 0 ? '-' : '+',
                  static_cast<long long>(ms));
    return text;
}

}  // namespace

Correction ChooseCorrection(std::int64_t plannedMicros, std::int64_t clockMicros,
                            const std::string& stepRule, bool canSlew) {
    Correction c;
    c.offsetMicros = plannedMicros - clockMicros;
    const bool small = c.offsetMicros > -kSlewLimitMicros && c.offsetMicros < kSlewLimitMicros;
    if (small && canSlew && !IsAlways(stepRule)) {
        c.kind = CorrectionKind::Slew;
        c.statusSuffix = " slewed " + MillisText(c.offsetMicros);
        c.word = "slew";
    } else {
        c.word = "step";
    }
    return c;
}

}  // namespace tempikon::core
