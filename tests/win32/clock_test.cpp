// The Win32 clock's slew: the rate it asks for, how long it keeps it, and
// that the rate always goes back. The rate calls are recorded here, never
// made, except in the last test, which runs Wine's own.
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/win32_clock.h"
#include "tests/win32/backend_fixture.h"

namespace tempikon::win32::test {
namespace {

// Windows' legacy period: 15.625 ms in 100 ns units.
constexpr std::uint64_t kLegacy = 156'250;

struct RecordedRate {
    std::uint64_t normal = kLegacy;
    unsigned long error = 0;  // for every call that is not a restore
    std::vector<std::uint64_t> advances;

    RateCalls calls() {
        return {[this] { return normal; },
                [this](std::uint64_t advance) {
                    advances.push_back(advance);
                    return advance == 0 ? 0ul : error;
                }};
    }
};

using ClockSlew = Backend;

TEST_F(ClockSlew, RunsTheClockFiveHundredMicrosecondsASecondFastOrSlow) {
    struct Case {
        std::uint64_t normal;
        std::int64_t offset;
        std::uint64_t advance;
    };
    const Case cases[] = {
        {kLegacy, 100'000, kLegacy + 78},  // 78.125 rounded
        {kLegacy, -100'000, kLegacy - 78}, {kLegacy, -399'000, kLegacy - 78},
        {10'000'000, 1'000, 10'005'000},   {100'000, -5, 99'950},
        {1'000, 300'000, 1'001},  // never less than one unit
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.normal) + " " + std::to_string(c.offset));
        RecordedRate rate;
        rate.normal = c.normal;
        {
            Win32Clock clock(platform, rate.calls());
            EXPECT_TRUE(clock.canSlew());
            EXPECT_TRUE(clock.slewMicros(c.offset).ok);
            ASSERT_EQ(rate.advances.size(), 1u);
            EXPECT_EQ(rate.advances[0], c.advance);
        }
        // Cut short by the program's end: the rate goes back.
        EXPECT_EQ(rate.advances, (std::vector<std::uint64_t>{c.advance, 0}));
    }
}

// +50 us at 78/156250 takes 100.2 ms; the rate must go back then, and a
// new slew replaces the long one before it, timer and all.
TEST_F(ClockSlew, TheRateGoesBackWhenTheSlewIsDone) {
    struct Case {
        std::vector<std::int64_t> offsets;
        std::vector<std::uint64_t> advances;
    };
    const Case cases[] = {
        {{50}, {kLegacy + 78, 0}},
        {{-50}, {kLegacy - 78, 0}},
        {{300'000, -50}, {kLegacy + 78, kLegacy - 78, 0}},
    };
    for (const Case& c : cases) {
        RecordedRate rate;
        Win32Clock clock(platform, rate.calls());
        for (const std::int64_t offset : c.offsets) ASSERT_TRUE(clock.slewMicros(offset).ok);
        EXPECT_TRUE(waitUntil([&] { return rate.advances.size() >= c.advances.size(); }, 5000));
        settle(300);  // and nothing after
        EXPECT_EQ(rate.advances, c.advances);
    }
}

TEST_F(ClockSlew, AZeroSlewEndsTheOneInProgress) {
    RecordedRate rate;
    Win32Clock clock(platform, rate.calls());
    ASSERT_TRUE(clock.slewMicros(-200'000).ok);
    ASSERT_TRUE(clock.slewMicros(0).ok);
    EXPECT_EQ(rate.advances, (std::vector<std::uint64_t>{kLegacy - 78, 0}));
    settle(200);
    EXPECT_EQ(rate.advances.size(), 2u);
}

TEST_F(ClockSlew, ARefusalGivesTheSystemsReasonAndLeavesOnlySteps) {
    struct Case {
        std::uint64_t normal;
        unsigned long error;
    };
    for (const Case c : {Case{kLegacy, ERROR_PRIVILEGE_NOT_HELD}, Case{0, 0}}) {
        RecordedRate rate;
        rate.normal = c.normal;
        rate.error = c.error;
        Win32Clock clock(platform, rate.calls());
        const platform::ClockResult result = clock.slewMicros(100'000);
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.reason.empty());
        EXPECT_FALSE(clock.canSlew());
        settle(150);
        for (const std::uint64_t advance : rate.advances) EXPECT_NE(advance, 0u) << "no restore";
    }
}

// The system's own calls, passed through and watched. Wine has only the
// older call, accepts it and keeps the rate as it was; it runs without the
// right to change the host's clock (scripts/win32-wine.sh).
TEST_F(ClockSlew, TheSystemsCallAcceptsTheSlewAndItsEnd) {
    const RateCalls system = SystemRateCalls();
    const std::uint64_t normal = system.normalAdvance();
    ASSERT_GT(normal, 0u);
    std::vector<std::pair<std::uint64_t, unsigned long>> made;
    RateCalls watched{system.normalAdvance, [&](std::uint64_t advance) {
                          const unsigned long error = system.setAdvance(advance);
                          made.emplace_back(advance, error);
                          return error;
                      }};
    Win32Clock clock(platform, watched);
    const platform::ClockResult result = clock.slewMicros(50);
    ASSERT_TRUE(result.ok) << result.reason;
    EXPECT_TRUE(waitUntil([&] { return made.size() >= 2; }, 5000));
    const std::uint64_t change = std::max<std::uint64_t>(1, (normal * 500 + 500'000) / 1'000'000);
    EXPECT_EQ(made,
              (std::vector<std::pair<std::uint64_t, unsigned long>>{{normal + change, 0}, {0, 0}}));
}

}  // namespace
}  // namespace tempikon::win32::test
