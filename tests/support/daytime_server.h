#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

// A Daytime (RFC 867) server for tests, on a loopback address and port 13 by
// default. Each accepted connection is served on its own thread in one of the
// modes below; the destructor stops everything and joins the threads.
namespace tempikon::testsupport {

enum class ServerMode {
    Reply,                // sends text, then closes
    TwoPieces,            // sends text, pauses pauseMs, sends secondPiece, closes
    Silent,               // accepts and never sends; holds the connection
    CloseWithoutSending,  // accepts and closes at once
    Refused,              // nothing listens: connections are refused
    Flood,                // sends floodBytes bytes as fast as the peer takes them
    Drip,                 // sends one byte of text every dripEveryMs, round and round
    ResetMidReply,        // sends text, waits resetAfterMs, resets the connection (SO_LINGER 0)
    RealTime,             // sends the local time as it is ("Mon Dec  7 14:03:27 2026"), closes
};

struct ServerOptions {
    ServerMode mode = ServerMode::Reply;
    std::string text = "Sun Dec  6 14:03:27 2026\r\n";
    std::string secondPiece;
    int pauseMs = 200;
    std::size_t floodBytes = 0;
    int dripEveryMs = 100;
    int resetAfterMs = 300;
    std::uint16_t port = 13;
};

class DaytimeServer {
public:
    // Binds address:port with SO_REUSEADDR and starts serving (not for
    // Refused). Throws std::runtime_error when the address cannot be bound.
    DaytimeServer(std::string address, ServerOptions options);
    ~DaytimeServer();
    DaytimeServer(const DaytimeServer&) = delete;
    DaytimeServer& operator=(const DaytimeServer&) = delete;

    static std::unique_ptr<DaytimeServer> replying(const std::string& address, std::string text);
    static std::unique_ptr<DaytimeServer> inMode(const std::string& address, ServerMode mode);

    const std::string& address() const { return address_; }
    std::uint16_t port() const { return options_.port; }
    int connectionsAccepted() const { return accepted_.load(); }
    // Connections the server has closed or reset.
    int connectionsEnded() const { return ended_.load(); }
    std::size_t bytesSent() const { return sent_.load(); }
    // Waits until n connections were accepted; false on time-out.
    bool waitForConnections(int n, int timeoutMs) const;
    // Waits until n connections were closed or reset; false on time-out.
    bool waitForEndedConnections(int n, int timeoutMs) const;
    // Stops accepting and ends every connection; idempotent.
    void stop();

private:
    void acceptLoop();
    void serve(int fd);
    // Sleeps up to ms; true when the server is stopping.
    bool pause(int ms);
    bool sendAll(int fd, const char* data, std::size_t size);
    // Waits until the peer closes or the server stops.
    void holdUntilPeerCloses(int fd);

    std::string address_;
    ServerOptions options_;
    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    std::thread acceptThread_;
    std::vector<std::thread> workers_;
    std::set<int> openFds_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::atomic<int> ended_{0};
    std::atomic<std::size_t> sent_{0};
};

// A minimal blocking Daytime client: connects, reads until the server closes
// (or the first data when firstDataOnly), gives up after timeoutMs.
// nullopt on any failure.
std::optional<std::string> blockingDaytimeQuery(const std::string& address, std::uint16_t port,
                                                int timeoutMs, bool firstDataOnly = true);

}  // namespace tempikon::testsupport
