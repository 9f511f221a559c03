#pragma once

#include <cstdint>
#include <string>

namespace tempikon::core {

// Corrections smaller than this, in magnitude, are slewed when the rule and
// the clock allow it; at the kernel's 500 us a second this one takes 800 s.
inline constexpr std::int64_t kSlewLimitMicros = 400'000;

enum class CorrectionKind { Step, Slew };

struct Correction {
    CorrectionKind kind = CorrectionKind::Step;
    // The planned instant minus the clock's reading: what to step or slew.
    std::int64_t offsetMicros = 0;
    // Follows "Time set to hh:mm:ss d=0s" on the status line: " slewed +100
    // ms" for a slew, empty for a step.
    std::string statusSuffix;
    // The word standard output and /QUERY give: "slew" or "step".
    std::string word;
};

// Step or slew for a setting to plannedMicros when the clock reads
// clockMicros. stepRule is the Step key's text: "always" steps every time;
// "auto" (and anything else, blanks and case ignored) slews what is below
// the limit where the clock can slew.
Correction ChooseCorrection(std::int64_t plannedMicros, std::int64_t clockMicros,
                            const std::string& stepRule, bool canSlew);

}  // namespace tempikon::core
