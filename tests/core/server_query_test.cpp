#include "core/query/server_query.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/query/daytime_exchange.h"
#include "core/text.h"
#include "tests/fake/fake_platform.h"
#include "tests/support/ask.h"

namespace tempikon::core {
namespace {

using fake::FakePlatform;
using fake::PeerScript;

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
    QueryTest() { config.timeout = 3; }

    fake::FakeTimer& timer() { return fake::as<fake::FakeTimer>(*queryTimer); }
    fake::FakeTcpClient& socket() { return fake::as<fake::FakeTcpClient>(*querySocket); }

    // Idle as after every query: timer off, socket closed.
    void ExpectIdle() {
        EXPECT_FALSE(timer().isEnabled());
        EXPECT_FALSE(socket().isOpen());
        EXPECT_FALSE(query.isBusy());
    }

    FakePlatform p;
    Config config;
    ServerQuery query{p};
    // The query's own timer and socket.
    platform::Timer* queryTimer = &query.daytime().timer();
    platform::TcpClient* querySocket = &query.daytime().socket();
};

TEST_F(QueryTest, ReplyGivesItsTimeTextFromPort13) {
    p.script("time.example", PeerScript().reply(120, "Sun Dec  6 14:03:27 2026\r\n"));
    EXPECT_FALSE(timer().isEnabled());  // idle before the first query

    EXPECT_EQ(testsupport::AskDaytime(query, "time.example", config.timeout), "14:03:27");
    EXPECT_EQ(p.nowMs(), 120);
    EXPECT_EQ(socket().host, "time.example");
    EXPECT_EQ(socket().port, 13);
    EXPECT_EQ(query.lastAnswer().reply, "Sun Dec  6 14:03:27 2026\r\n");
    EXPECT_EQ(query.lastAnswer().roundTripMicros, 120 * 1000);
    ExpectIdle();
}

TEST_F(QueryTest, TimeOutOfThreeSecondsEndsASilentQuery) {
    EXPECT_EQ(testsupport::AskDaytime(query, "silent.example", config.timeout), "");
    EXPECT_EQ(p.nowMs(), 3000);
    ASSERT_FALSE(timer().intervalHistory.empty());
    EXPECT_EQ(timer().intervalHistory.back(), 3000);
    EXPECT_EQ(timer().fireCount, 1);
    EXPECT_EQ(query.lastAnswer().roundTripMicros, -1);
    ExpectIdle();
}

TEST_F(QueryTest, TimeOutOfZeroStillEnds) {
    config.timeout = 0;
    EXPECT_EQ(testsupport::AskDaytime(query, "silent.example", config.timeout), "");
    EXPECT_EQ(p.nowMs(), 1000);
    config.timeout = -20;
    EXPECT_EQ(testsupport::AskDaytime(query, "silent.example", config.timeout), "");
    EXPECT_EQ(p.nowMs(), 2000);
}

TEST_F(QueryTest, ErrorEndsTheQueryBeforeTheTimeOut) {
    p.script("refused.example", PeerScript().error(15, "Connection refused"));
    EXPECT_EQ(testsupport::AskDaytime(query, "refused.example", config.timeout), "");
    EXPECT_EQ(p.nowMs(), 15);
    EXPECT_EQ(timer().fireCount, 0);
    ExpectIdle();
}

TEST_F(QueryTest, NameWithANulIsNeverAsked) {
    // The system's resolver would stop at the NUL and ask time.example.
    p.script("time.example", PeerScript().reply(10, "Sun Dec  6 14:03:27 2026\r\n"));
    EXPECT_EQ(testsupport::AskDaytime(query, "time.example", config.timeout), "14:03:27");
    EXPECT_EQ(testsupport::AskDaytime(query, std::string("time.example\0.evil.example", 26),
                                      config.timeout),
              "");
    EXPECT_EQ(p.connections, std::vector<std::string>{"time.example"});
    EXPECT_EQ(p.nowMs(), 10);
    EXPECT_EQ(query.lastAnswer().reply, "");
    ExpectIdle();
}

TEST_F(QueryTest, TwoArrivalsInOnePassKeepOnlyTheSecond) {
    p.script("split.example",
             PeerScript().reply(100, "first 11:11:11\r\n").reply(100, "second 22:22:22\r\n"));
    EXPECT_EQ(testsupport::AskDaytime(query, "split.example", config.timeout), "22:22:22");
    EXPECT_EQ(query.lastAnswer().reply, "second 22:22:22\r\n");
}

TEST_F(QueryTest, ArrivalsInLaterPassesAreNotWaitedFor) {
    p.script("split.example",
             PeerScript().reply(100, "first 11:11:11\r\n").reply(200, "second 22:22:22\r\n"));
    EXPECT_EQ(testsupport::AskDaytime(query, "split.example", config.timeout), "11:11:11");
    EXPECT_EQ(p.nowMs(), 100);
    p.advance(500);
    EXPECT_EQ(query.lastAnswer().reply, "first 11:11:11\r\n");
}

// A reply split across segments is read on until it holds the time: a line
// end, five characters after the first colon, the peer's closing, or the
// time-out (which, as ever, leaves nothing).
TEST_F(QueryTest, SplitReplyIsReadUntilItHoldsTheTime) {
    struct Case {
        const char* name;
        PeerScript script;
        const char* timeText;
        long long endsAtMs;
    };
    const Case cases[] = {
        {"two pieces", PeerScript().reply(100, "Mon Dec  7 14:0").reply(400, "3:27 2026\r\n"),
         "14:03:27", 400},
        {"seconds split", PeerScript().reply(100, "Mon Dec  7 14:03:2").reply(400, "7 2026"),
         "14:03:27", 400},
        {"three pieces",
         PeerScript().reply(100, "Mon Dec").reply(200, "  7 14").reply(300, ":03:27 2026"),
         "14:03:27", 300},
        {"a line end after the colon ends it",
         PeerScript().reply(100, "12:34\r\n").reply(200, "more"), "12:34", 100},
        {"hours and minutes, then the close", PeerScript().reply(100, "12:34").close(200), "12:34",
         200},
        {"hours and minutes, then nothing more", PeerScript().reply(100, "12:34"), "12:34", 3000},
        {"closed inside the minutes", PeerScript().reply(100, "x 12:3").close(200), "", 200},
        {"NIST's leading line feed does not",
         PeerScript().reply(100, "\n").reply(200,
                                             "61381 26-12-07 14:03:27 00 0 0  50.0 UTC(NIST) * \n"),
         "14:03:27", 200},
        {"closed before the time is whole", PeerScript().reply(100, "x 14:0").close(200), "", 200},
        {"closed in the seconds", PeerScript().reply(100, "x 14:03:2").close(200), "", 200},
        {"closed without a colon", PeerScript().reply(100, "busy").close(150), "", 150},
        {"time-out after a piece", PeerScript().reply(100, "Mon Dec  7 14:0"), "", 3000},
    };
    for (const Case& c : cases) {
        p.script("split.example", c.script);
        const long long start = p.nowMs();
        EXPECT_EQ(testsupport::AskDaytime(query, "split.example", config.timeout), c.timeText)
            << c.name;
        EXPECT_EQ(p.nowMs() - start, c.endsAtMs) << c.name;
        EXPECT_EQ(query.lastAnswer().roundTripMicros, 100'000) << c.name;
        ExpectIdle();
        p.advance(5000);  // nothing left over for the next case
    }
}

TEST_F(QueryTest, ErrorAfterDataInTheSamePassEmptiesTheReply) {
    p.script("flaky.example", PeerScript().reply(100, "12:00:00").error(100, "reset"));
    EXPECT_EQ(testsupport::AskDaytime(query, "flaky.example", config.timeout), "");
    EXPECT_EQ(query.lastAnswer().reply, "");
}

TEST_F(QueryTest, FailedReadKeepsWhatAnEarlierArrivalRead) {
    p.script("odd.example",
             PeerScript().reply(100, "x 10:20:30").failNextRead(100).reply(100, "y 20:20:20"));
    EXPECT_EQ(testsupport::AskDaytime(query, "odd.example", config.timeout), "10:20:30");

    // A failed first read still ends the query, with nothing.
    p.script("odd.example", PeerScript().failNextRead(50).reply(50, "y 20:20:20"));
    const long long start = p.nowMs();
    EXPECT_EQ(testsupport::AskDaytime(query, "odd.example", config.timeout), "");
    EXPECT_EQ(p.nowMs() - start, 50);
    ExpectIdle();
}

TEST_F(QueryTest, HostileReplyIsCutAt64KiB) {
    std::string flood(100'000, 'x');
    flood[70'000] = ':';  // beyond what is kept
    p.script("flood.example", PeerScript().reply(10, flood));
    EXPECT_EQ(testsupport::AskDaytime(query, "flood.example", config.timeout), "");
    EXPECT_EQ(query.lastAnswer().reply.size(), kMaxReplyBytes);

    std::string late(kMaxReplyBytes + 10, 'y');
    late.replace(kMaxReplyBytes - 8, 8, "12:34:56");
    p.script("flood.example", PeerScript().reply(10, late));
    EXPECT_EQ(testsupport::AskDaytime(query, "flood.example", config.timeout), "12:34:56");
}

TEST_F(QueryTest, EveryWayOfEndingLeavesTimerOffAndSocketClosed) {
    p.script("reply", PeerScript().reply(5, "12:00:00"));
    p.script("error", PeerScript().error(5));
    p.script("badread", PeerScript().failNextRead(5).reply(5, "12:00:00"));
    int closes = 0;
    for (const char* host : {"reply", "error", "badread", "silent", "reply"}) {
        testsupport::AskDaytime(query, host, config.timeout);
        ExpectIdle();
        EXPECT_GT(socket().closeCount, closes) << host;
        closes = socket().closeCount;
    }
    // Nothing is left scheduled that could fire into a later query.
    p.advance(10'000);
    EXPECT_FALSE(query.lastAnswer().reply.empty());
    EXPECT_EQ(timer().fireCount, 1);  // the silent one only
}

TEST_F(QueryTest, SecondQueryWhileOneWaitsReturnsEmptyWithoutConnecting) {
    p.script("primary", PeerScript().reply(100, "Mon 08:09:10"));
    std::string nested = "unset";
    bool busyInside = false;
    p.at(40, [&] {
        busyInside = query.isBusy();
        nested = testsupport::AskDaytime(query, "other", config.timeout);
    });
    EXPECT_EQ(testsupport::AskDaytime(query, "primary", config.timeout), "08:09:10");
    EXPECT_TRUE(busyInside);
    EXPECT_EQ(nested, "");
    EXPECT_EQ(p.connections, std::vector<std::string>{"primary"});
    EXPECT_EQ(p.nowMs(), 100);  // the nested call did not wait
}

TEST_F(QueryTest, ShutdownEndsAWaitingQueryAndRefusesLaterOnes) {
    p.script("primary", PeerScript().reply(100, "Mon 08:09:10"));
    p.at(30, [&] { query.shutdown(); });
    EXPECT_EQ(testsupport::AskDaytime(query, "primary", config.timeout), "");
    EXPECT_EQ(p.nowMs(), 30);
    EXPECT_TRUE(query.isShutDown());
    ExpectIdle();

    EXPECT_EQ(testsupport::AskDaytime(query, "primary", config.timeout), "");
    EXPECT_EQ(p.connections.size(), 1u);
    EXPECT_EQ(p.nowMs(), 30);
}

TEST_F(QueryTest, ShutdownBeforeTheReplyIsReadIgnoresTheReply) {
    // The close and the reply are handled in the same pass.
    p.script("primary", PeerScript().reply(30, "Mon 08:09:10"));
    p.at(30, [&] { query.shutdown(); });
    EXPECT_EQ(testsupport::AskDaytime(query, "primary", config.timeout), "");
}

TEST_F(QueryTest, BusyListenersHearEveryChange) {
    std::vector<bool> seen;
    const int id = query.addBusyListener([&] { seen.push_back(query.isBusy()); });
    p.script("a", PeerScript().reply(1, "12:00:00"));
    testsupport::AskDaytime(query, "a", config.timeout);
    testsupport::AskDaytime(query, "silent", config.timeout);
    EXPECT_EQ(seen, (std::vector<bool>{true, false, true, false}));

    // A refused nested call changes nothing and is not heard.
    p.at(p.nowMs() + 10, [&] { testsupport::AskDaytime(query, "b", config.timeout); });
    testsupport::AskDaytime(query, "silent", config.timeout);
    EXPECT_EQ(seen.size(), 6u);

    query.removeBusyListener(id);
    testsupport::AskDaytime(query, "a", config.timeout);
    EXPECT_EQ(seen.size(), 6u);
}

TEST_F(QueryTest, ListenerRemovedByAnotherDuringNotificationIsNotCalled) {
    int secondCalls = 0;
    int second = 0;
    query.addBusyListener([&] { query.removeBusyListener(second); });
    second = query.addBusyListener([&] { ++secondCalls; });
    testsupport::AskDaytime(query, "silent", config.timeout);
    EXPECT_EQ(secondCalls, 0);
}

TEST_F(QueryTest, LateNotificationsWhileIdleChangeNothing) {
    p.script("a", PeerScript().reply(1, "12:00:00"));
    testsupport::AskDaytime(query, "a", config.timeout);
    query.daytime().onTimeout();
    query.daytime().onSocketError(platform::SocketErrorKind::Refused, "Connection refused");
    EXPECT_EQ(query.lastAnswer().reply, "12:00:00");
    EXPECT_FALSE(timer().isEnabled());
}

struct FailureCase {
    const char* what;
    PeerScript script;
    FailureKind kind;
    std::string reason;
};

// Each way a query can end without a time has a reason of its own; the last
// notification of the pass decides, as it does for the reply.
TEST_F(QueryTest, EachFailureHasItsReason) {
    using platform::SocketErrorKind;
    const std::string longReply(70, 'x');
    const std::vector<FailureCase> cases = {
        {"refused", PeerScript().error(5, "Connection refused", SocketErrorKind::Refused),
         FailureKind::Refused, "connection refused"},
        {"unknown host", PeerScript().error(5, "Host not found", SocketErrorKind::HostNotFound),
         FailureKind::HostNotFound, "host not found"},
        {"no lookup",
         PeerScript().error(5, platform::kLookupNotStarted, SocketErrorKind::HostNotFound),
         FailureKind::HostNotFound, "host not found: cannot start the lookup"},
        {"reset", PeerScript().error(5, "Connection reset", SocketErrorKind::Reset),
         FailureKind::Reset, "connection reset"},
        {"other", PeerScript().error(5, "Network unreachable", SocketErrorKind::Other),
         FailureKind::ConnectionFailed, "connection failed: Network unreachable"},
        {"silent", PeerScript(), FailureKind::TimedOut, "no answer within 3 s"},
        {"no time", PeerScript().reply(5, "hi\r\n\x1b[2J\"\\\xE9"), FailureKind::NoTimeInReply,
         R"(the reply held no time: "hi\r\n\x1b[2J\"\\\xe9")"},
        {"long reply", PeerScript().reply(5, longReply), FailureKind::NoTimeInReply,
         "the reply held no time: \"" + std::string(60, 'x') + "...\""},
        {"unreadable", PeerScript().failNextRead(5).reply(5, "12:00:00"),
         FailureKind::ConnectionFailed, "the reply could not be read"},
        {"error then data", PeerScript().error(5).reply(5, "12:00:00"), FailureKind::None, ""},
        {"data then error", PeerScript().reply(5, "12:00:00").error(5), FailureKind::Refused,
         "connection refused"},
        {"closed before the time is whole", PeerScript().reply(5, "Mon 14:0").close(10),
         FailureKind::NoTimeInReply, R"(the reply ended early: "Mon 14:0")"},
        {"closed inside the minutes", PeerScript().reply(5, "12:3").close(10),
         FailureKind::NoTimeInReply, R"(the reply ended early: "12:3")"},
        {"time-out before the time is whole", PeerScript().reply(5, "Mon 14:03:2"),
         FailureKind::NoTimeInReply, R"(the reply ended early: "Mon 14:03:2")"},
        {"reset before the time is whole",
         PeerScript().reply(5, "Mon 14:03:2").error(10, "reset", SocketErrorKind::Reset),
         FailureKind::Reset, "connection reset"},
    };
    for (const auto& c : cases) {
        p.script("host", c.script);
        testsupport::AskDaytime(query, "host", config.timeout);
        EXPECT_EQ(query.lastAnswer().failure.kind, c.kind) << c.what;
        EXPECT_EQ(query.lastAnswer().failure.reason, c.reason) << c.what;
    }
    testsupport::AskDaytime(query, std::string("a\0b", 3), config.timeout);
    EXPECT_EQ(query.lastAnswer().failure.kind, FailureKind::HostNotFound);
}

// The protocol decides the exchange; one the program does not speak is
// answered at once, with nothing connected and no busy change heard.
TEST_F(QueryTest, UnknownProtocolIsAnsweredAtOnceWithoutAWait) {
    int heard = 0;
    query.addBusyListener([&] { ++heard; });
    ServerSpec server = testsupport::DaytimeSpec("time.example");
    server.protocol = ProtocolSetting("SNTP");
    const QueryAnswer answer = query.ask(server, config.timeout);
    EXPECT_FALSE(answer.any());
    EXPECT_EQ(answer.failure.kind, FailureKind::UnknownProtocol);
    EXPECT_EQ(answer.failure.reason,
              "the settings name an unknown protocol \"SNTP\" (Daytime, NTP or NTS)");
    EXPECT_TRUE(p.connections.empty());
    EXPECT_EQ(heard, 0);
    EXPECT_EQ(p.nowMs(), 0);
    ExpectIdle();
}

}  // namespace
}  // namespace tempikon::core
