#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/plan.h"
#include "core/query/ntp_burst.h"
#include "core/query/server_query.h"
#include "core/report.h"
#include "core/set_clock.h"
#include "tests/fake/fake_platform.h"
#include "tests/support/fake_ntp_server.h"
#include "tests/support/setting_fixture.h"

namespace tempikon::core {
namespace {

constexpr std::int64_t kMs = 1000;
constexpr std::int64_t kDay = 86'400'000'000;

class NtpSettingTest : public testsupport::SettingFixture {
protected:
    NtpSettingTest() : SettingFixture("ntp.example", "NTP") {
        server.platform = &p;
        p.scriptUdp("ntp.example", server.responder());
    }

    // One setting; its failure lines are kept.
    SetOutcome run() {
        const SetResult result = runSetting();
        failures = result.failures;
        status = result.status;
        return result.outcome;
    }
    std::int64_t lastError() { return errorAgainst(server.aheadMicros); }
    // One setting on a platform of the case's own: nothing set, and the one
    // failure gives the reason.
    void ExpectRefused(fake::FakePlatform& platform, const char* name, const char* reasonHas) {
        ServerQuery q{platform};
        ClockSetter s{platform, q};
        const SetResult result = s.run(config, [](const std::string&) {});
        EXPECT_EQ(result.outcome, SetOutcome::Unreachable) << name;
        EXPECT_TRUE(platform.fakeClock().settings.empty()) << name;
        ASSERT_EQ(result.failures.size(), 1u) << name;
        EXPECT_NE(result.failures[0].find(reasonHas), std::string::npos)
            << name << ": " << result.failures[0];
    }
    std::vector<long long> requestTimes() const {
        std::vector<long long> times;
        for (const auto& r : p.udpRequests) times.push_back(r.atMs);
        return times;
    }

    testing::FakeNtpServer server;
    std::vector<std::string> failures;
    std::string status;
};

TEST_F(NtpSettingTest, BurstTakesTheSampleWithTheLeastDelayAndKeepsItsSpacing) {
    server.aheadMicros = 1500 * kMs;
    // Round trips 50, 12, 60 and 25 ms; the 12 ms one errs by (8 - 4) / 2.
    server.delaysMs = {{40, 10}, {8, 4}, {30, 30}, {20, 5}};
    ASSERT_EQ(run(), SetOutcome::Set);
    EXPECT_EQ(requestTimes(), (std::vector<long long>{0, 2000, 4000, 6000}));
    ASSERT_EQ(p.fakeClock().settings.size(), 1u);
    EXPECT_EQ(lastError(), 2 * kMs);
    EXPECT_EQ(status, "Time set to 12:00:07 d=2s");

    // NIST asks for 4 s between requests.
    p.scriptUdp("time-a-g.nist.gov", server.responder());
    server.requests = 0;
    p.udpRequests.clear();
    config.primary().host = "time-a-g.nist.gov";
    const long long start = p.nowMs();
    ASSERT_EQ(run(), SetOutcome::Set);
    EXPECT_EQ(requestTimes().front(), start);
    EXPECT_EQ(requestTimes().back() - requestTimes().front(), 12000);
}

TEST_F(NtpSettingTest, AnAnswerWithinTwoMillisecondsEndsTheBurst) {
    server.delaysMs = {{1, 1}};
    server.aheadMicros = -250 * kMs;
    ASSERT_EQ(run(), SetOutcome::Set);
    EXPECT_EQ(p.udpRequests.size(), 1u);
    EXPECT_EQ(lastError(), 0);
    EXPECT_EQ(status, "Time set to 11:59:59 d=0s");
}

TEST_F(NtpSettingTest, TheFullDateIsSetAndTheOffsetAddedInHours) {
    config.maxChange = 0;  // no second opinion: that has a test of its own
    server.aheadMicros = -3 * kDay + 12'000 * kMs;
    config.primary().offsetHours = 1.0f;
    ASSERT_EQ(run(), SetOutcome::Set);
    const platform::LocalDateTime now = p.fakeClock().now();
    EXPECT_EQ(now.year * 10000 + now.month * 100 + now.day, 20261204);
    EXPECT_EQ(now.hour * 3600 + now.minute * 60 + now.second, 13 * 3600 + 12);
    EXPECT_EQ(status, "Time set to 13:00:12 d=-255588s");

    // An absurd offset from a hand-edited file is held, never overflows.
    config.primary().offsetHours = 3.4e38f;
    ASSERT_EQ(run(), SetOutcome::Set);
    EXPECT_GT(p.fakeClock().now().year, 2150);
}

TEST_F(NtpSettingTest, WhatMustNotSetAClockIsRejectedWithItsReason) {
    struct Case {
        const char* name;
        std::function<void(ntp::Packet&)> change;
        const char* reasonHas;
    };
    const auto kiss = [](const char* code) {
        return [code](ntp::Packet& r) {
            r.stratum = 0;
            r.referenceId = static_cast<std::uint32_t>(code[0]) << 24 |
                            static_cast<std::uint32_t>(code[1]) << 16 |
                            static_cast<std::uint32_t>(code[2]) << 8 |
                            static_cast<std::uint32_t>(code[3]);
        };
    };
    const std::vector<Case> cases = {
        {"wrong origin", [](ntp::Packet& r) { r.origin.fraction ^= 1; }, "origin"},
        {"unsynchronised", [](ntp::Packet& r) { r.leap = 3; }, "leap indicator 3"},
        {"stratum 16", [](ntp::Packet& r) { r.stratum = 16; }, "stratum 16"},
        {"zero transmit", [](ntp::Packet& r) { r.transmit = {}; }, "transmit"},
        {"client mode", [](ntp::Packet& r) { r.mode = 3; }, "mode 3"},
        {"root distance", [](ntp::Packet& r) { r.rootDispersion = 2u << 16; }, "root distance"},
        {"RATE", kiss("RATE"), "RATE"},
        {"DENY", kiss("DENY"), "DENY"},
        {"RSTR", kiss("RSTR"), "RSTR"},
    };
    for (const Case& c : cases) {
        fake::FakePlatform platform;
        testing::FakeNtpServer bad;
        bad.platform = &platform;
        bad.change = c.change;
        platform.scriptUdp("ntp.example", bad.responder());
        ExpectRefused(platform, c.name, c.reasonHas);
        // A kiss-o'-death ends the burst at once.
        if (std::string(c.name).size() == 4) {
            EXPECT_EQ(platform.udpRequests.size(), 1u) << c.name;
        }
    }
}

TEST_F(NtpSettingTest, ServersFromBeforeTheBuildOrWithImpossibleStampsSetNothing) {
    // This version was made on 2026-12-01; the clock reads 2026-12-07.
    constexpr std::int64_t kBuildSeconds = 1'796'083'200;
    const std::int64_t now = startMicros;
    struct Case {
        const char* name;
        std::int64_t serverMicros;  // the server's time at the first request
        std::function<void(ntp::Packet&)> change;
        const char* reasonHas;
    };
    const std::vector<Case> cases = {
        {"1970", 0, nullptr,
         "1970-01-01 00:00:00 UTC is before this version was made (2026-12-01)"},
        {"2000", 946'684'800 * kMs * kMs, nullptr,
         "2000-01-01 00:00:00 UTC is before this version"},
        {"2099, an era off", 4'070'908'800 * kMs * kMs, nullptr, "before this version was made"},
        {"transmit an hour before receive", now, [](ntp::Packet& r) { r.receive.seconds += 3600; },
         "the server sent its answer 3600000 ms before it received the request"},
        {"an interval longer than the round trip", now,
         [](ntp::Packet& r) { r.transmit.seconds += 1; },
         "the server held the request 1000 ms, longer than the whole round trip (30 ms)"},
    };
    for (const Case& c : cases) {
        fake::FakePlatform platform;
        platform.versionNumbers.buildSeconds = kBuildSeconds;
        platform.fakeClock().setNow(2026, 12, 7, 12, 0, 0);
        testing::FakeNtpServer bad;
        bad.platform = &platform;
        bad.aheadMicros = c.serverMicros - now;
        bad.delaysMs = {{10, 20}};
        bad.change = c.change;
        platform.scriptUdp("ntp.example", bad.responder());
        ExpectRefused(platform, c.name, c.reasonHas);
    }
}

TEST_F(NtpSettingTest, RateLeavesTheServerAloneForAMinuteDoublingUntilAGoodAnswer) {
    bool kiss = true;
    server.change = [&kiss](ntp::Packet& r) {
        if (!kiss) return;
        r.stratum = 0;
        r.referenceId = 0x52415445;  // RATE
    };
    EXPECT_EQ(run(), SetOutcome::Unreachable);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("(kiss code RATE); not asked again for 64 s"), std::string::npos)
        << failures[0];
    // Half a minute on: nobody is asked, and the reason says how long yet.
    p.advance(30'000);
    EXPECT_EQ(run(), SetOutcome::Unreachable);
    EXPECT_EQ(p.udpRequests.size(), 1u);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("not asked for another 34 s"), std::string::npos) << failures[0];
    // After the pause it is asked again; a second RATE doubles the pause.
    p.advance(34'000);
    EXPECT_EQ(run(), SetOutcome::Unreachable);
    EXPECT_EQ(p.udpRequests.size(), 2u);
    EXPECT_NE(failures.at(0).find("not asked again for 128 s"), std::string::npos) << failures[0];
    p.advance(127'000);
    EXPECT_EQ(run(), SetOutcome::Unreachable);
    EXPECT_EQ(p.udpRequests.size(), 2u);
    // A good answer ends it: the next RATE pauses for 64 s again.
    p.advance(1'000);
    kiss = false;
    EXPECT_EQ(run(), SetOutcome::Set);
    kiss = true;
    p.advance(60'000);
    EXPECT_EQ(run(), SetOutcome::Unreachable);
    EXPECT_NE(failures.at(0).find("not asked again for 64 s"), std::string::npos) << failures[0];
}

// A change beyond MaxChange is made only when the other configured server,
// whatever its protocol, agrees within 2 s.
TEST_F(NtpSettingTest, ALargeChangeNeedsTheOtherServerToAgree) {
    constexpr std::int64_t kHour = 3'600'000 * kMs;
    constexpr std::int64_t kTwentyYears = 7305 * kDay;
    enum class Backup { None, Ntp, Daytime };
    struct Case {
        const char* name;
        std::int64_t ahead;  // the primary's time against this clock
        Backup backup;
        std::int64_t backupAhead;  // NTP
        const char* daytime;       // the Daytime backup's reply
        std::int32_t maxChange;
        SetOutcome outcome;
        std::string statusOrFailure;  // the status, or a failure line's end
    };
    const std::vector<Case> cases = {
        {"999 s ahead, alone", 999'000 * kMs, Backup::None, 0, "", 1000, SetOutcome::Set, ""},
        {"2 h ahead, alone", 2 * kHour, Backup::None, 0, "", 1000, SetOutcome::NotConfirmed,
         "2026-12-07 14:00:00 is 2 hours from this clock; not set: no second server agrees "
         "(MaxChange 1000 s)"},
        {"2 h behind, alone", -2 * kHour, Backup::None, 0, "", 1000, SetOutcome::NotConfirmed,
         "2026-12-07 10:00:00 is 2 hours from this clock; not set: no second server agrees "
         "(MaxChange 1000 s)"},
        {"2 h ahead, an NTP backup agrees", 2 * kHour, Backup::Ntp, 2 * kHour + 1500 * kMs, "",
         1000, SetOutcome::Set, ""},
        {"2 h ahead, an NTP backup disagrees", 2 * kHour, Backup::Ntp, 0, "", 1000,
         SetOutcome::NotConfirmed,
         "backup.example: its time is 2 hours from the other server's; it does not confirm the "
         "change"},
        {"2 h ahead, 3 s apart", 2 * kHour, Backup::Ntp, 2 * kHour + 3000 * kMs, "", 1000,
         SetOutcome::NotConfirmed,
         "backup.example: its time is 3 s from the other server's; it does not confirm the "
         "change"},
        {"2 h ahead, a Daytime backup agrees", 2 * kHour, Backup::Daytime, 0, "14:00:00\r\n", 1000,
         SetOutcome::Set, ""},
        {"20 years ahead, a Daytime backup cannot tell", kTwentyYears, Backup::Daytime, 0,
         "12:00:00\r\n", 1000, SetOutcome::NotConfirmed,
         "backup.example: a time of day alone cannot confirm a change of 20 years"},
        {"20 years ahead, an NTP backup agrees", kTwentyYears, Backup::Ntp, kTwentyYears, "", 1000,
         SetOutcome::Set, ""},
        {"20 years ahead, MaxChange 0", kTwentyYears, Backup::None, 0, "", 0, SetOutcome::Set, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::FakePlatform platform;
        platform.versionNumbers.buildSeconds = 1'796'083'200;  // 2026-12-01
        platform.fakeClock().setNow(2026, 12, 7, 12, 0, 0);
        testing::FakeNtpServer primary;
        primary.platform = &platform;
        primary.aheadMicros = c.ahead;
        platform.scriptUdp("ntp.example", primary.responder());
        testing::FakeNtpServer second;
        second.platform = &platform;
        second.aheadMicros = c.backupAhead;
        Config cfg = config;
        cfg.maxChange = c.maxChange;
        if (c.backup != Backup::None) cfg.backup().host = "backup.example";
        if (c.backup == Backup::Ntp) {
            cfg.backup().protocol = ProtocolSetting("NTP");
            platform.scriptUdp("backup.example", second.responder());
        }
        if (c.backup == Backup::Daytime)
            platform.script("backup.example", fake::PeerScript().reply(0, c.daytime).close(0));
        ServerQuery q{platform};
        ClockSetter s{platform, q};
        std::vector<std::string> asked;
        const SetResult result =
            s.run(cfg, [&](const std::string& label) { asked.push_back(label); });
        EXPECT_EQ(result.outcome, c.outcome) << result.status;
        EXPECT_EQ(platform.fakeClock().settings.size(), c.outcome == SetOutcome::Set ? 1u : 0u);
        if (c.outcome == SetOutcome::Set) {
            // The primary's time is set, not the one that confirmed it.
            const auto& set = platform.fakeClock().settings.back();
            const std::int64_t error = set.micros - (startMicros + set.atMs * kMs + c.ahead);
            EXPECT_LE(error < 0 ? -error : error, 20 * kMs) << error;
            // The backup was asked only for a change beyond the limit.
            EXPECT_EQ(asked.size(), c.backup == Backup::None ? 1u : 3u);
            continue;
        }
        std::string all = result.status + "\n";
        for (const std::string& f : result.failures) all += f + "\n";
        EXPECT_NE(all.find(c.statusOrFailure), std::string::npos) << all;
        EXPECT_NE(result.status.find("not set: no second server agrees"), std::string::npos);
    }
}

// A clock that reads before this version was made is known to be wrong: it
// may move forward to the build date and MaxChange beyond it on one word.
TEST_F(NtpSettingTest, AClockBeforeTheBuildDateMovesForwardOnOneServersWord) {
    constexpr std::int64_t kBuild = 1'796'083'200 * kMs * kMs;  // 2026-12-01
    struct Case {
        const char* name;
        std::int64_t serverMicros;
        SetOutcome outcome;
    };
    const std::vector<Case> cases = {
        {"to the build date and 999 s", kBuild + 999'000 * kMs, SetOutcome::Set},
        {"to two days after it", kBuild + 2 * kDay, SetOutcome::NotConfirmed},
    };
    for (const Case& c : cases) {
        fake::FakePlatform platform;
        platform.versionNumbers.buildSeconds = 1'796'083'200;
        platform.fakeClock().setNow(2020, 1, 1, 0, 0, 0);  // a dead battery
        testing::FakeNtpServer ntp;
        ntp.platform = &platform;
        ntp.aheadMicros = c.serverMicros - platform.clock().nowMicros();
        platform.scriptUdp("ntp.example", ntp.responder());
        ServerQuery q{platform};
        ClockSetter s{platform, q};
        EXPECT_EQ(s.run(config, [](const std::string&) {}).outcome, c.outcome) << c.name;
    }
}

// A clock far in the future reads the server's stamps near itself; what it
// reads is decades away and is not set on one server's word.
TEST_F(NtpSettingTest, AClockFromTheNextCenturyIsNotMovedOnOneWord) {
    fake::FakePlatform platform;
    platform.versionNumbers.buildSeconds = 1'796'083'200;
    platform.fakeClock().setNow(2100, 1, 1, 0, 0, 0);
    testing::FakeNtpServer ntp;
    ntp.platform = &platform;
    ntp.aheadMicros = startMicros - platform.clock().nowMicros();  // 2026-12-07
    platform.scriptUdp("ntp.example", ntp.responder());
    ServerQuery q{platform};
    ClockSetter s{platform, q};
    const SetResult r = s.run(config, [](const std::string&) {});
    EXPECT_EQ(r.outcome, SetOutcome::NotConfirmed) << r.status;
    EXPECT_TRUE(platform.fakeClock().settings.empty());
    EXPECT_NE(r.status.find("is 63 years from this clock"), std::string::npos) << r.status;
}

TEST_F(NtpSettingTest, DenyStopsTheRequestsUntilTheSettingsChange) {
    server.change = [](ntp::Packet& r) {
        r.stratum = 0;
        r.referenceId = 0x44454e59;  // DENY
    };
    EXPECT_EQ(run(), SetOutcome::Unreachable);
    EXPECT_EQ(run(), SetOutcome::Unreachable);
    EXPECT_EQ(p.udpRequests.size(), 1u);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("not asked again"), std::string::npos) << failures[0];

    query.forgetRefusals();
    server.change = nullptr;
    EXPECT_EQ(run(), SetOutcome::Set);
    EXPECT_EQ(p.udpRequests.size(), 2u);
}

TEST_F(NtpSettingTest, AReplyFromElsewhereIsNotUsedAndSaysSo) {
    p.scriptUdp("ntp.example", [this](const std::string& request) {
        auto replies = server.responder()(request);
        for (auto& r : replies) r.fromServer = false;
        return replies;
    });
    EXPECT_EQ(run(), SetOutcome::Unreachable);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("another address"), std::string::npos) << failures[0];
    EXPECT_EQ(p.nowMs(), 3000);  // the wait went on for a real answer
}

TEST_F(NtpSettingTest, ASilentNtpPrimaryFallsBackToADaytimeBackup) {
    config.primary().host = "silent.example";
    config.backup().host = "backup";
    p.script("backup", fake::PeerScript().reply(0, "12:00:05\r\n").close(0));
    ASSERT_EQ(run(), SetOutcome::Set);
    EXPECT_EQ(p.udpRequests.size(), 1u);
    EXPECT_EQ(p.connections, std::vector<std::string>{"backup"});
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0], "silent.example: no answer within 3 s");
}

TEST_F(NtpSettingTest, AnUnusableProtocolAsksNobodyAndSaysWhy) {
    config.primary().protocol = core::ProtocolSetting("SNTP");
    EXPECT_EQ(run(), SetOutcome::Unreachable);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("unknown protocol \"SNTP\""), std::string::npos) << failures[0];
    EXPECT_TRUE(p.udpRequests.empty());
    EXPECT_TRUE(p.connections.empty());
}

TEST_F(NtpSettingTest, QueryLineShowsTheSampleAndTheInstantASettingWouldSet) {
    ntp::Sample sample;
    sample.offsetMicros = -1'234'567;
    sample.delayMicros = 12'345;
    sample.stratum = 1;
    sample.leap = 1;
    const ClockPlan plan = PlanNtpSetting(sample, 0.0f, startMicros, p.clock());
    EXPECT_EQ(NtpReportLine("ntp.example", sample, plan, p.clock()),
              "ntp.example: NTP stratum=1 offset=-1.234567s rtt=12.345ms leap=1 -> "
              "2026-12-07 11:59:58.765");
}

TEST_F(NtpSettingTest, SmallErrorsAreSlewedAndTheNextSettingSlewsWhatIsLeft) {
    p.fakeClock().slewable = true;
    server.aheadMicros = 300 * kMs;
    // How far the settings have moved the clock; the server is 300 ms ahead.
    const auto error = [&] { return p.clock().nowMicros() - (startMicros + p.nowMs() * kMs); };
    ASSERT_EQ(run(), SetOutcome::Set);
    EXPECT_EQ(status, "Time set to 12:00:00 d=0s slewed +300 ms");
    EXPECT_TRUE(p.fakeClock().settings.empty());
    // Five minutes on, half of it is done; the next setting measures the
    // clock as it is and slews the rest, replacing the slew in progress.
    p.advance(300'000);
    EXPECT_EQ(error(), 150 * kMs);
    ASSERT_EQ(run(), SetOutcome::Set);
    ASSERT_EQ(p.fakeClock().slews.size(), 2u);
    EXPECT_EQ(p.fakeClock().slews[1].offsetMicros, 150 * kMs);
    EXPECT_EQ(p.fakeClock().slews[1].leftMicros, 150 * kMs);
    p.advance(600'000);
    EXPECT_EQ(error(), 300 * kMs);  // converged on the server's time
    EXPECT_TRUE(p.fakeClock().settings.empty());

    // 400 ms and more, or Step=always, step.
    for (const auto& [ahead, step] : {std::pair{400 * kMs, ""}, std::pair{100 * kMs, "always"}}) {
        server.aheadMicros += ahead;
        config.step = step;
        ASSERT_EQ(run(), SetOutcome::Set) << step;
        EXPECT_EQ(p.fakeClock().settings.size(), ahead == 400 * kMs ? 1u : 2u) << step;
        EXPECT_EQ(status.find("slewed"), std::string::npos) << status;
    }
}

}  // namespace
}  // namespace tempikon::core
