// The UDP client against sockets of the test's own on loopback
// (block backend_udp), which play the server.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <QTimer>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backend_env.h"
#include "platform/qt/qt_udp_client.h"
#include "test_addresses.h"

namespace addresses = tempikon::test_addresses;

namespace tempikon::qt {
namespace {

using testing::runFor;
using testing::waitUntil;
using Kind = tempikon::platform::SocketErrorKind;

std::int64_t nowMicros() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
}

sockaddr_in loopback(const char* address, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address, &a.sin_addr);
    return a;
}

// A bound UDP socket that plays the server, driven by the test itself.
class Peer {
public:
    explicit Peer(const char* address, std::uint16_t port = 0) : address_(address) {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = loopback(address, port);
        bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        socklen_t length = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length);
        port_ = ntohs(a.sin_port);
    }
    ~Peer() { close(fd_); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool bound() const { return bound_; }
    std::uint16_t port() const { return port_; }
    std::string name() const { return address_ + ":" + std::to_string(port_); }

    struct Received {
        std::string bytes;
        sockaddr_in from{};
    };
    // The next datagram; nullopt when none comes within a few seconds (a
    // safety net, not a timing check).
    std::optional<Received> receive() {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 5000) != 1) return std::nullopt;
        char buffer[4096];
        Received r;
        socklen_t length = sizeof r.from;
        const ssize_t n =
            recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&r.from), &length);
        if (n < 0) return std::nullopt;
        r.bytes.assign(buffer, static_cast<std::size_t>(n));
        return r;
    }
    void sendTo(const sockaddr_in& to, const std::string& bytes) {
        sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to);
    }

private:
    std::string address_;
    int fd_ = -1;
    bool bound_ = false;
    std::uint16_t port_ = 0;
};

// A client and what it reported.
struct Recorder {
    std::unique_ptr<QtUdpClient> client = std::make_unique<QtUdpClient>();
    int ready = 0;
    std::vector<tempikon::platform::Datagram> datagrams;
    std::vector<std::pair<Kind, std::string>> errors;

    Recorder() {
        client->onReady = [this] { ++ready; };
        client->onDatagram = [this](const tempikon::platform::Datagram& d) {
            datagrams.push_back(d);
        };
        client->onError = [this](Kind kind, const std::string& description) {
            errors.emplace_back(kind, description);
        };
    }
    // Opens on the server and waits until requests can go out.
    bool openOn(const char* host, std::uint16_t port) {
        client->open(host, port);
        return waitUntil([&] { return ready > 0 || !errors.empty(); }) && ready == 1;
    }
};

TEST(UdpClientOnQt, TheServersReplyComesWithItsReceiveTime) {
    Peer server(addresses::backend_udp.at(0));
    ASSERT_TRUE(server.bound());
    Recorder r;
    r.client->open(addresses::backend_udp.at(0), server.port());
    EXPECT_TRUE(r.client->isOpen());
    EXPECT_EQ(r.ready, 0);  // only from the event loop
    ASSERT_TRUE(waitUntil([&] { return r.ready == 1; }));

    const std::int64_t before = nowMicros();
    const std::optional<std::int64_t> sent = r.client->send(std::string("req\0uest", 8));
    const std::int64_t after = nowMicros();
    ASSERT_TRUE(sent.has_value());
    EXPECT_GE(*sent, before);
    EXPECT_LE(*sent, after);

    const auto request = server.receive();
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->bytes, std::string("req\0uest", 8));
    server.sendTo(request->from, std::string("re\0ply", 6));
    ASSERT_TRUE(waitUntil([&] { return !r.datagrams.empty(); }));
    const auto& d = r.datagrams.front();
    EXPECT_EQ(d.bytes, std::string("re\0ply", 6));
    EXPECT_TRUE(d.fromServer);
    EXPECT_EQ(d.from, server.name());
    EXPECT_GE(d.receivedMicros, *sent);
    EXPECT_LE(d.receivedMicros, nowMicros());
    EXPECT_TRUE(r.errors.empty());
}

TEST(UdpClientOnQt, DatagramsFromAnyoneElseArriveMarkedAsNotFromTheServer) {
    Peer server(addresses::backend_udp.at(1));
    Peer otherPort(addresses::backend_udp.at(1));
    Peer otherAddress(addresses::backend_udp.at(2), server.port());
    ASSERT_TRUE(server.bound() && otherPort.bound() && otherAddress.bound());
    Recorder r;
    ASSERT_TRUE(r.openOn(addresses::backend_udp.at(1), server.port()));
    ASSERT_TRUE(r.client->send("ask"));
    const auto request = server.receive();
    ASSERT_TRUE(request.has_value());
    for (Peer* stranger : {&otherPort, &otherAddress}) {
        r.datagrams.clear();
        stranger->sendTo(request->from, "not me");
        ASSERT_TRUE(waitUntil([&] { return !r.datagrams.empty(); })) << stranger->name();
        EXPECT_FALSE(r.datagrams[0].fromServer) << stranger->name();
        EXPECT_EQ(r.datagrams[0].from, stranger->name());
        EXPECT_EQ(r.datagrams[0].bytes, "not me");
    }
}

TEST(UdpClientOnQt, EverySendGoesOutFromANewPortAndOnlyItsRepliesArrive) {
    Peer server(addresses::backend_udp.at(3));
    Recorder r;
    ASSERT_TRUE(r.openOn(addresses::backend_udp.at(3), server.port()));
    std::vector<sockaddr_in> sources;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(r.client->send("n" + std::to_string(i)));
        const auto request = server.receive();
        ASSERT_TRUE(request.has_value());
        EXPECT_EQ(request->bytes, "n" + std::to_string(i));
        if (!sources.empty()) {
            EXPECT_NE(request->from.sin_port, sources.back().sin_port) << i;
        }
        sources.push_back(request->from);
    }
    EXPECT_EQ(r.client->localPort(), ntohs(sources.back().sin_port));
    // A late reply to an earlier request finds its socket gone.
    server.sendTo(sources.front(), "late");
    server.sendTo(sources.back(), "latest");
    ASSERT_TRUE(waitUntil([&] { return !r.datagrams.empty(); }));
    runFor(100);
    ASSERT_EQ(r.datagrams.size(), 1u);
    EXPECT_EQ(r.datagrams[0].bytes, "latest");
    EXPECT_TRUE(r.errors.empty());
}

TEST(UdpClientOnQt, APortNobodyListensOnIsRefused) {
    std::uint16_t closedPort = 0;
    {
        Peer gone(addresses::backend_udp.at(4));
        closedPort = gone.port();
    }
    Recorder r;
    ASSERT_TRUE(r.openOn(addresses::backend_udp.at(4), closedPort));
    ASSERT_TRUE(r.client->send("anyone?"));
    EXPECT_TRUE(r.errors.empty());  // only from the event loop
    ASSERT_TRUE(waitUntil([&] { return !r.errors.empty(); }));
    EXPECT_EQ(r.errors[0].first, Kind::Refused) << r.errors[0].second;
    EXPECT_NE(r.errors[0].second.find("refused"), std::string::npos) << r.errors[0].second;
    EXPECT_TRUE(r.datagrams.empty());
}

TEST(UdpClientOnQt, ANameThatDoesNotResolveIsHostNotFoundAndCloses) {
    Recorder r;
    r.client->open("no-such-host.invalid", 123);
    EXPECT_TRUE(r.client->isOpen());  // looking up
    EXPECT_TRUE(r.errors.empty());
    ASSERT_TRUE(waitUntil([&] { return !r.errors.empty(); }));
    EXPECT_EQ(r.errors[0].first, Kind::HostNotFound);
    EXPECT_FALSE(r.client->isOpen());
    EXPECT_EQ(r.ready, 0);
    // Nothing can be sent; the failure comes from the event loop, not send().
    EXPECT_EQ(r.client->send("x"), std::nullopt);
    EXPECT_EQ(r.errors.size(), 1u);
}

TEST(UdpClientOnQt, ADatagramOfAnySizeArrivesWhole) {
    Peer server(addresses::backend_udp.at(5));
    Recorder r;
    ASSERT_TRUE(r.openOn(addresses::backend_udp.at(5), server.port()));
    ASSERT_TRUE(r.client->send("big?"));
    const auto request = server.receive();
    ASSERT_TRUE(request.has_value());
    // An NTS reply with eight cookies of 256 bytes, and UDP's largest.
    std::vector<std::string> sent;
    for (const std::size_t size : {std::size_t{2300}, std::size_t{65507}}) {
        std::string big;
        for (std::size_t i = 0; i < size; ++i) big += char('a' + i % 26);
        server.sendTo(request->from, big);
        sent.push_back(big);
    }
    server.sendTo(request->from, "small");
    ASSERT_TRUE(waitUntil([&] { return r.datagrams.size() == 3; }));
    EXPECT_EQ(r.datagrams[0].bytes, sent[0]);
    EXPECT_EQ(r.datagrams[1].bytes, sent[1]);
    EXPECT_EQ(r.datagrams[2].bytes, "small");
}

TEST(UdpClientOnQt, AFloodLeavesOtherEventsTheirTurnAndLosesNothing) {
    Peer server(addresses::backend_udp.at(6));
    Recorder r;
    ASSERT_TRUE(r.openOn(addresses::backend_udp.at(6), server.port()));
    ASSERT_TRUE(r.client->send("go"));
    const auto request = server.receive();
    ASSERT_TRUE(request.has_value());
    constexpr std::size_t kFlood = 10 * kDatagramsPerNotification;
    for (std::size_t i = 0; i < kFlood; ++i) server.sendTo(request->from, std::to_string(i));
    std::optional<std::size_t> seenWhenTimerRan;
    QTimer::singleShot(0, [&] { seenWhenTimerRan = r.datagrams.size(); });
    ASSERT_TRUE(waitUntil([&] { return r.datagrams.size() == kFlood && seenWhenTimerRan; }));
    EXPECT_LT(*seenWhenTimerRan, kFlood);
    for (std::size_t i = 0; i < kFlood; ++i) EXPECT_EQ(r.datagrams[i].bytes, std::to_string(i));
}

TEST(UdpClientOnQt, CloseSilencesTheLookupAndTheSocket) {
    Peer server(addresses::backend_udp.at(7));
    Recorder r;
    r.client->open("localhost", server.port());
    r.client->close();
    EXPECT_FALSE(r.client->isOpen());
    runFor(200);
    EXPECT_EQ(r.ready, 0);

    ASSERT_TRUE(r.openOn(addresses::backend_udp.at(7), server.port()));
    ASSERT_TRUE(r.client->send("q"));
    const auto request = server.receive();
    ASSERT_TRUE(request.has_value());
    server.sendTo(request->from, "reply");
    r.client->close();
    runFor(100);
    EXPECT_TRUE(r.datagrams.empty());
    EXPECT_TRUE(r.errors.empty());
}

// The owner may close or destroy the client from inside any notification,
// with more of them pending.
TEST(UdpClientOnQt, MayBeClosedOrDestroyedInsideItsNotifications) {
    Peer server(addresses::backend_udp.at(8));
    enum class Inside { Ready, Datagram, LookupError, RefusedError };
    for (const bool destroy : {false, true}) {
        for (const Inside inside :
             {Inside::Ready, Inside::Datagram, Inside::LookupError, Inside::RefusedError}) {
            const std::string what = std::string(destroy ? "destroy" : "close") + " in case " +
                                     std::to_string(static_cast<int>(inside));
            Recorder r;
            int calls = 0;
            auto end = [&] {
                ++calls;
                if (destroy) {
                    r.client.reset();
                } else {
                    r.client->close();
                }
            };
            r.client->onReady = [&] {
                ++r.ready;
                if (inside == Inside::Ready) end();
            };
            if (inside == Inside::Datagram)
                r.client->onDatagram = [&](const tempikon::platform::Datagram&) { end(); };
            if (inside == Inside::LookupError || inside == Inside::RefusedError)
                r.client->onError = [&](Kind, const std::string&) { end(); };

            if (inside == Inside::LookupError) {
                r.client->open("no-such-host.invalid", 123);
            } else if (inside == Inside::RefusedError) {
                std::uint16_t closed = 0;
                {
                    Peer gone(addresses::backend_udp.at(8));
                    closed = gone.port();
                }
                r.client->open(addresses::backend_udp.at(8), closed);
            } else {
                r.client->open(addresses::backend_udp.at(8), server.port());
            }
            if (inside == Inside::Datagram || inside == Inside::RefusedError) {
                ASSERT_TRUE(waitUntil([&] { return r.ready == 1; })) << what;
                ASSERT_TRUE(r.client->send("x")) << what;
            }
            if (inside == Inside::Datagram) {
                const auto request = server.receive();
                ASSERT_TRUE(request.has_value()) << what;
                for (int i = 0; i < 3; ++i) server.sendTo(request->from, "y");
            }
            ASSERT_TRUE(waitUntil([&] { return calls > 0; })) << what;
            runFor(100);
            EXPECT_EQ(calls, 1) << what;
            if (!destroy) {
                EXPECT_FALSE(r.client->isOpen()) << what;
            }
        }
    }
}

}  // namespace
}  // namespace tempikon::qt
