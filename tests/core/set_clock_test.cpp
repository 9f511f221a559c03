#include "core/set_clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "core/plan.h"
#include "core/report.h"
#include "core/time_text.h"
#include "tests/fake/fake_platform.h"
#include "tests/support/ask.h"
#include "tests/support/setting_run.h"

namespace tempikon::core {
namespace {

using fake::FakeLabel;
using fake::PeerScript;

class SetClockTest : public ::testing::Test {
protected:
    SetClockTest() {
        config.primary().host = "primary";
        config.timeout = 3;
        clock().setNow(2026, 12, 7, 12, 0, 0);
    }

    fake::FakeClock& clock() { return p.fakeClock(); }
    FakeLabel& serverLine() { return fake::as<FakeLabel>(l1); }
    FakeLabel& outcomeLine() { return fake::as<FakeLabel>(l2); }

    // The clock setting of the last run as seconds of the day.
    int lastSet() {
        EXPECT_FALSE(clock().settings.empty());
        if (clock().settings.empty()) return -1;
        const auto& s = clock().settings.back();
        return (s.hour * 60 + s.minute) * 60 + s.second;
    }

    // Local clock at h:m:s, primary answering `reply` at once and closing,
    // one run.
    SetOutcome RunWith(const std::string& reply, float offset, int h, int m, int s) {
        clock().setNow(2026, 12, 7, h, m, s);
        config.primary().offsetHours = offset;
        p.script("primary", PeerScript().reply(0, reply).close(0));
        return runSetting();
    }

    fake::FakePlatform p;
    Config config;
    std::unique_ptr<platform::Window> window = p.createWindow({});
    platform::Label& l1 = window->addLabel({}, "");
    platform::Label& l2 = window->addLabel({}, "");
    ServerQuery query{p};
    ClockSetter setter{p, query};
    core::SetOutcome runSetting() {
        return tempikon::testing::RunSetting(setter, config, p, l1, l2);
    }
};

TEST_F(SetClockTest, PrimaryWithOffsetOneSetsTheClockAndReportsTheDifference) {
    EXPECT_EQ(RunWith("Sun Dec  6 14:03:27 2026\r\n", 1.0f, 15, 3, 40), SetOutcome::Set);
    EXPECT_EQ(serverLine().history, std::vector<std::string>{"primary"});
    EXPECT_EQ(lastSet(), 15 * 3600 + 3 * 60 + 27);
    EXPECT_EQ(outcomeLine().text(), "Time set to 15:03:27 d=-13s");
    // Standard output also says how: this clock cannot slew.
    EXPECT_EQ(p.output, std::vector<std::string>{"Time set to 15:03:27 d=-13s (step)"});
    EXPECT_EQ(setter.lastOutcome(), SetOutcome::Set);
    const platform::LocalDateTime now = clock().now();  // the date stays
    EXPECT_EQ(now.year * 10000 + now.month * 100 + now.day, 20261207);
}

TEST_F(SetClockTest, BackupAnswersWithItsOwnOffsetAfterThePrimaryTimesOut) {
    config.backup().host = "backup";
    config.primary().offsetHours = 5.0f;
    config.backup().offsetHours = -0.5f;
    p.script("backup", PeerScript().reply(200, "10:00:00"));
    clock().setNow(2026, 12, 7, 9, 29, 56, 800);  // 09:30:00 when the backup answers

    EXPECT_EQ(runSetting(), SetOutcome::Set);
    EXPECT_EQ(p.connections, (std::vector<std::string>{"primary", "backup"}));
    EXPECT_EQ(serverLine().history, (std::vector<std::string>{"primary", "backup (Backup)"}));
    EXPECT_EQ(lastSet(), 9 * 3600 + 30 * 60);
    EXPECT_EQ(outcomeLine().text(), "Time set to 09:30:00 d=0s");
}

TEST_F(SetClockTest, NoAnswerAndNoBackupLeavesTheClockAlone) {
    EXPECT_EQ(runSetting(), SetOutcome::Unreachable);
    EXPECT_EQ(serverLine().history, std::vector<std::string>{"primary"});
    EXPECT_EQ(outcomeLine().history, std::vector<std::string>{"Couldn't reach timeserver(s)"});
    EXPECT_EQ(p.output, std::vector<std::string>{"Couldn't reach timeserver(s)"});
    EXPECT_TRUE(clock().settings.empty());
    EXPECT_EQ(p.connections.size(), 1u);
}

TEST_F(SetClockTest, NeitherServerAnswering) {
    config.backup().host = "backup";
    p.script("primary", PeerScript().error(10));
    p.script("backup", PeerScript().reply(10, "no time here"));
    EXPECT_EQ(runSetting(), SetOutcome::Unreachable);
    EXPECT_EQ(serverLine().text(), "backup (Backup)");
    EXPECT_EQ(outcomeLine().text(), "Couldn't reach timeserver(s)");
    EXPECT_TRUE(clock().settings.empty());
}

TEST_F(SetClockTest, EachServerThatGaveNoTimeSaysWhy) {
    config.backup().host = "backup";
    p.script("primary", PeerScript().error(10));
    p.script("backup", PeerScript().reply(10, "99:00:00"));
    const auto ignore = [](const std::string&) {};
    EXPECT_EQ(
        setter.run(config, ignore).failures,
        (std::vector<std::string>{"primary: connection refused",
                                  "backup: the time was not a valid time of day: \"99:00:00\""}));
    p.script("primary", PeerScript().reply(10, "12:00:00"));
    EXPECT_TRUE(setter.run(config, ignore).failures.empty());
}

TEST_F(SetClockTest, InvalidDataDoesNotTryTheBackup) {
    config.backup().host = "backup";
    p.script("backup", PeerScript().reply(0, "12:00:00"));
    for (const char* reply : {"ab:cd:ef", "at 11:03 PM", "99:00:00", "12:34:5x"}) {
        p.connections.clear();
        p.script("primary", PeerScript().reply(0, reply));
        EXPECT_EQ(runSetting(), SetOutcome::InvalidData) << reply;
        EXPECT_EQ(outcomeLine().text(), "Invalid data received") << reply;
        EXPECT_EQ(p.connections, std::vector<std::string>{"primary"}) << reply;
    }
    EXPECT_TRUE(clock().settings.empty());
}

TEST_F(SetClockTest, OneSecondEitherWayIsShownAsZero) {
    const std::vector<std::pair<int, const char*>> cases = {
        {-2, "d=-2s"}, {-1, "d=0s"}, {0, "d=0s"}, {1, "d=0s"}, {2, "d=2s"}, {61, "d=61s"},
    };
    for (const auto& [d, shown] : cases) {
        const int local = 12 * 3600 - d;  // server 12:00:00, offset 0
        RunWith("12:00:00", 0.0f, local / 3600, local / 60 % 60, local % 60);
        EXPECT_EQ(outcomeLine().text(), std::string("Time set to 12:00:00 ") + shown) << d;
        EXPECT_EQ(lastSet(), 12 * 3600) << d;
    }
}

TEST_F(SetClockTest, OffsetsAreAddedInWholeMinutes) {
    RunWith("10:00:00", 5.5f, 15, 30, 0);
    EXPECT_EQ(outcomeLine().text(), "Time set to 15:30:00 d=0s");
    RunWith("10:00:00", -0.5f, 9, 30, 0);
    EXPECT_EQ(outcomeLine().text(), "Time set to 09:30:00 d=0s");
    RunWith("10:00:00", 0.375f, 10, 23, 0);  // 22.5 minutes round up
    EXPECT_EQ(outcomeLine().text(), "Time set to 10:23:00 d=0s");
    RunWith("10:00:00", -0.375f, 9, 37, 0);
    EXPECT_EQ(outcomeLine().text(), "Time set to 09:37:00 d=0s");
}

// Microseconds UTC of a wall time read as UTC; minus the zone's offset gives
// the instant.
std::int64_t At(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    return (platform::DaysFromCivil(y, mo, d) * 86'400 + (h * 60LL + mi) * 60 + s) * 1'000'000 +
           ms * 1000LL;
}

// The clock moves to the instant nearest its reading whose local time is the
// server's time plus the offset, in the middle of the reported second; the
// date changes only across midnight, never by a whole day.
TEST_F(SetClockTest, NearestInstantAcrossMidnightAndOffsets) {
    struct Case {
        const char* reply;
        float offset;
        int localDay, h, m, s;  // the clock before, December 2026
        const char* status;
        std::int64_t set;  // the instant set (the fake's zone is UTC)
    };
    const Case cases[] = {
        {"00:00:00", 0.0f, 7, 23, 59, 58, "Time set to 00:00:00 d=2s",
         At(2026, 12, 8, 0, 0, 0, 500)},
        {"23:59:59", 0.0f, 8, 0, 0, 1, "Time set to 23:59:59 d=-2s",
         At(2026, 12, 7, 23, 59, 59, 500)},
        {"23:45:10", 1.0f, 7, 0, 45, 0, "Time set to 00:45:10 d=10s",
         At(2026, 12, 7, 0, 45, 10, 500)},
        {"00:10:00", -1.0f, 7, 23, 10, 5, "Time set to 23:10:00 d=-5s",
         At(2026, 12, 7, 23, 10, 0, 500)},
        // An offset of days still moves the clock by the time of day alone.
        {"12:00:00", 50.0f, 7, 14, 0, 0, "Time set to 14:00:00 d=0s",
         At(2026, 12, 7, 14, 0, 0, 500)},
        // Twelve hours either way is the farthest it goes.
        {"12:00:00", 0.0f, 7, 0, 0, 1, "Time set to 12:00:00 d=43199s",
         At(2026, 12, 7, 12, 0, 0, 500)},
    };
    for (const Case& c : cases) {
        clock().settings.clear();
        clock().setNow(2026, 12, c.localDay, c.h, c.m, c.s);
        config.primary().offsetHours = c.offset;
        p.script("primary", PeerScript().reply(0, c.reply));
        EXPECT_EQ(runSetting(), SetOutcome::Set) << c.reply;
        EXPECT_EQ(outcomeLine().text(), c.status) << c.reply;
        ASSERT_EQ(clock().settings.size(), 1u) << c.reply;
        EXPECT_EQ(clock().settings[0].micros, c.set) << c.reply;
    }
}

// Berlin's rules: the repeated autumn hour keeps the pass the clock is in;
// a time inside the skipped spring hour sets the instant the rules give and
// shows the local time that instant has.
TEST_F(SetClockTest, SummerTimeFoldAndGapTakeTheNearestInstant) {
    clock().zone = fake::FakeClock::Zone::Berlin;
    struct Case {
        const char* name;
        std::int64_t clockUtc;
        const char* reply;
        const char* status;
        std::int64_t setUtc;
    };
    const Case cases[] = {
        {"first pass (summer time)", At(2026, 10, 25, 0, 30, 5), "02:30:00",
         "Time set to 02:30:00 d=-5s", At(2026, 10, 25, 0, 30, 0, 500)},
        {"second pass (winter time)", At(2026, 10, 25, 1, 30, 5), "02:30:00",
         "Time set to 02:30:00 d=-5s", At(2026, 10, 25, 1, 30, 0, 500)},
        {"spring gap", At(2026, 3, 29, 1, 29, 0), "02:30:00", "Time set to 03:30:00 d=60s",
         At(2026, 3, 29, 1, 30, 0, 500)},
    };
    for (const Case& c : cases) {
        clock().settings.clear();
        const platform::LocalDateTime u = platform::CivilFromMicros(c.clockUtc);
        clock().setNowUtc(u.year, u.month, u.day, u.hour, u.minute, u.second);
        p.script("primary", PeerScript().reply(0, c.reply));
        EXPECT_EQ(runSetting(), SetOutcome::Set) << c.name;
        EXPECT_EQ(outcomeLine().text(), c.status) << c.name;
        ASSERT_EQ(clock().settings.size(), 1u) << c.name;
        EXPECT_EQ(clock().settings[0].micros, c.setUtc) << c.name;
    }
}

// Zone "UTC": the server's time is UTC and the zone's rules follow summer
// time; a settings file without the key keeps the fixed offset.
TEST_F(SetClockTest, UtcServersFollowSummerTimeAndOldSettingsKeepTheOffset) {
    clock().zone = fake::FakeClock::Zone::Berlin;
    struct Case {
        const char* zone;  // nullptr: the key is absent
        const char* offset;
        int month, day;  // clock at 10:00:05 UTC that day
        const char* status;
    };
    const Case cases[] = {
        {"UTC", "0", 7, 1, "Time set to 12:00:00 d=-5s"},
        {"UTC", "0", 12, 7, "Time set to 11:00:00 d=-5s"},
        {" utc ", "0.5", 12, 7, "Time set to 11:30:00 d=1795s"},
        {nullptr, "1", 7, 1, "Time set to 11:00:00 d=-3605s"},
        {"", "1", 12, 7, "Time set to 11:00:00 d=-5s"},
    };
    for (const Case& c : cases) {
        const std::string name =
            std::string(c.zone ? c.zone : "(absent)") + " " + std::to_string(c.month);
        p.store().values.clear();
        p.store().seed("Server", "primary");
        p.store().seed("Offset", c.offset);
        if (c.zone) p.store().seed("Zone", c.zone);
        config = LoadConfig(p.store());
        clock().setNowUtc(2026, c.month, c.day, 10, 0, 5);
        p.script("primary", PeerScript().reply(0, "10:00:00"));
        EXPECT_EQ(runSetting(), SetOutcome::Set) << name;
        EXPECT_EQ(outcomeLine().text(), c.status) << name;
    }
    // A UTC time across midnight from the local date.
    config.primary().offsetHours = 0;
    config.primary().setZone("UTC");
    clock().setNowUtc(2026, 12, 6, 23, 30, 0);  // 00:30 on the 7th in Berlin
    p.script("primary", PeerScript().reply(0, "23:30:00"));
    runSetting();
    EXPECT_EQ(outcomeLine().text(), "Time set to 00:30:00 d=0s");
    EXPECT_EQ(clock().settings.back().micros, At(2026, 12, 6, 23, 30, 0, 500));
}

// The reply is aimed at the middle of its second and is half a round trip
// old when it comes, older still when it came in pieces.
TEST_F(SetClockTest, SetsTheMiddleOfTheSecondPlusHalfTheRoundTrip) {
    struct Case {
        PeerScript script;
        std::int64_t set;
    };
    const Case cases[] = {
        {PeerScript().reply(0, "12:00:00\r\n"), At(2026, 12, 7, 12, 0, 0, 500)},
        {PeerScript().reply(300, "12:00:00\r\n"), At(2026, 12, 7, 12, 0, 0, 650)},
        {PeerScript().reply(300, "Mon Dec  7 12:0").reply(600, "0:00 2026\r\n"),
         At(2026, 12, 7, 12, 0, 0, 950)},
    };
    for (const Case& c : cases) {
        clock().settings.clear();
        clock().setNow(2026, 12, 7, 12, 0, 0);
        p.script("primary", c.script);
        EXPECT_EQ(runSetting(), SetOutcome::Set);
        ASSERT_EQ(clock().settings.size(), 1u);
        EXPECT_EQ(clock().settings[0].micros, c.set);
        EXPECT_EQ(outcomeLine().text(), "Time set to 12:00:00 d=0s");
    }
}

TEST_F(SetClockTest, ShortReplyIsAValidTime) {
    // Whole only once the cut's five characters behind the colon came.
    RunWith("12:34   ", 0.0f, 12, 34, 0);
    EXPECT_EQ(outcomeLine().text(), "Time set to 12:34:00 d=0s");
    RunWith("x 12:34\t  ", 1.0f, 13, 34, 10);
    EXPECT_EQ(outcomeLine().text(), "Time set to 13:34:00 d=-10s");
    // Hours and minutes that end the reply, or a line end behind them.
    for (const char* reply : {"12:34", "12:34\r\n", "Mon 12:34 \n"}) {
        EXPECT_EQ(RunWith(reply, 1.0f, 13, 34, 2), SetOutcome::Set) << reply;
        EXPECT_EQ(outcomeLine().text(), "Time set to 13:34:00 d=-2s") << reply;
    }
}

TEST_F(SetClockTest, ReplyEndedBeforeItsTimeWasWholeSetsNothing) {
    const auto ignore = [](const std::string&) {};
    for (const std::string reply : {"Sun Dec  6 14:0", "Sun Dec  6 14:03:2"}) {
        clock().settings.clear();
        p.script("primary", PeerScript().reply(10, reply).close(20));
        const SetResult result = setter.run(config, ignore);
        EXPECT_EQ(result.outcome, SetOutcome::Unreachable) << reply;
        EXPECT_EQ(result.status, "Couldn't reach timeserver(s)");
        EXPECT_EQ(result.failures,
                  std::vector<std::string>{"primary: the reply ended early: \"" + reply + "\""});
        EXPECT_TRUE(clock().settings.empty()) << reply;
    }
}

// A name from the settings file reaches standard error and the tooltip.
TEST_F(SetClockTest, FailureLinesEscapeTheServersName) {
    config.primary().host = std::string("evil\x1b]0;x\x07\0\xff", 12);
    config.backup().host = "back\nup";
    const auto ignore = [](const std::string&) {};
    EXPECT_EQ(setter.run(config, ignore).failures,
              (std::vector<std::string>{R"(evil\x1b]0;x\x07\x00\xff: host not found)",
                                        R"(back\nup: no answer within 3 s)"}));
}

TEST_F(SetClockTest, RefusedClockIsReportedAsAFailure) {
    clock().refuseWith = "Operation not permitted";
    EXPECT_EQ(RunWith("14:03:27", 0.0f, 14, 3, 27), SetOutcome::Refused);
    EXPECT_EQ(outcomeLine().history,
              std::vector<std::string>{"Couldn't set system clock: Operation not permitted"});
    EXPECT_EQ(p.output, outcomeLine().history);
    EXPECT_EQ(clock().settings.size(), 1u);  // it was asked, and said no

    clock().refuseWith.clear();
    EXPECT_EQ(RunWith("14:03:27", 0.0f, 14, 3, 27), SetOutcome::Set);
    EXPECT_EQ(outcomeLine().text(), "Time set to 14:03:27 d=0s");
}

TEST_F(SetClockTest, StatusLinesDuringTheWait) {
    config.backup().host = "backup";
    l2.setText("earlier outcome");
    std::vector<std::string> seen;
    p.at(1000, [&] { seen.push_back(serverLine().text() + "|" + outcomeLine().text()); });
    p.at(4000, [&] { seen.push_back(serverLine().text() + "|" + outcomeLine().text()); });
    p.script("backup", PeerScript().reply(2000, "12:00:04"));

    runSetting();
    EXPECT_EQ(seen, (std::vector<std::string>{"primary|earlier outcome",
                                              "backup (Backup)|earlier outcome"}));
    // The clock was read after the wait: 12:00:05 then, so d = -1 -> 0.
    EXPECT_EQ(outcomeLine().history.back(), "Time set to 12:00:04 d=0s");
    EXPECT_EQ(outcomeLine().history.size(), 2u);  // "earlier outcome", then the one result
}

TEST_F(SetClockTest, DoesNothingWhileAnotherQueryWaits) {
    p.script("dialog-check", PeerScript().reply(100, "08:00:00"));
    SetOutcome nested = SetOutcome::None;
    p.at(20, [&] { nested = runSetting(); });
    EXPECT_EQ(testsupport::AskDaytime(query, "dialog-check", config.timeout), "08:00:00");

    EXPECT_EQ(nested, SetOutcome::Skipped);
    EXPECT_TRUE(serverLine().history.empty());
    EXPECT_TRUE(outcomeLine().history.empty());
    EXPECT_TRUE(p.output.empty());
    EXPECT_TRUE(clock().settings.empty());
    EXPECT_EQ(p.connections, std::vector<std::string>{"dialog-check"});
}

TEST_F(SetClockTest, WindowClosingDuringTheWaitEndsTheRunSilently) {
    config.backup().host = "backup";
    p.script("primary", PeerScript().reply(500, "12:00:00"));
    p.at(100, [&] { query.shutdown(); });

    EXPECT_EQ(runSetting(), SetOutcome::Skipped);
    EXPECT_EQ(p.nowMs(), 100);
    EXPECT_TRUE(outcomeLine().history.empty());
    EXPECT_TRUE(p.output.empty());
    EXPECT_TRUE(clock().settings.empty());
    EXPECT_EQ(p.connections, std::vector<std::string>{"primary"});  // no backup

    // Later runs do nothing either.
    EXPECT_EQ(runSetting(), SetOutcome::Skipped);
    EXPECT_TRUE(outcomeLine().history.empty());
}

}  // namespace
}  // namespace tempikon::core
