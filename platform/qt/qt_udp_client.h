#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/qt/qt_lookup.h"
#include "platform/reentrance.h"
#include "platform/udp_client.h"

class QObject;
class QSocketNotifier;

namespace tempikon::qt {

// The largest datagram UDP carries: every reply, however large a request
// makes it (eight NTS cookies of 256 bytes), is read whole.
inline constexpr std::size_t kMaxDatagramBytes = 65536;
// Datagrams (and reported errors) handled per notification, so that a flood
// leaves the event loop its turn; the rest wait for the next one.
inline constexpr int kDatagramsPerNotification = 16;

// An unconnected, non-blocking UDP socket watched by a socket notifier, a new
// one for every send(). Datagrams from anyone are handed over, marked by
// whether they came from the server's address and port. The kernel's receive
// time comes with each (SO_TIMESTAMPNS); ICMP errors come through the error
// queue (IP_RECVERR), a port unreachable as Refused.
class QtUdpClient : public platform::UdpClient {
public:
    QtUdpClient();
    ~QtUdpClient() override;
    QtUdpClient(const QtUdpClient&) = delete;
    QtUdpClient& operator=(const QtUdpClient&) = delete;

    void open(const std::string& host, std::uint16_t port) override;
    std::optional<std::int64_t> send(const std::string& bytes) override;
    void close() override;
    bool isOpen() const override { return open_; }

    // The local port of the socket of the latest send(), 0 without one (for
    // tests).
    std::uint16_t localPort() const;

private:
    void onResolved(const std::vector<SocketAddress>& addresses, const std::string& error);
    void onReadable();
    bool readError(int fd);
    void closeSocket();
    void postError(platform::SocketErrorKind kind, const std::string& description);
    void report(platform::SocketErrorKind kind, const std::string& description);
    template <class F>
    void guarded(F f);

    // Receives the errors posted from send().
    std::unique_ptr<QObject> context_;
    NameLookup lookup_;
    SocketAddress server_;
    int fd_ = -1;
    QSocketNotifier* readable_ = nullptr;
    bool open_ = false;
    bool ready_ = false;
    // Counts sockets, so that a posted error of an earlier one is dropped.
    std::uint64_t generation_ = 0;
    // Depth of the notifications being handled, during which the notifier
    // is deleted later rather than under its own feet.
    int depth_ = 0;
    platform::Liveness liveness_;
    std::vector<char> receiveBuffer_ = std::vector<char>(kMaxDatagramBytes);
};

}  // namespace tempikon::qt
