#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/tcp_client.h"

namespace tempikon::platform {

// One datagram from the network, with the moment it arrived.
struct Datagram {
    std::string bytes;
    // The system clock (microseconds since 1970 UTC, as Clock::nowMicros)
    // when the datagram arrived: the kernel's receive time where the system
    // gives one, else the clock read as soon as the datagram was seen.
    std::int64_t receivedMicros = 0;
    // It came from the address and port the requests go to. Anything else
    // is handed over too, so that the caller can say why it was not used.
    bool fromServer = false;
    // Where it came from, for a reason ("127.0.0.1:123", "[::1]:123").
    std::string from;
};

// A UDP client for request and reply exchanges with one server, its
// notifications on the window thread like the TCP client's.
//
// open() looks the host up without blocking (the first address of the
// name); onReady follows when requests can be sent, onError when the name
// cannot be used. Every send() goes out from a new socket on a fresh
// random local port (RFC 9109), so a reply to an earlier request is never
// taken for the answer to the latest one.
class UdpClient {
public:
    virtual ~UdpClient() = default;
    virtual void open(const std::string& host, std::uint16_t port) = 0;
    // Sends one datagram to the server. Returns the system clock read right
    // before the send (microseconds since 1970 UTC), or nullopt when the
    // send failed (onError has then been called).
    virtual std::optional<std::int64_t> send(const std::string& bytes) = 0;
    // Stops everything, the lookup included; no notification follows.
    virtual void close() = 0;
    // Looking up or ready.
    virtual bool isOpen() const = 0;

    std::function<void()> onReady;
    std::function<void(const Datagram& datagram)> onDatagram;
    // Refused: the system reported the port unreachable.
    std::function<void(SocketErrorKind kind, const std::string& description)> onError;
};

}  // namespace tempikon::platform
