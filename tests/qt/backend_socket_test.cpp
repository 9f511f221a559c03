// The TCP client and the Daytime query against real servers on loopback
// (127.0.0.10 to 127.0.0.49, port 13).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <functional>
#include <memory>
#include <string>

#include "backend_env.h"
#include "core/config.h"
#include "core/query/daytime_exchange.h"
#include "core/query/server_query.h"
#include "platform/qt/qt_tcp_client.h"
#include "platform/qt/qt_timer.h"
#include "tests/support/ask.h"
#include "tests/support/daytime_server.h"

namespace tempikon::qt {
namespace {

using testing::platform;
using testing::runFor;
using testing::waitUntil;
using testsupport::DaytimeServer;
using testsupport::ServerMode;
using testsupport::ServerOptions;

// The query as the main window owns it: its time-out timer and socket.
struct Query {
    core::Config config;
    core::ServerQuery query{platform()};
    QtTimer& queryTimer = dynamic_cast<QtTimer&>(query.daytime().timer());
    QtTcpClient& querySocket = dynamic_cast<QtTcpClient&>(query.daytime().socket());

    explicit Query(int timeoutSeconds) { config.timeout = timeoutSeconds; }
    std::string ask(const std::string& host) {
        return testsupport::AskDaytime(query, host, config.timeout);
    }
    void expectIdle() {
        EXPECT_FALSE(queryTimer.isCounting());
        EXPECT_FALSE(querySocket.isOpen());
        EXPECT_FALSE(query.isBusy());
    }
};

// Records what a bare client reports.
struct Recorder {
    QtTcpClient client;
    int arrivals = 0;
    std::string received;
    std::vector<std::string> errors;
    std::vector<tempikon::platform::SocketErrorKind> kinds;
    int closes = 0;
    std::size_t maxRead = core::kMaxReplyBytes;

    Recorder() {
        client.onDataArrival = [this] {
            ++arrivals;
            if (auto bytes = client.readAll(maxRead)) received += *bytes;
        };
        client.onError = [this](tempikon::platform::SocketErrorKind kind, const std::string& e) {
            kinds.push_back(kind);
            errors.push_back(e);
        };
        client.onPeerClosed = [this] { ++closes; };
    }
};

// ---- the query --------------------------------------------------------------------

TEST(ServerQueryOnQt, ReplyGivesTheTimeOfDay) {
    auto server = DaytimeServer::replying("127.0.0.10", "Sun Dec  6 14:03:27 2026\r\n");
    Query q(5);
    EXPECT_EQ(q.ask("127.0.0.10"), "14:03:27");
    EXPECT_EQ(q.query.lastAnswer().reply, "Sun Dec  6 14:03:27 2026\r\n");
    q.expectIdle();
    // One after the other, the same objects serve again.
    EXPECT_EQ(q.ask("127.0.0.10"), "14:03:27");
    EXPECT_EQ(server->connectionsAccepted(), 2);
}

TEST(ServerQueryOnQt, RefusedConnectionEndsTheQueryWithoutWaitingForTheTimeOut) {
    auto server = DaytimeServer::inMode("127.0.0.11", ServerMode::Refused);
    // With the longest time-out the test would hang unless the error ends it.
    Query q(2'147'483);
    EXPECT_EQ(q.ask("127.0.0.11"), "");
    q.expectIdle();
}

TEST(ServerQueryOnQt, ResetBeforeAnyReplyEndsTheQueryWithoutWaitingForTheTimeOut) {
    // Accepted, then reset: an error, unlike an orderly close.
    ServerOptions options;
    options.mode = ServerMode::ResetMidReply;
    options.text = "";
    DaytimeServer server("127.0.15.2", options);
    Query q(2'147'483);
    EXPECT_EQ(q.ask("127.0.15.2"), "");
    EXPECT_EQ(server.connectionsAccepted(), 1);
    q.expectIdle();
}

// Runs hold once the connection was started, before any notification of it
// is handled: what the peer does meanwhile happens "during the connect".
struct HeldClient : QtTcpClient {
    std::function<void()> hold;
    void connect(const std::string& host, std::uint16_t port) override {
        QtTcpClient::connect(host, port);
        if (hold)
            QMetaObject::invokeMethod(QCoreApplication::instance(), hold, Qt::QueuedConnection);
    }
};

// A reset is one failure, whether it strikes before the connection is
// seen, before any data, or amid the time; what came before it is dropped.
TEST(ServerQueryOnQt, EveryResetIsTheSameConnectionReset) {
    const struct {
        const char* when;
        const char* address;
        std::string text;
        int resetAfterMs;
        bool holdUntilReset;
    } cases[] = {
        {"during the connect", "127.0.0.25", "", 0, true},
        {"before any data", "127.0.0.26", "", 300, false},
        {"amid the time", "127.0.0.27", "Sun Dec  6 14:03:2", 300, false},
    };
    for (const auto& c : cases) {
        ServerOptions options;
        options.mode = ServerMode::ResetMidReply;
        options.text = c.text;
        options.resetAfterMs = c.resetAfterMs;
        DaytimeServer server(c.address, options);
        QtTimer timer;
        HeldClient socket;
        if (c.holdUntilReset)
            socket.hold = [&] { EXPECT_TRUE(server.waitForEndedConnections(1, 10'000)); };
        // The held client stands in for the query's own socket.
        core::DaytimeExchange exchange(platform(), timer, socket);
        exchange.start({c.address, core::kDaytimePort}, 30'000);
        while (!exchange.done()) platform().waitForEvents();
        exchange.close();
        EXPECT_EQ(exchange.timeText(), "") << c.when;
        EXPECT_EQ(exchange.failure().kind, core::FailureKind::Reset) << c.when;
        EXPECT_EQ(exchange.failure().reason, "connection reset") << c.when;
        EXPECT_EQ(server.connectionsAccepted(), 1) << c.when;
    }
}

// "14:0" and a close is no 14:00:00.
TEST(ServerQueryOnQt, ReplyCutShortByTheServersCloseHoldsNoTime) {
    for (const std::string text : {"Sun Dec  6 14:0", "Sun Dec  6 14:03:2"}) {
        auto server = DaytimeServer::replying("127.0.0.28", text);
        Query q(30);
        EXPECT_EQ(q.ask("127.0.0.28"), "") << text;
        EXPECT_EQ(q.query.lastAnswer().failure.reason, "the reply ended early: \"" + text + '"');
        q.expectIdle();
    }
}

TEST(ServerQueryOnQt, SilentServerEndsByTheTimeOut) {
    auto server = DaytimeServer::inMode("127.0.0.12", ServerMode::Silent);
    Query q(1);
    EXPECT_EQ(q.ask("127.0.0.12"), "");
    EXPECT_EQ(server->connectionsAccepted(), 1);
    q.expectIdle();
}

TEST(ServerQueryOnQt, ServerClosingWithoutSendingEndsTheQueryWithNothing) {
    auto server = DaytimeServer::inMode("127.0.0.13", ServerMode::CloseWithoutSending);
    Query q(30);
    bool timedOut = false;
    // Sees whether the time-out handler ran, without changing what it does.
    q.queryTimer.onTimer = [&] {
        timedOut = true;
        q.query.daytime().onTimeout();
    };
    EXPECT_EQ(q.ask("127.0.0.13"), "");
    EXPECT_FALSE(timedOut);
    q.expectIdle();
}

TEST(ServerQueryOnQt, ReplyInTwoPiecesIsReadUntilTheTimeIsWhole) {
    ServerOptions options;
    options.mode = ServerMode::TwoPieces;
    options.text = "Sun Dec  6 14:0";
    options.secondPiece = "3:27 2026\r\n";
    options.pauseMs = 300;
    DaytimeServer server("127.0.0.14", options);
    Query q(5);
    EXPECT_EQ(q.ask("127.0.0.14"), "14:03:27");
    q.expectIdle();
}

TEST(ServerQueryOnQt, FloodingServerGivesAtMostTheReplyLimit) {
    ServerOptions options;
    options.mode = ServerMode::Flood;
    options.floodBytes = 8 * 1024 * 1024;
    DaytimeServer server("127.0.0.15", options);
    Query q(5);
    EXPECT_EQ(q.ask("127.0.0.15"), "");  // no colon in the flood
    EXPECT_LE(q.query.lastAnswer().reply.size(), core::kMaxReplyBytes);
    EXPECT_GT(q.query.lastAnswer().reply.size(), 0u);
    q.expectIdle();
}

TEST(ServerQueryOnQt, HostNameIsLookedUp) {
    // "localhost" comes from the hosts file; nothing listens on 127.0.0.1:13
    // in the tests, so the lookup leads to a refused connection.
    Query q(2'147'483);
    EXPECT_EQ(q.ask("localhost"), "");
    q.expectIdle();
}

// ---- the bare client ----------------------------------------------------------------

TEST(TcpClientOnQt, RefusedIsReportedWithTheSystemsDescription) {
    auto server = DaytimeServer::inMode("127.0.0.16", ServerMode::Refused);
    Recorder r;
    r.client.connect("127.0.0.16", 13);
    EXPECT_TRUE(r.client.isOpen());
    ASSERT_TRUE(waitUntil([&] { return !r.errors.empty(); }));
    EXPECT_NE(r.errors.front().find("refused"), std::string::npos) << r.errors.front();
    EXPECT_EQ(r.arrivals, 0);
}

TEST(TcpClientOnQt, PeerClosingAfterTheReplyIsNotAnError) {
    auto server = DaytimeServer::replying("127.0.0.17", "12:34\r\n");
    Recorder r;
    r.client.connect("127.0.0.17", 13);
    ASSERT_TRUE(waitUntil([&] { return r.received == "12:34\r\n"; }));
    runFor(100);  // the close arrives meanwhile
    EXPECT_TRUE(r.errors.empty());
    EXPECT_TRUE(r.client.isOpen());  // until the owner closes it
}

TEST(TcpClientOnQt, ResetAfterPartOfTheReplyIsReportedAfterIt) {
    ServerOptions options;
    options.mode = ServerMode::ResetMidReply;
    options.text = "Sun Dec  6 14:03";
    DaytimeServer server("127.0.0.18", options);
    Recorder r;
    r.client.connect("127.0.0.18", 13);
    ASSERT_TRUE(waitUntil([&] { return !r.errors.empty(); }));
    EXPECT_EQ(r.received, "Sun Dec  6 14:03");
    EXPECT_EQ(r.kinds, std::vector<tempikon::platform::SocketErrorKind>{
                           tempikon::platform::SocketErrorKind::Reset});
    EXPECT_EQ(r.closes, 0);  // a reset is no orderly close
}

TEST(TcpClientOnQt, ReadAllKeepsAtMostMaxBytesAndDropsTheRest) {
    ServerOptions options;
    options.mode = ServerMode::Reply;
    options.text = std::string(5000, 'a');
    DaytimeServer server("127.0.0.19", options);
    QtTcpClient client;
    std::vector<std::string> reads;
    client.onDataArrival = [&] {
        if (auto bytes = client.readAll(100)) reads.push_back(*bytes);
        EXPECT_EQ(client.bufferedBytes(), 0u);
    };
    client.connect("127.0.0.19", 13);
    ASSERT_TRUE(waitUntil([&] { return !reads.empty(); }));
    runFor(100);
    std::size_t total = 0;
    for (const std::string& piece : reads) {
        EXPECT_LE(piece.size(), 100u);
        total += piece.size();
    }
    EXPECT_LT(total, 5000u);
}

TEST(TcpClientOnQt, FloodNeverBuffersMoreThanTheReadBuffer) {
    ServerOptions options;
    options.mode = ServerMode::Flood;
    options.floodBytes = 16 * 1024 * 1024;
    DaytimeServer server("127.0.0.20", options);
    QtTcpClient client;
    std::size_t mostBuffered = 0;
    int arrivals = 0;
    client.onDataArrival = [&] {
        ++arrivals;
        mostBuffered = std::max(mostBuffered, client.bufferedBytes());
        // Reads nothing: a slow reader must not let the buffer grow.
    };
    client.connect("127.0.0.20", 13);
    ASSERT_TRUE(waitUntil([&] { return arrivals > 0; }));
    runFor(300);
    EXPECT_LE(mostBuffered, kSocketReadBufferBytes);
    EXPECT_LT(server.bytesSent(), options.floodBytes);  // the sender was held back
}

TEST(TcpClientOnQt, NothingArrivesAfterClose) {
    ServerOptions options;
    options.mode = ServerMode::Drip;
    options.text = "0123456789";
    options.dripEveryMs = 10;
    DaytimeServer server("127.0.0.21", options);
    Recorder r;
    r.client.connect("127.0.0.21", 13);
    ASSERT_TRUE(waitUntil([&] { return r.arrivals >= 2; }));
    r.client.close();
    EXPECT_FALSE(r.client.isOpen());
    const int arrivalsAtClose = r.arrivals;
    runFor(150);
    EXPECT_EQ(r.arrivals, arrivalsAtClose);
    EXPECT_TRUE(r.errors.empty());
    EXPECT_EQ(r.client.readAll(100), std::nullopt);
}

TEST(TcpClientOnQt, CloseDuringTheLookupSilencesTheConnection) {
    // Qt delivers the lookup's result through a queued call; after close()
    // neither it nor the refused connection that would follow may report.
    Recorder r;
    r.client.connect("localhost", 13);
    r.client.close();
    runFor(200);
    EXPECT_TRUE(r.errors.empty());
    EXPECT_EQ(r.arrivals, 0);
}

TEST(TcpClientOnQt, HandlerMayCloseAndReconnect) {
    auto first = DaytimeServer::replying("127.0.0.22", "first 11:11:11\r\n");
    auto second = DaytimeServer::replying("127.0.0.23", "second 22:22:22\r\n");
    QtTcpClient client;
    std::vector<std::string> got;
    client.onDataArrival = [&] {
        got.push_back(client.readAll(1000).value_or("<failed>"));
        client.close();
        if (got.size() == 1) client.connect("127.0.0.23", 13);
    };
    client.connect("127.0.0.22", 13);
    ASSERT_TRUE(waitUntil([&] { return got.size() == 2; }));
    EXPECT_EQ(got[0], "first 11:11:11\r\n");
    EXPECT_EQ(got[1], "second 22:22:22\r\n");
}

TEST(TcpClientOnQt, MayBeDestroyedInsideItsNotification) {
    auto server = DaytimeServer::replying("127.0.0.24", "12:00:00\r\n");
    auto client = std::make_unique<QtTcpClient>();
    bool done = false;
    client->onDataArrival = [&] {
        client.reset();
        done = true;
    };
    client->connect("127.0.0.24", 13);
    ASSERT_TRUE(waitUntil([&] { return done; }));
    runFor(50);
}

}  // namespace
}  // namespace tempikon::qt
