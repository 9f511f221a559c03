#include "core/second_opinion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "core/rate_backoff.h"

namespace tempikon::core {
namespace {

constexpr std::int64_t kS = 1'000'000;
constexpr std::int64_t kHour = 3600 * kS;
constexpr std::int64_t kDay = 24 * kHour;
// 2026-12-01 and a week later.
constexpr std::int64_t kBuild = 1'796'083'200 * kS;
constexpr std::int64_t kNow = kBuild + 7 * kDay;

TEST(MaxChange, OneServerMovesTheClockWithinTheLimitAndForwardToTheBuildDate) {
    struct Case {
        const char* what;
        std::int64_t now, target;
        std::int32_t maxChange;
        bool within;
    };
    const std::vector<Case> cases = {
        {"no change", kNow, kNow, 1000, true},
        {"1000 s ahead", kNow, kNow + 1000 * kS, 1000, true},
        {"a microsecond more", kNow, kNow + 1000 * kS + 1, 1000, false},
        {"1000 s back", kNow, kNow - 1000 * kS, 1000, true},
        {"2 h ahead", kNow, kNow + 2 * kHour, 1000, false},
        {"20 years ahead", kNow, kNow + 20 * 365 * kDay, 1000, false},
        {"56 years back", kNow, 0, 1000, false},
        {"no limit", kNow, 0, 0, true},
        {"a negative limit is none", kNow, kNow + 9 * kDay, -5, true},
        // A dead battery: the clock reads 1970; the build date is free.
        {"a clock from 1970 to the build date", 0, kBuild, 1000, true},
        {"... and 1000 s beyond it", 0, kBuild + 1000 * kS, 1000, true},
        {"... but not a week beyond it", 0, kNow, 1000, false},
        {"... nor further back", 0, -2000 * kS, 1000, false},
        {"the largest limit", kNow, kNow + 60 * 365 * kDay,
         std::numeric_limits<std::int32_t>::max(), true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WithinMaxChange(c.now, c.target, c.maxChange, kBuild), c.within) << c.what;
}

TEST(MaxChange, ASecondServerConfirmsWithinTwoSecondsAndDaytimeUnderTwelveHours) {
    struct Case {
        const char* what;
        std::int64_t first, second;
        bool knowsTheDate;
        bool confirms;
    };
    const std::vector<Case> cases = {
        {"2 h ahead, agreeing", 2 * kHour, 2 * kHour + kS, true, true},
        {"2 h ahead, 2 s off", 2 * kHour, 2 * kHour - 2 * kS, true, true},
        {"2 h ahead, 2.1 s off", 2 * kHour, 2 * kHour + 2'100'000, true, false},
        {"2 h ahead, the other says no change", 2 * kHour, 0, true, false},
        {"2 h ahead, Daytime agrees", 2 * kHour, 2 * kHour, false, true},
        {"11 h 59 m back, Daytime agrees", -(12 * kHour - 60 * kS), -(12 * kHour - 60 * kS), false,
         true},
        {"12 h: Daytime cannot tell", 12 * kHour, 12 * kHour, false, false},
        {"20 years, NTP agrees", 20 * 365 * kDay, 20 * 365 * kDay + kS, true, true},
        {"20 years, Daytime cannot tell", 20 * 365 * kDay, 20 * 365 * kDay, false, false},
        {"extremes do not overflow", std::numeric_limits<std::int64_t>::min(),
         std::numeric_limits<std::int64_t>::max(), true, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Confirms(c.first, c.second, c.knowsTheDate), c.confirms) << c.what;
}

TEST(MaxChange, TextsSayHowFarAndWhy) {
    EXPECT_EQ(DistanceText(56LL * 31'556'952 * kS + kDay), "56 years");
    EXPECT_EQ(DistanceText(-(2 * kHour + 5 * kS)), "2 hours");
    EXPECT_EQ(DistanceText(119 * 60 * kS), "119 minutes");
    EXPECT_EQ(DistanceText(3 * kDay), "3 days");
    EXPECT_EQ(DistanceText(1001 * kS), "17 minutes");
    EXPECT_EQ(DistanceText(3 * kDay - 1), "3 days");
    EXPECT_EQ(DistanceText(119 * kS), "119 s");
    EXPECT_EQ(DistanceText(std::numeric_limits<std::int64_t>::min()), "292277 years");
    EXPECT_EQ(NotConfirmedText("1970-01-01 00:00:00", -56LL * 31'556'952 * kS, 1000),
              "1970-01-01 00:00:00 is 56 years from this clock; not set: no second server agrees "
              "(MaxChange 1000 s)");
}

TEST(RateBackoff, PausesDoubleFromAMinuteToADayAndAGoodAnswerEndsThem) {
    RateBackoff rates;
    EXPECT_EQ(rates.pauseLeftMicros("a", 0), 0);
    std::int64_t now = 1000 * kS;
    std::vector<std::int64_t> pauses;
    for (int i = 0; i < 13; ++i) {
        rates.kissed("a", now);
        pauses.push_back(rates.pauseMicros("a"));
        EXPECT_EQ(rates.pauseLeftMicros("a", now), pauses.back());
        EXPECT_EQ(rates.pauseLeftMicros("a", now + pauses.back() - 1), 1);
        now += pauses.back();
        EXPECT_EQ(rates.pauseLeftMicros("a", now), 0);
    }
    const std::vector<std::int64_t> expected = {
        64 * kS,   128 * kS,   256 * kS,   512 * kS,   1024 * kS, 2048 * kS, 4096 * kS,
        8192 * kS, 16384 * kS, 32768 * kS, 65536 * kS, kDay,      kDay};
    EXPECT_EQ(pauses, expected);
    // Another server is not paused; a good answer ends the pause and its doubling.
    EXPECT_EQ(rates.pauseLeftMicros("b", now), 0);
    rates.answered("a");
    EXPECT_EQ(rates.pauseLeftMicros("a", now), 0);
    rates.kissed("a", now);
    EXPECT_EQ(rates.pauseMicros("a"), 64 * kS);
    EXPECT_EQ(PauseText(37 * kS - 5), "37 s");
    EXPECT_EQ(PauseText(0), "0 s");
}

}  // namespace
}  // namespace tempikon::core
