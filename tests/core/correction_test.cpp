#include "core/correction.h"

#include <gtest/gtest.h>

#include <string>

namespace tempikon::core {
namespace {

constexpr std::int64_t kClock = 1'700'000'000'000'000LL;

struct Case {
    std::int64_t offsetMicros;
    const char* rule;
    bool canSlew;
    CorrectionKind kind;
    const char* suffix;
};

TEST(ChooseCorrection, SlewsOnlySmallCorrectionsUnderAutoWhereTheClockCanSlew) {
    const Case cases[] = {
        // The limit, both ways: 399.999 ms slews, 400 ms steps.
        {399'999, "auto", true, CorrectionKind::Slew, " slewed +400 ms"},
        {-399'999, "auto", true, CorrectionKind::Slew, " slewed -400 ms"},
        {399'000, "auto", true, CorrectionKind::Slew, " slewed +399 ms"},
        {-399'000, "auto", true, CorrectionKind::Slew, " slewed -399 ms"},
        {400'000, "auto", true, CorrectionKind::Step, ""},
        {-400'000, "auto", true, CorrectionKind::Step, ""},
        {13'000'000, "auto", true, CorrectionKind::Step, ""},
        // Milliseconds rounded, halves away from zero; none at all unsigned.
        {100'000, "auto", true, CorrectionKind::Slew, " slewed +100 ms"},
        {1'500, "auto", true, CorrectionKind::Slew, " slewed +2 ms"},
        {-1'499, "auto", true, CorrectionKind::Slew, " slewed -1 ms"},
        {-400, "auto", true, CorrectionKind::Slew, " slewed -400 µs"},
        {999, "auto", true, CorrectionKind::Slew, " slewed +999 µs"},
        {1'000, "auto", true, CorrectionKind::Slew, " slewed +1 ms"},
        {0, "auto", true, CorrectionKind::Slew, " slewed 0 µs"},
        // "always" steps whatever the size, blanks and case ignored.
        {100'000, "always", true, CorrectionKind::Step, ""},
        {-1'000, " ALWAYS\t", true, CorrectionKind::Step, ""},
        // The default text, and anything unknown, is auto.
        {100'000, "", true, CorrectionKind::Slew, " slewed +100 ms"},
        {100'000, " Auto ", true, CorrectionKind::Slew, " slewed +100 ms"},
        {100'000, "never", true, CorrectionKind::Slew, " slewed +100 ms"},
        {100'000, "always2", true, CorrectionKind::Slew, " slewed +100 ms"},
        // A clock only the time service sets is stepped.
        {100'000, "auto", false, CorrectionKind::Step, ""},
        {0, "auto", false, CorrectionKind::Step, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.offsetMicros) + " '" + c.rule + "' canSlew " +
                     (c.canSlew ? "yes" : "no"));
        const Correction got = ChooseCorrection(kClock + c.offsetMicros, kClock, c.rule, c.canSlew);
        EXPECT_EQ(got.kind, c.kind);
        EXPECT_EQ(got.offsetMicros, c.offsetMicros);
        EXPECT_EQ(got.statusSuffix, c.suffix);
        EXPECT_EQ(got.word, c.kind == CorrectionKind::Slew ? "slew" : "step");
    }
}

// The offset is the planned instant against the clock's reading, so a
// clock ahead of the server slews back.
TEST(ChooseCorrection, TheOffsetRunsFromTheClockToThePlannedInstant) {
    const Correction back = ChooseCorrection(kClock - 250'000, kClock, "auto", true);
    EXPECT_EQ(back.offsetMicros, -250'000);
    EXPECT_EQ(back.statusSuffix, " slewed -250 ms");
    const Correction stepBack = ChooseCorrection(kClock - 86'400'000'000LL, kClock, "auto", true);
    EXPECT_EQ(stepBack.kind, CorrectionKind::Step);
    EXPECT_EQ(stepBack.offsetMicros, -86'400'000'000LL);
}

}  // namespace
}  // namespace tempikon::core
