// The Winsock client of the Win32 backend against servers on loopback,
// started by the tests on threads of their own.
#include <atomic>
#include <thread>

#include "test_addresses.h"
#include "tests/win32/backend_fixture.h"

namespace addresses = tempikon::test_addresses;

namespace tempikon::win32::test {
namespace {

// A one-connection server on an address of block win32 at a free port. The
// script runs on the server's thread with the accepted socket.
class Server {
public:
    explicit Server(std::function<void(SOCKET)> script) {
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        inet_pton(AF_INET, addresses::win32.at(4), &address.sin_addr);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 4);
        int length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, script = std::move(script)] {
            SOCKET peer = accept(listener_, nullptr, nullptr);
            if (peer == INVALID_SOCKET) return;
            accepted = true;
            script(peer);
            closesocket(peer);
            finished = true;
        });
    }
    ~Server() {
        release = true;
        closesocket(listener_);  // ends an accept() still waiting
        thread_.join();
    }
    std::uint16_t port() const { return port_; }

    std::atomic<bool> accepted{false};
    std::atomic<bool> finished{false};
    std::atomic<bool> release{false};  // set when the test is over

private:
    SOCKET listener_;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

void sendAll(SOCKET s, const std::string& bytes) {
    send(s, bytes.data(), static_cast<int>(bytes.size()), 0);
}

// A free port nobody listens on: connecting there is refused.
std::uint16_t closedPort() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, addresses::win32.at(5), &address.sin_addr);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    closesocket(s);
    return ntohs(address.sin_port);
}

class Tcp : public Backend {
protected:
    void SetUp() override {
        client = platform.createTcpClient();
        client->onDataArrival = [this] {
            ++arrivals;
            if (auto bytes = client->readAll(maxBytes)) {
                received += *bytes;
                reads.push_back(bytes->size());
            } else {
                ++failedReads;
            }
        };
        client->onError = [this](tempikon::platform::SocketErrorKind,
                                 const std::string& description) { errors.push_back(description); };
    }

    std::unique_ptr<platform::TcpClient> client;
    std::size_t maxBytes = 64 * 1024;
    std::string received;
    std::vector<std::size_t> reads;
    std::vector<std::string> errors;
    int arrivals = 0;
    int failedReads = 0;
};

TEST_F(Tcp, AReplyArrivesByteForByte) {
    const std::string reply("Sun Dec  6 14:03:27 2026\r\n\x00\xE9\xFF", 29);
    Server server([&](SOCKET s) { sendAll(s, reply); });
    client->connect(addresses::win32.at(4), server.port());
    EXPECT_TRUE(client->isOpen());
    EXPECT_EQ(arrivals, 0);  // notifications come from the event loop only
    ASSERT_TRUE(waitUntil([&] { return received.size() >= reply.size(); }));
    EXPECT_EQ(received, reply);
    EXPECT_TRUE(errors.empty());
}

TEST_F(Tcp, AReplyInTwoPiecesArrivesWhole) {
    Server server([&](SOCKET s) {
        sendAll(s, "14:0");
        Sleep(150);
        sendAll(s, "3:27\r\n");
    });
    client->connect(addresses::win32.at(4), server.port());
    ASSERT_TRUE(waitUntil([&] { return received.size() >= 10; }));
    EXPECT_EQ(received, "14:03:27\r\n");
    EXPECT_GE(arrivals, 1);
    EXPECT_TRUE(errors.empty());
}

TEST_F(Tcp, ThePeerClosingWithoutSendingIsNeitherDataNorError) {
    Server server([](SOCKET) {});
    client->connect(addresses::win32.at(4), server.port());
    ASSERT_TRUE(waitUntil([&] { return server.finished && !client->isOpen(); }));
    settle();
    EXPECT_EQ(arrivals, 0);
    EXPECT_TRUE(errors.empty());
}

TEST_F(Tcp, ASilentServerGivesNothing) {
    Server server([&](SOCKET) {
        while (!server.release) Sleep(10);
    });
    client->connect(addresses::win32.at(4), server.port());
    ASSERT_TRUE(waitUntil([&] { return server.accepted.load(); }));
    settle();
    EXPECT_TRUE(client->isOpen());
    EXPECT_EQ(arrivals, 0);
    EXPECT_TRUE(errors.empty());
    client->close();
    EXPECT_FALSE(client->isOpen());
}

TEST_F(Tcp, ARefusedConnectionIsAnErrorWithTheSystemsText) {
    client->connect(addresses::win32.at(5), closedPort());
    ASSERT_TRUE(waitUntil([&] { return !errors.empty(); }));
    EXPECT_FALSE(errors[0].empty());
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_FALSE(client->isOpen());
    EXPECT_EQ(client->readAll(100), std::nullopt);
}

TEST_F(Tcp, ANameThatDoesNotResolveIsAnErrorAndConnectDoesNotWaitForIt) {
    for (const char* host : {"no-such-host.invalid", "bad host name", ""}) {
        errors.clear();
        client->connect(host, 13);
        // The lookup runs elsewhere: connect() has returned before it ends.
        EXPECT_TRUE(client->isOpen()) << host;
        EXPECT_TRUE(errors.empty()) << host;
        ASSERT_TRUE(waitUntil([&] { return !errors.empty(); })) << host;
        EXPECT_FALSE(errors[0].empty());
        EXPECT_FALSE(client->isOpen());
    }
    const std::string longName(300, 'a');
    client->connect(longName, 13);
    ASSERT_TRUE(waitUntil([&] { return !errors.empty(); }));
}

TEST_F(Tcp, ReadAllKeepsAtMostMaxBytesAndDropsTheRest) {
    std::string flood;
    for (int i = 0; i < 200000; ++i) flood += static_cast<char>('a' + i % 26);
    Server server([&](SOCKET s) { sendAll(s, flood); });
    maxBytes = 1000;
    client->connect(addresses::win32.at(4), server.port());
    ASSERT_TRUE(waitUntil([&] { return server.finished && !client->isOpen(); }));
    settle();
    ASSERT_FALSE(reads.empty());
    for (std::size_t n : reads) EXPECT_LE(n, 1000u);
    EXPECT_EQ(received.substr(0, 1000), flood.substr(0, 1000));
    EXPECT_LT(received.size(), flood.size());  // something was dropped, not kept
    EXPECT_TRUE(errors.empty());
}

TEST_F(Tcp, ACloseSilencesTheOldConnectionForTheNextOne) {
    std::atomic<bool> go{false};
    Server talker([&](SOCKET s) {
        while (!go) Sleep(1);
        sendAll(s, "12:00:00\r\n");
    });
    Server silent([&](SOCKET) {
        while (!silent.release) Sleep(10);
    });
    client->connect(addresses::win32.at(4), talker.port());
    ASSERT_TRUE(waitUntil([&] { return talker.accepted.load(); }));
    // The reply is sent but not handled: no events are handled meanwhile.
    go = true;
    for (int i = 0; i < 2000 && !talker.finished; ++i) Sleep(5);
    ASSERT_TRUE(talker.finished);
    Sleep(50);
    // The client gives up on the reply waiting in the queue.
    client->close();
    client->connect(addresses::win32.at(4), silent.port());
    ASSERT_TRUE(waitUntil([&] { return silent.accepted.load(); }));
    settle();
    EXPECT_EQ(arrivals, 0);
    EXPECT_TRUE(errors.empty());
}

TEST_F(Tcp, ClosingOrDestroyingDuringTheLookupIsQuiet) {
    Server server([&](SOCKET s) { sendAll(s, "12:00:00"); });
    client->connect(addresses::win32.at(4), server.port());
    client->close();
    EXPECT_FALSE(client->isOpen());
    auto other = platform.createTcpClient();
    int otherEvents = 0;
    other->onDataArrival = [&] { ++otherEvents; };
    other->onError = [&](tempikon::platform::SocketErrorKind, const std::string&) {
        ++otherEvents;
    };
    other->connect(addresses::win32.at(4), server.port());
    other.reset();
    settle();
    EXPECT_EQ(arrivals, 0);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(otherEvents, 0);
}

TEST_F(Tcp, AClientConnectsAgainAfterAQuery) {
    Server first([&](SOCKET s) { sendAll(s, "first"); });
    Server second([&](SOCKET s) { sendAll(s, "second"); });
    client->connect(addresses::win32.at(4), first.port());
    ASSERT_TRUE(waitUntil([&] { return received == "first"; }));
    client->close();
    received.clear();
    client->connect(addresses::win32.at(4), second.port());
    ASSERT_TRUE(waitUntil([&] { return received == "second"; }));
}

}  // namespace
}  // namespace tempikon::win32::test
