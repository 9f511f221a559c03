// The resident mode's minute tick: the schedule, the postponement while the
// configuration dialog is shown, and the one-query-at-a-time decisions.
#include <cstdint>
#include <functional>
#include <limits>

#include "tests/app/app_fixture.h"

namespace tempikon::app::testing {
namespace {

using fake::FakeWindow;
using fake::PeerScript;

constexpr long long kMinute = 60000;

struct SchedulerTest : AppFixture {
    // Resident start with a server that answers at once, so that the ticks
    // fall on whole minutes.
    void startResident(const std::string& interval) {
        configure(kPrimary, interval);
        platform.script(kPrimary, PeerScript().reply(0, kReply));
        start("/SERVER");
    }

    // Runs ticks 1..n; returns the ticks that made a setting. after(k) runs
    // once tick k has been handled.
    std::vector<int> runTicks(int n, const std::function<void(int)>& after = {}) {
        std::vector<int> withSetting;
        auto& timer = fake::as<fake::FakeTimer>(form->minuteTimer());
        const int fired = timer.fireCount;
        for (int k = 1; k <= n; ++k) {
            const std::size_t before = settingsMade();
            platform.advance(kMinute);
            EXPECT_EQ(timer.fireCount, fired + k) << "tick " << k;
            if (settingsMade() > before) withSetting.push_back(k);
            if (after) after(k);
        }
        return withSetting;
    }

    void closeSettings() { fake::as<FakeWindow>(form->configDialog()->window()).userClose(); }
};

TEST_F(SchedulerTest, TimelineForEachInterval) {
    struct Case {
        const char* interval;
        int ticks;
        std::vector<int> expected;
    } cases[] = {
        {"30", 95, {30, 60, 90}},   {"1", 5, {1, 2, 3, 4, 5}}, {"0", 5, {1, 2, 3, 4, 5}},
        {"-7", 5, {1, 2, 3, 4, 5}}, {"3", 10, {3, 6, 9}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.interval);
        form.reset();
        platform.fakeClock().settings.clear();
        startResident(c.interval);
        // The first setting is made by the start-up itself.
        EXPECT_EQ(settingsMade(), 1u);
        EXPECT_EQ(runTicks(c.ticks), c.expected);
        EXPECT_EQ(form->minuteTimer().interval(), 60000);
        EXPECT_TRUE(form->minuteTimer().isEnabled());
    }
}

TEST_F(SchedulerTest, CountsDownToTheReload) {
    startResident("30");
    EXPECT_EQ(form->minutesLeft(), 30);
    std::vector<std::int32_t> counts;
    runTicks(31, [&](int) { counts.push_back(form->minutesLeft()); });
    EXPECT_EQ(counts[0], 29);
    EXPECT_EQ(counts[28], 1);
    EXPECT_EQ(counts[29], 30);  // tick 30: reached 0, set, reloaded
    EXPECT_EQ(counts[30], 29);
}

TEST_F(SchedulerTest, FailedSettingsKeepTheSchedule) {
    configure(kPrimary, "30");
    platform.script(kPrimary, PeerScript().error(0));
    start("/SERVER");
    EXPECT_EQ(form->outcomeLine().text(), "Couldn't reach timeserver(s)");
    std::vector<int> withQuery;
    auto& timer = fake::as<fake::FakeTimer>(form->minuteTimer());
    for (int k = 1; k <= 61; ++k) {
        const std::size_t before = platform.connections.size();
        platform.advance(kMinute);
        ASSERT_EQ(timer.fireCount, k);
        if (platform.connections.size() > before) withQuery.push_back(k);
    }
    EXPECT_EQ(withQuery, (std::vector<int>{30, 60}));
}

TEST_F(SchedulerTest, ShownDialogPostponesTheSettingUntilItCloses) {
    startResident("30");
    const auto ticks = runTicks(80, [&](int k) {
        if (k == 5) {
            click(form->configurationItem());
            ASSERT_TRUE(form->configDialogShown());
        }
        if (k == 30) {
            EXPECT_EQ(form->minutesLeft(), 0);
        }
        if (k == 40) {
            EXPECT_EQ(form->minutesLeft(), -10);
            platform.advance(kMinute / 2);
            closeSettings();
        }
    });
    EXPECT_EQ(ticks, (std::vector<int>{41, 71}));
}

TEST_F(SchedulerTest, DialogOpenedAndClosedBetweenTicksChangesNothing) {
    startResident("30");
    const auto ticks = runTicks(61, [&](int k) {
        if (k != 10) return;
        platform.advance(10000);
        click(form->configurationItem());
        platform.advance(30000);
        closeSettings();
    });
    EXPECT_EQ(ticks, (std::vector<int>{30, 60}));
}

TEST_F(SchedulerTest, AboutBoxDoesNotPostpone) {
    startResident("30");
    const auto ticks = runTicks(31, [&](int k) {
        if (k == 5) click(form->aboutItem());
    });
    EXPECT_NE(form->aboutBox(), nullptr);
    EXPECT_EQ(ticks, std::vector<int>{30});
}

TEST_F(SchedulerTest, NewIntervalAppliesFromTheNextReload) {
    startResident("30");
    const auto ticks = runTicks(41, [&](int k) {
        if (k != 10) return;
        ASSERT_EQ(form->minutesLeft(), 20);
        // The user changes the interval in the dialog.
        click(form->configurationItem());
        ASSERT_NE(form->configDialog(), nullptr);
        form->configDialog()->intervalField().setText("5");
        fake::as<fake::FakeButton>(form->configDialog()->okButton()).click();
        ASSERT_EQ(form->config().interval, 5);
    });
    EXPECT_EQ(ticks, (std::vector<int>{30, 35, 40}));
}

TEST_F(SchedulerTest, TicksNeverCreateTheDialogNorReadFiles) {
    startResident("1");
    const std::size_t windows = platform.windows.size();
    runTicks(10);
    EXPECT_EQ(platform.windows.size(), windows);
    EXPECT_EQ(form->configDialog(), nullptr);
    EXPECT_TRUE(platform.filesRead.empty());
}

TEST_F(SchedulerTest, CountStopsAtTheSmallestValue) {
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    startResident("-2147483648");
    EXPECT_EQ(form->minutesLeft(), kMin);
    click(form->configurationItem());
    const auto ticks = runTicks(3);
    EXPECT_TRUE(ticks.empty());
    EXPECT_EQ(form->minutesLeft(), kMin);
    closeSettings();
    EXPECT_EQ(runTicks(1).size(), 1u);
    EXPECT_EQ(form->minutesLeft(), kMin);
}

// ---- one query at a time ---------------------------------------------------

TEST_F(SchedulerTest, DueTickDuringAMenuSettingStaysDue) {
    // Each query lasts 90 s; the interval is one minute.
    configure(kPrimary, "1");
    platform.store().seed("Timeout", "120");
    platform.script(kPrimary, PeerScript().reply(90000, kReply));
    start("/SERVER");  // setting 0..90 s, next tick at 150 s
    ASSERT_EQ(platform.nowMs(), 90000);
    ASSERT_EQ(form->minutesLeft(), 1);

    std::vector<std::pair<long long, std::size_t>> seen;  // (ms, queries so far)
    std::vector<std::int32_t> countsWhileBusy;
    for (long long at : {151000LL, 211000LL}) {
        platform.at(at, [&, at] {
            seen.emplace_back(at, platform.connections.size());
            countsWhileBusy.push_back(form->minutesLeft());
        });
    }
    // The menu's setting runs 140..230 s; the ticks at 150 and 210 s find it waiting.
    platform.at(140000, [&] { click(form->setTimeItem()); });
    platform.advance(400000 - platform.nowMs());

    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].second, 2u);
    EXPECT_EQ(seen[1].second, 2u);
    EXPECT_EQ(countsWhileBusy, (std::vector<std::int32_t>{0, -1}));
    // The next tick (270 s) makes the setting that fell due, and reloads.
    ASSERT_EQ(settingsMade(), 3u);
    EXPECT_EQ(platform.fakeClock().settings[1].atMs, 230000);
    EXPECT_EQ(platform.fakeClock().settings[2].atMs, 360000);
    EXPECT_EQ(platform.connections.size(), 3u);
}

TEST_F(SchedulerTest, DueTickWhileTheSystemSetsTheClockStaysDue) {
    // The query ends at once, but each setting of the clock takes 90 s (a
    // password prompt); a tick that falls due meanwhile must not lose its turn.
    configure(kPrimary, "2");
    platform.script(kPrimary, PeerScript().reply(0, kReply));
    platform.fakeClock().holdMs = 90000;
    start("/SERVER");  // setting 0..90 s; ticks at 150 and 210 s
    ASSERT_EQ(platform.nowMs(), 90000);
    // The menu's setting holds the clock from 160 to 250 s; the tick at 210 s
    // falls due meanwhile, so the next tick (270 s) makes that setting.
    platform.at(160000, [&] { click(form->setTimeItem()); });
    platform.advance(400000 - platform.nowMs());

    std::vector<long long> at;
    for (const auto& s : platform.fakeClock().settings) at.push_back(s.atMs);
    EXPECT_EQ(at, (std::vector<long long>{0, 160000, 270000}));
}

TEST_F(SchedulerTest, MinuteCountsFromTheEndOfALongSetting) {
    configure(kPrimary, "1");
    platform.store().seed("Timeout", "90");
    start("/SERVER");  // silent server: the setting times out at 90 s
    EXPECT_EQ(platform.nowMs(), 90000);
    std::vector<std::size_t> queries;
    for (long long at : {149000LL, 151000LL, 299000LL, 301000LL}) {
        platform.at(at, [&] { queries.push_back(platform.connections.size()); });
    }
    platform.advance(310000);
    EXPECT_EQ(queries, (std::vector<std::size_t>{1, 2, 2, 3}));
}

TEST_F(SchedulerTest, ClosingDuringATickSettingStopsTheSchedule) {
    configure(kPrimary, "1");
    platform.store().seed("Timeout", "30");
    platform.script(kPrimary, PeerScript().reply(10000, kReply));
    start("/SERVER");
    platform.script(kPrimary, PeerScript());  // silent from now on
    platform.at(kMinute + 10000 + 5000, [&] { win().userClose(); });
    platform.advance(10 * kMinute);
    EXPECT_TRUE(form->hasEnded());
    EXPECT_EQ(platform.exitCode, 0);
    EXPECT_EQ(platform.connections.size(), 2u);
    // The second setting was being asked for; nothing came after the close.
    EXPECT_EQ(label(form->outcomeLine()).history.back(), "Asking the timeserver...");
    EXPECT_FALSE(form->minuteTimer().isEnabled());
}

}  // namespace
}  // namespace tempikon::app::testing
