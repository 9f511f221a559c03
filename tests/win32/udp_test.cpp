// The Winsock UDP client of the Win32 backend against a socket of the test's
// own on 127.0.0.1 at a free port, which plays the server. Wine binds a UDP
// socket on another loopback address to the whole interface, and its replies
// then come from 127.0.0.1: only there does the source match the server.
#include "platform/win32/win32_udp_client.h"
#include "tests/win32/backend_fixture.h"

namespace tempikon::win32::test {
namespace {

std::int64_t nowMicros() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const auto ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (static_cast<std::int64_t>(ticks) - 116'444'736'000'000'000LL) / 10;
}

// A blocking UDP socket bound on loopback, driven by the test itself.
class Peer {
public:
    Peer() {
        socket_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
        bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        int length = sizeof address;
        getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        DWORD limitMs = 5000;  // a safety net, not a timing check
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limitMs),
                   sizeof limitMs);
    }
    ~Peer() { closesocket(socket_); }
    std::uint16_t port() const { return port_; }

    // The next datagram and where it came from; empty when none came.
    std::string receive(sockaddr_in& from) {
        char buffer[4096];
        int length = sizeof from;
        const int n = recvfrom(socket_, buffer, sizeof buffer, 0,
                               reinterpret_cast<sockaddr*>(&from), &length);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    }
    void sendTo(const sockaddr_in& to, const std::string& bytes) {
        sendto(socket_, bytes.data(), static_cast<int>(bytes.size()), 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }

private:
    SOCKET socket_;
    std::uint16_t port_ = 0;
};

class Udp : public Backend {
protected:
    void SetUp() override {
        client = std::make_unique<Win32UdpClient>(platform);
        client->onReady = [this] { ++ready; };
        client->onDatagram = [this](const platform::Datagram& d) { datagrams.push_back(d); };
        client->onError = [this](platform::SocketErrorKind kind, const std::string&) {
            errors.push_back(kind);
        };
    }

    std::unique_ptr<Win32UdpClient> client;
    int ready = 0;
    std::vector<platform::Datagram> datagrams;
    std::vector<platform::SocketErrorKind> errors;
};

TEST_F(Udp, ARequestAndItsReplyWithPlausibleTimes) {
    Peer server;
    client->open("127.0.0.1", server.port());
    EXPECT_TRUE(client->isOpen());
    EXPECT_EQ(ready, 0);  // only from the message loop
    ASSERT_TRUE(waitUntil([&] { return ready == 1; }));

    const std::int64_t before = nowMicros();
    const auto sent = client->send(std::string("ti\0me?", 6));
    ASSERT_TRUE(sent.has_value());
    // The coarse clock may lag the precise one by its tick.
    EXPECT_GE(*sent, before - 20'000);
    EXPECT_LE(*sent, nowMicros() + 20'000);

    sockaddr_in from{};
    EXPECT_EQ(server.receive(from), std::string("ti\0me?", 6));
    EXPECT_EQ(ntohs(from.sin_port), client->localPort());
    server.sendTo(from, "now");
    ASSERT_TRUE(waitUntil([&] { return !datagrams.empty(); }));
    EXPECT_EQ(datagrams[0].bytes, "now");
    EXPECT_TRUE(datagrams[0].fromServer);
    EXPECT_EQ(datagrams[0].from, "127.0.0.1:" + std::to_string(server.port()));
    EXPECT_GE(datagrams[0].receivedMicros, *sent);
    EXPECT_TRUE(errors.empty());
}

TEST_F(Udp, EverySendUsesANewPortAndOnlyItsRepliesArrive) {
    Peer server;
    client->open("127.0.0.1", server.port());
    ASSERT_TRUE(waitUntil([&] { return ready == 1; }));
    sockaddr_in first{};
    sockaddr_in second{};
    ASSERT_TRUE(client->send("one"));
    EXPECT_EQ(server.receive(first), "one");
    ASSERT_TRUE(client->send("two"));
    EXPECT_EQ(server.receive(second), "two");
    EXPECT_NE(first.sin_port, second.sin_port);
    server.sendTo(first, "late");
    server.sendTo(second, "latest");
    ASSERT_TRUE(waitUntil([&] { return !datagrams.empty(); }));
    settle(100);
    ASSERT_EQ(datagrams.size(), 1u);
    EXPECT_EQ(datagrams[0].bytes, "latest");
}

TEST_F(Udp, ANameThatDoesNotResolveIsHostNotFound) {
    client->open("no-such-host.invalid", 123);
    EXPECT_TRUE(errors.empty());
    ASSERT_TRUE(waitUntil([&] { return !errors.empty(); }));
    EXPECT_EQ(errors[0], platform::SocketErrorKind::HostNotFound);
    EXPECT_FALSE(client->isOpen());
}

TEST_F(Udp, MayBeDestroyedInsideItsNotification) {
    Peer server;
    bool done = false;
    client->onDatagram = [&](const platform::Datagram&) {
        client.reset();
        done = true;
    };
    client->open("127.0.0.1", server.port());
    ASSERT_TRUE(waitUntil([&] { return ready == 1; }));
    ASSERT_TRUE(client->send("x"));
    sockaddr_in from{};
    server.receive(from);
    for (int i = 0; i < 3; ++i) server.sendTo(from, "y");
    ASSERT_TRUE(waitUntil([&] { return done; }));
    settle(100);
}

}  // namespace
}  // namespace tempikon::win32::test
