#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/reentrance.h"
#include "platform/udp_client.h"
#include "platform/win32/win32_common.h"
#include "platform/win32/win32_platform.h"

namespace tempikon::win32 {

// The largest datagram UDP carries: every reply, however large a request
// makes it (eight NTS cookies of 256 bytes), is read whole.
inline constexpr std::size_t kMaxDatagramBytes = 65536;
// Datagrams handled per notification: Winsock posts FD_READ again while more
// wait, so a flood leaves the other messages their turn.
inline constexpr int kDatagramsPerNotification = 16;

// An unbound-to-the-server UDP socket with WSAAsyncSelect, a new one on a
// random port for every send(). Windows reports an ICMP port unreachable as
// WSAECONNRESET on the next receive: that is Refused.
class Win32UdpClient : public platform::UdpClient, public Win32SocketOwner {
public:
    explicit Win32UdpClient(Win32Platform& platform) : platform_(platform) {}
    ~Win32UdpClient() override;
    Win32UdpClient(const Win32UdpClient&) = delete;
    Win32UdpClient& operator=(const Win32UdpClient&) = delete;

    void open(const std::string& host, std::uint16_t port) override;
    std::optional<std::int64_t> send(const std::string& bytes) override;
    void close() override;
    bool isOpen() const override { return open_; }

    // From the hidden window.
    void resolved(ADDRINFOW* addresses, int error) override;
    void socketEvent(SOCKET socket, int event, int error) override;

    // The local port of the latest send's socket, 0 without one (for tests).
    std::uint16_t localPort() const;

private:
    SOCKET openSocket();
    void closeSocket();
    void postError(platform::SocketErrorKind kind, const std::string& description);
    void report(platform::SocketErrorKind kind, const std::string& description);

    Win32Platform& platform_;
    sockaddr_storage server_{};
    int serverLength_ = 0;
    SOCKET socket_ = INVALID_SOCKET;
    UINT message_ = 0;
    std::uint64_t resolveToken_ = 0;
    bool open_ = false;
    bool ready_ = false;
    // Counts sockets, so that a posted error of an earlier one is dropped.
    std::uint64_t generation_ = 0;
    platform::Liveness liveness_;
    std::vector<char> receiveBuffer_ = std::vector<char>(kMaxDatagramBytes);
};

}  // namespace tempikon::win32
