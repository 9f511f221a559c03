#include "core/daytime_query.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/fake/fake_platform.h"

namespace tempikon::core {
namespace {

using fake::FakePlatform;
using fake::PeerScript;

struct CutCase {
    std::string reply;
    std::string timeText;
};

TEST(CutTimeText, TakesEightCharactersFromTwoBeforeTheFirstColon) {
    const std::vector<CutCase> cases = {
        {"Sun Dec  6 14:03:27 2026\r\n", "14:03:27"},
        {"Sunday, December 6, 2026 14:03:27-UTC", "14:03:27"},
        {"Dec 6 4:03:27 2026", " 4:03:27"},
        {"12:34", "12:34"},
        {"4:03:27 PM", ""},
        {"a text without any colon", ""},
        {"", ""},
        {":12:00:00", ""},
        {"12:00:00 and more", "12:00:00"},  // colon third: the first 8 characters
        {"ab:cd:ef:gh", "ab:cd:ef"},
        {"x 1:", " 1:"},  // the reply ends early
        // Positions count bytes: two Latin-1 letters before the time.
        {"\xE9\xE9 14:03:27", "14:03:27"},
        {std::string("\0\0 09:08:07", 11), "09:08:07"},
    };
    for (const auto& c : cases) EXPECT_EQ(CutTimeText(c.reply), c.timeText) << c.reply;
}

TEST(Latin1ToUtf8, EncodesBytesAboveAsciiAsTwoBytes) {
    EXPECT_EQ(Latin1ToUtf8("12:00"), "12:00");
    EXPECT_EQ(Latin1ToUtf8("\xE9\xFF\x80"), "\xC3\xA9\xC3\xBF\xC2\x80");
}

TEST(TimeoutMilliseconds, ClampsToOneSecondAndTheLargestExactProduct) {
    EXPECT_EQ(TimeoutMilliseconds(3), 3000);
    EXPECT_EQ(TimeoutMilliseconds(0), 1000);
    EXPECT_EQ(TimeoutMilliseconds(-7), 1000);
    EXPECT_EQ(TimeoutMilliseconds(2'147'483), 2'147'483'000);
    EXPECT_EQ(TimeoutMilliseconds(2'147'484), 2'147'483'000);
    EXPECT_EQ(TimeoutMilliseconds(INT32_MAX), 2'147'483'000);
    EXPECT_EQ(TimeoutMilliseconds(INT32_MIN), 1000);
}

class QueryTest : public ::testing::Test {
protected:
    QueryTest() { stuff.Config.Timeout = 3; }

    fake::FakeTimer& timer() { return fake::as<fake::FakeTimer>(*timer1); }
    fake::FakeTcpClient& socket() { return fake::as<fake::FakeTcpClient>(*winsock1); }

    // Idle as after every query: timer off, socket closed.
    void ExpectIdle() {
        EXPECT_FALSE(timer().isEnabled());
        EXPECT_FALSE(socket().isOpen());
        EXPECT_FALSE(query.isBusy());
    }

    FakePlatform p;
    PublicStuff stuff;
    std::unique_ptr<platform::Timer> timer1 = p.createTimer();
    std::unique_ptr<platform::TcpClient> winsock1 = p.createTcpClient();
    DaytimeQuery query{p, stuff, *timer1, *winsock1};
};

TEST_F(QueryTest, ReplyGivesItsTimeTextFromPort13) {
    p.script("time.example", PeerScript().reply(120, "Sun Dec  6 14:03:27 2026\r\n"));
    EXPECT_FALSE(timer().isEnabled());  // idle before the first query

    EXPECT_EQ(query.QueryTimeServer("time.example"), "14:03:27");
    EXPECT_EQ(p.nowMs(), 120);
    EXPECT_EQ(socket().host, "time.example");
    EXPECT_EQ(socket().port, 13);
    EXPECT_EQ(stuff.ReplyText, "Sun Dec  6 14:03:27 2026\r\n");
    EXPECT_TRUE(stuff.QueryDone);
    ExpectIdle();
}

TEST_F(QueryTest, TimeOutOfThreeSecondsEndsASilentQuery) {
    EXPECT_EQ(query.QueryTimeServer("silent.example"), "");
    EXPECT_EQ(p.nowMs(), 3000);
    ASSERT_FALSE(timer().intervalHistory.empty());
    EXPECT_EQ(timer().intervalHistory.back(), 3000);
    EXPECT_EQ(timer().fireCount, 1);
    ExpectIdle();
}

TEST_F(QueryTest, TimeOutOfZeroStillEnds) {
    stuff.Config.Timeout = 0;
    EXPECT_EQ(query.QueryTimeServer("silent.example"), "");
    EXPECT_EQ(p.nowMs(), 1000);
    stuff.Config.Timeout = -20;
    EXPECT_EQ(query.QueryTimeServer("silent.example"), "");
    EXPECT_EQ(p.nowMs(), 2000);
}

TEST_F(QueryTest, ErrorEndsTheQueryBeforeTheTimeOut) {
    p.script("refused.example", PeerScript().error(15, "Connection refused"));
    EXPECT_EQ(query.QueryTimeServer("refused.example"), "");
    EXPECT_EQ(p.nowMs(), 15);
    EXPECT_EQ(timer().fireCount, 0);
    ExpectIdle();
}

TEST_F(QueryTest, NameWithANulIsNeverAsked) {
    // The system's resolver would stop at the NUL and ask time.example.
    p.script("time.example", PeerScript().reply(10, "Sun Dec  6 14:03:27 2026\r\n"));
    stuff.ReplyText = "left over";
    EXPECT_EQ(query.QueryTimeServer(std::string("time.example\0.evil.example", 26)), "");
    EXPECT_TRUE(p.connections.empty());
    EXPECT_EQ(p.nowMs(), 0);
    EXPECT_TRUE(stuff.QueryDone);
    EXPECT_EQ(stuff.ReplyText, "");
    ExpectIdle();
}

TEST_F(QueryTest, TwoArrivalsInOnePassKeepOnlyTheSecond) {
    p.script("split.example",
             PeerScript().reply(100, "first 11:11:11\r\n").reply(100, "second 22:22:22\r\n"));
    EXPECT_EQ(query.QueryTimeServer("split.example"), "22:22:22");
    EXPECT_EQ(stuff.ReplyText, "second 22:22:22\r\n");
}

TEST_F(QueryTest, ArrivalsInLaterPassesAreNotWaitedFor) {
    p.script("split.example",
             PeerScript().reply(100, "first 11:11:11\r\n").reply(200, "second 22:22:22\r\n"));
    EXPECT_EQ(query.QueryTimeServer("split.example"), "11:11:11");
    EXPECT_EQ(p.nowMs(), 100);
    p.advance(500);
    EXPECT_EQ(stuff.ReplyText, "first 11:11:11\r\n");
}

TEST_F(QueryTest, ErrorAfterDataInTheSamePassEmptiesTheReply) {
    p.script("flaky.example", PeerScript().reply(100, "12:00:00").error(100, "reset"));
    EXPECT_EQ(query.QueryTimeServer("flaky.example"), "");
    EXPECT_EQ(stuff.ReplyText, "");
}

TEST_F(QueryTest, FailedReadKeepsWhatAnEarlierArrivalRead) {
    p.script("odd.example",
             PeerScript().reply(100, "x 10:20:30").failNextRead(100).reply(100, "y 20:20:20"));
    EXPECT_EQ(query.QueryTimeServer("odd.example"), "10:20:30");

    // A failed first read still ends the query, with nothing.
    p.script("odd.example", PeerScript().failNextRead(50).reply(50, "y 20:20:20"));
    const long long start = p.nowMs();
    EXPECT_EQ(query.QueryTimeServer("odd.example"), "");
    EXPECT_EQ(p.nowMs() - start, 50);
    ExpectIdle();
}

TEST_F(QueryTest, HostileReplyIsCutAt64KiB) {
    std::string flood(100'000, 'x');
    flood[70'000] = ':';  // beyond what is kept
    p.script("flood.example", PeerScript().reply(10, flood));
    EXPECT_EQ(query.QueryTimeServer("flood.example"), "");
    EXPECT_EQ(stuff.ReplyText.size(), kMaxReplyBytes);

    std::string late(kMaxReplyBytes + 10, 'y');
    late.replace(kMaxReplyBytes - 8, 8, "12:34:56");
    p.script("flood.example", PeerScript().reply(10, late));
    EXPECT_EQ(query.QueryTimeServer("flood.example"), "12:34:56");
}

TEST_F(QueryTest, EveryWayOfEndingLeavesTimerOffAndSocketClosed) {
    p.script("reply", PeerScript().reply(5, "12:00:00"));
    p.script("error", PeerScript().error(5));
    p.script("badread", PeerScript().failNextRead(5).reply(5, "12:00:00"));
    int closes = 0;
    for (const char* host : {"reply", "error", "badread", "silent", "reply"}) {
        query.QueryTimeServer(host);
        ExpectIdle();
        EXPECT_GT(socket().closeCount, closes) << host;
        closes = socket().closeCount;
    }
    // Nothing is left scheduled that could fire into a later query.
    p.advance(10'000);
    EXPECT_FALSE(stuff.ReplyText.empty());
    EXPECT_EQ(timer().fireCount, 1);  // the silent one only
}

TEST_F(QueryTest, SecondQueryWhileOneWaitsReturnsEmptyWithoutConnecting) {
    p.script("primary", PeerScript().reply(100, "Mon 08:09:10"));
    std::string nested = "unset";
    bool busyInside = false;
    p.at(40, [&] {
        busyInside = query.isBusy();
        nested = query.QueryTimeServer("other");
    });
    EXPECT_EQ(query.QueryTimeServer("primary"), "08:09:10");
    EXPECT_TRUE(busyInside);
    EXPECT_EQ(nested, "");
    EXPECT_EQ(p.connections, std::vector<std::string>{"primary"});
    EXPECT_EQ(p.nowMs(), 100);  // the nested call did not wait
}

TEST_F(QueryTest, ShutdownEndsAWaitingQueryAndRefusesLaterOnes) {
    p.script("primary", PeerScript().reply(100, "Mon 08:09:10"));
    p.at(30, [&] { query.shutdown(); });
    EXPECT_EQ(query.QueryTimeServer("primary"), "");
    EXPECT_EQ(p.nowMs(), 30);
    EXPECT_TRUE(query.isShutDown());
    ExpectIdle();

    EXPECT_EQ(query.QueryTimeServer("primary"), "");
    EXPECT_EQ(p.connections.size(), 1u);
    EXPECT_EQ(p.nowMs(), 30);
}

TEST_F(QueryTest, ShutdownBeforeTheReplyIsReadIgnoresTheReply) {
    // The close and the reply are handled in the same pass.
    p.script("primary", PeerScript().reply(30, "Mon 08:09:10"));
    p.at(30, [&] { query.shutdown(); });
    EXPECT_EQ(query.QueryTimeServer("primary"), "");
}

TEST_F(QueryTest, BusyListenersHearEveryChange) {
    std::vector<bool> seen;
    const int id = query.addBusyListener([&] { seen.push_back(query.isBusy()); });
    p.script("a", PeerScript().reply(1, "12:00:00"));
    query.QueryTimeServer("a");
    query.QueryTimeServer("silent");
    EXPECT_EQ(seen, (std::vector<bool>{true, false, true, false}));

    // A refused nested call changes nothing and is not heard.
    p.at(p.nowMs() + 10, [&] { query.QueryTimeServer("b"); });
    query.QueryTimeServer("silent");
    EXPECT_EQ(seen.size(), 6u);

    query.removeBusyListener(id);
    query.QueryTimeServer("a");
    EXPECT_EQ(seen.size(), 6u);
}

TEST_F(QueryTest, ListenerRemovedByAnotherDuringNotificationIsNotCalled) {
    int secondCalls = 0;
    int second = 0;
    query.addBusyListener([&] { query.removeBusyListener(second); });
    second = query.addBusyListener([&] { ++secondCalls; });
    query.QueryTimeServer("silent");
    EXPECT_EQ(secondCalls, 0);
}

TEST_F(QueryTest, LateNotificationsWhileIdleChangeNothing) {
    p.script("a", PeerScript().reply(1, "12:00:00"));
    query.QueryTimeServer("a");
    query.Timer1_Timer();
    query.Winsock1_Error();
    EXPECT_EQ(stuff.ReplyText, "12:00:00");
    EXPECT_FALSE(timer().isEnabled());
}

TEST(DaytimeQueryLifetime, DestructorUnhooksTheHandlers) {
    FakePlatform p;
    PublicStuff stuff;
    auto timer1 = p.createTimer();
    auto winsock1 = p.createTcpClient();
    {
        DaytimeQuery query(p, stuff, *timer1, *winsock1);
        EXPECT_TRUE(timer1->onTimer);
        EXPECT_TRUE(winsock1->onDataArrival);
        EXPECT_TRUE(winsock1->onError);
    }
    EXPECT_FALSE(timer1->onTimer);
    EXPECT_FALSE(winsock1->onDataArrival);
    EXPECT_FALSE(winsock1->onError);
}

}  // namespace
}  // namespace tempikon::core
