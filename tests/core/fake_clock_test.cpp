// The fake clock's slew, which the resident-mode tests rely on to see the
// clock converge as the real one does.
#include <gtest/gtest.h>

#include <string>

#include "tests/fake/fake_platform.h"

namespace tempikon::fake {
namespace {

class FakeClockSlew : public ::testing::Test {
protected:
    FakePlatform platform;
    FakeClock& clock = platform.fakeClock();

    void SetUp() override {
        clock.setNowUtc(2026, 3, 1, 12, 0, 0);
        clock.slewable = true;
    }
    // The reading against the clock's unslewed run since virtual time startMs.
    std::int64_t movedSince(std::int64_t startReading, long long startMs) const {
        return clock.nowMicros() - startReading - (platform.nowMs() - startMs) * 1000;
    }
};

TEST_F(FakeClockSlew, MovesAtFiveHundredMicrosecondsASecondUntilTheOffsetIsReached) {
    struct Case {
        std::int64_t offset;
        long long afterMs;
        std::int64_t moved;
    };
    const Case cases[] = {
        {100'000, 0, 0},
        {100'000, 1'000, 500},
        {100'000, 199'000, 99'500},
        {100'000, 200'000, 100'000},
        {100'000, 900'000, 100'000},
        {-100'000, 1'000, -500},
        {-100'000, 400'000, -100'000},
        {-399'000, 797'000, -398'500},
        {50, 60'000, 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.offset) + " after " + std::to_string(c.afterMs) + " ms");
        clock.setNowUtc(2026, 3, 1, 12, 0, 0);
        const std::int64_t start = clock.nowMicros();
        const long long startMs = platform.nowMs();
        ASSERT_TRUE(clock.slewMicros(c.offset).ok);
        platform.advance(c.afterMs);
        EXPECT_EQ(movedSince(start, startMs), c.moved);
        EXPECT_EQ(clock.slewLeftMicros(), c.offset - c.moved);
    }
}

TEST_F(FakeClockSlew, ANewSlewReplacesWhatIsLeftAndASettingEndsIt) {
    const std::int64_t start = clock.nowMicros();
    const long long startMs = platform.nowMs();
    ASSERT_TRUE(clock.slewMicros(100'000).ok);
    platform.advance(100'000);  // half of it done
    ASSERT_TRUE(clock.slewMicros(-20'000).ok);
    ASSERT_EQ(clock.slews.size(), 2u);
    EXPECT_EQ(clock.slews[1].leftMicros, 50'000);
    EXPECT_EQ(clock.slews[1].atMs, startMs + 100'000);
    platform.advance(1'000'000);
    EXPECT_EQ(movedSince(start, startMs), 30'000);

    ASSERT_TRUE(clock.slewMicros(80'000).ok);
    platform.advance(10'000);
    const std::int64_t target = clock.nowMicros() + 3'000'000;
    ASSERT_TRUE(clock.setMicros(target).ok);
    platform.advance(500'000);
    EXPECT_EQ(clock.nowMicros(), target + 500'000'000);
    EXPECT_EQ(clock.slewLeftMicros(), 0);
}

TEST_F(FakeClockSlew, ARefusedSlewLeavesTheClockAndTheSlewInProgress) {
    ASSERT_TRUE(clock.slewMicros(10'000).ok);
    platform.advance(4'000);
    clock.refuseSlewWith = "Operation not permitted";
    const std::int64_t before = clock.nowMicros();
    const platform::ClockResult result = clock.slewMicros(-300'000);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, "Operation not permitted");
    EXPECT_FALSE(clock.canSlew());
    EXPECT_EQ(clock.nowMicros(), before);
    EXPECT_EQ(clock.slewLeftMicros(), 8'000);
}

}  // namespace
}  // namespace tempikon::fake
