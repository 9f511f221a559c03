#include "core/plan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/fake/fake_platform.h"
#include "tests/support/ask.h"

namespace tempikon::core {
namespace {

TEST(OffsetMinutes, RoundsToWholeMinutesWithHalvesAwayFromZero) {
    EXPECT_EQ(OffsetMinutes(5.5f), 330);
    EXPECT_EQ(OffsetMinutes(-0.5f), -30);
    EXPECT_EQ(OffsetMinutes(1.0f), 60);
    EXPECT_EQ(OffsetMinutes(0.125f), 8);  // 7.5 minutes exactly
    EXPECT_EQ(OffsetMinutes(-0.125f), -8);
    EXPECT_EQ(OffsetMinutes(0.375f), 23);  // 22.5: not to the even 22
    EXPECT_EQ(OffsetMinutes(0.025f), 2);   // 1.50000002 in double precision
    EXPECT_EQ(OffsetMinutes(0.0083f), 0);
    EXPECT_EQ(OffsetMinutes(std::numeric_limits<float>::quiet_NaN()), 0);
    // Absurd offsets stay finite and keep their sign.
    EXPECT_GT(OffsetMinutes(std::numeric_limits<float>::max()), 1'000'000'000LL);
    EXPECT_LT(OffsetMinutes(-std::numeric_limits<float>::infinity()), -1'000'000'000LL);
}

// Which servers are asked, in what turn, and which answer counts.
TEST(AskInTurn, ThePrimaryThenTheBackupOnlyWhenThePrimaryGaveNoAnswer) {
    struct Case {
        const char* name;
        const char* primaryReply;  // nullptr: silent
        const char* backup;        // host; empty: none configured
        std::vector<std::string> asked;
        bool lastIsBackup;
        const char* timeText;
    };
    const std::vector<Case> cases = {
        {"primary answers",
         "12:00:00\r\n",
         "backup.example",
         {"primary.example"},
         false,
         "12:00:00"},
        {"a reply without a valid time is an answer",
         "ab:cd:ef\r\n",
         "backup.example",
         {"primary.example"},
         false,
         "ab:cd:ef"},
        {"silent primary, backup answers",
         nullptr,
         "backup.example",
         {"primary.example", "backup.example"},
         true,
         "13:00:00"},
        {"silent primary, no backup", nullptr, "", {"primary.example"}, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::FakePlatform p;
        if (c.primaryReply)
            p.script("primary.example", fake::PeerScript().reply(10, c.primaryReply));
        p.script("backup.example", fake::PeerScript().reply(10, "13:00:00\r\n"));
        ServerQuery query(p);
        Config config;
        config.primary().host = "primary.example";
        config.backup().host = c.backup;
        std::vector<std::string> asked, answered;
        const Turn last = AskInTurn(
            query, config, 1, [&](const Turn& t) { asked.push_back(t.server.host); },
            [&](const Turn& t) { answered.push_back(t.server.host); });
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(answered, c.asked);
        EXPECT_EQ(p.connections, c.asked);
        EXPECT_EQ(last.backup, c.lastIsBackup);
        EXPECT_EQ(last.answer.timeText, c.timeText);
    }
}

// The configuration is read again after the primary's wait: a backup
// typed meanwhile is asked.
TEST(AskInTurn, ReadsTheBackupAfterThePrimarysWait) {
    fake::FakePlatform p;
    p.script("late.example", fake::PeerScript().reply(10, "13:00:00\r\n"));
    ServerQuery query(p);
    Config config;
    config.primary().host = "silent.example";
    config.timeout = 1;
    p.at(500, [&] { config.backup().host = "late.example"; });
    const Turn last = AskInTurn(
        query, config, 1, [](const Turn&) {}, [](const Turn&) {});
    EXPECT_TRUE(last.backup);
    EXPECT_EQ(last.answer.timeText, "13:00:00");
}

TEST(PlanFrom, ASampleCarriesItsDateATimeOfDayGoesNearestTheClock) {
    fake::FakePlatform p;
    p.fakeClock().setNow(2026, 12, 7, 12, 0, 0);
    const platform::Clock& clock = p.clock();
    const std::int64_t now = clock.nowMicros();
    constexpr std::int64_t kDay = 86'400'000'000LL;

    QueryAnswer sample;
    sample.sample = ntp::Sample{};
    sample.sample->offsetMicros = 3 * kDay;  // days away: the date follows
    const auto fromSample = PlanFrom(sample, 1.0f, false, now, 0, clock);
    ASSERT_TRUE(fromSample.has_value());
    EXPECT_EQ(fromSample->micros, now + 3 * kDay + 3'600'000'000LL);

    QueryAnswer daytime;
    daytime.timeText = "11:59:00";
    const auto fromText = PlanFrom(daytime, 0.0f, false, now, 0, clock);
    ASSERT_TRUE(fromText.has_value());
    EXPECT_EQ(fromText->micros, now - 60'000'000LL + 500'000);  // the middle of the second
    EXPECT_EQ(fromText->d, -60);

    daytime.timeText = "ab:cd:ef";
    EXPECT_EQ(PlanFrom(daytime, 0.0f, false, now, 0, clock), std::nullopt);
}

TEST(GivesDate, NtpAndNtsGiveADateDaytimeATimeOfDay) {
    EXPECT_FALSE(GivesDate(Protocol::Daytime));
    EXPECT_TRUE(GivesDate(Protocol::Ntp));
    EXPECT_TRUE(GivesDate(Protocol::Nts));
}

}  // namespace
}  // namespace tempikon::core
