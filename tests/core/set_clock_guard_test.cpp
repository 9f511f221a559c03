// A clock that waits for the system to answer (as a password prompt does),
// handling events meanwhile: no second setting may start during that wait.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/set_clock.h"
#include "tests/fake/fake_platform.h"
#include "tests/support/setting_run.h"

namespace tempikon::core {
namespace {

using fake::FakeLabel;
using fake::FakePlatform;
using fake::PeerScript;

class PromptingClock : public platform::Clock {
public:
    explicit PromptingClock(FakePlatform& platform) : platform_(platform) {}
    std::int64_t nowMicros() const override { return platform_.fakeClock().nowMicros(); }
    int utcOffsetSeconds(std::int64_t) const override { return 0; }
    platform::ClockResult setMicros(std::int64_t micros) override {
        const platform::LocalDateTime t = localAt(micros);
        calls.push_back(t.hour * 3600 + t.minute * 60 + t.second);
        bool answered = false;
        platform_.after(answerAfterMs, [&answered] { answered = true; });
        while (!answered) platform_.waitForEvents();
        return result;
    }

    FakePlatform& platform_;
    long long answerAfterMs = 30'000;
    platform::ClockResult result{true, {}};
    std::vector<int> calls;  // seconds of the day asked for
};

class PromptingPlatform : public FakePlatform {
public:
    platform::Clock& clock() override { return prompting; }
    PromptingClock prompting{*this};
};

class ClockWaitTest : public ::testing::Test {
protected:
    ClockWaitTest() {
        config.server = "primary";
        config.timeout = 3;
        platform.fakeClock().setNow(2026, 12, 6, 14, 0, 0);
        platform.script("primary", PeerScript().reply(100, "14:03:27\r\n"));
    }

    PromptingPlatform platform;
    Config config;
    ServerQuery query{platform};
    FakeLabel serverLine;
    FakeLabel outcomeLine;
    ClockSetter setter{platform, query};
    core::SetOutcome runSetting() {
        return tempikon::testing::RunSetting(setter, config, platform, serverLine, outcomeLine);
    }
};

TEST_F(ClockWaitTest, SecondRunDuringTheClockWaitIsSkippedWithoutAQuery) {
    // "&Set time" again and a resident tick, both while the system asks.
    std::vector<SetOutcome> nested;
    std::vector<bool> runningSeen;
    for (long long at : {5'000, 20'000}) {
        platform.after(at, [&] {
            runningSeen.push_back(setter.isRunning());
            nested.push_back(runSetting());
        });
    }

    EXPECT_EQ(runSetting(), SetOutcome::Set);

    EXPECT_EQ(nested, (std::vector<SetOutcome>{SetOutcome::Skipped, SetOutcome::Skipped}));
    EXPECT_EQ(runningSeen, (std::vector<bool>{true, true}));
    EXPECT_EQ(platform.connections, std::vector<std::string>{"primary"});
    EXPECT_EQ(platform.prompting.calls, std::vector<int>{14 * 3600 + 3 * 60 + 27});
    EXPECT_EQ(outcomeLine.history.size(), 1u);
    EXPECT_EQ(outcomeLine.text().rfind("Time set to 14:03:27 d=", 0), 0u) << outcomeLine.text();
    EXPECT_EQ(setter.lastOutcome(), SetOutcome::Set);
    EXPECT_FALSE(setter.isRunning());
}

TEST_F(ClockWaitTest, RunsAgainAfterARefusedSetting) {
    platform.prompting.result = {false, "not authorised"};
    EXPECT_EQ(runSetting(), SetOutcome::Refused);
    EXPECT_EQ(outcomeLine.text(), "Couldn't set system clock: not authorised");
    EXPECT_FALSE(setter.isRunning());

    platform.prompting.result = {true, {}};
    platform.script("primary", PeerScript().reply(100, "15:00:00"));
    EXPECT_EQ(runSetting(), SetOutcome::Set);
    EXPECT_EQ(platform.prompting.calls, (std::vector<int>{50607, 54000}));
    EXPECT_EQ(platform.connections.size(), 2u);
}

TEST_F(ClockWaitTest, RunDuringTheQueryIsSkippedToo) {
    platform.script("primary", PeerScript().reply(2'000, "14:03:27"));
    SetOutcome nested = SetOutcome::None;
    platform.after(1'000, [&] { nested = runSetting(); });
    EXPECT_EQ(runSetting(), SetOutcome::Set);
    EXPECT_EQ(nested, SetOutcome::Skipped);
    EXPECT_EQ(platform.prompting.calls.size(), 1u);
}

TEST_F(ClockWaitTest, WindowClosingWhileTheSystemSetsTheClockReportsNothing) {
    platform.after(5'000, [&] { query.shutdown(); });
    EXPECT_EQ(runSetting(), SetOutcome::Skipped);
    EXPECT_EQ(platform.prompting.calls.size(), 1u);
    EXPECT_TRUE(outcomeLine.history.empty());
    EXPECT_TRUE(platform.output.empty());
    EXPECT_FALSE(setter.isRunning());
}

}  // namespace
}  // namespace tempikon::core
