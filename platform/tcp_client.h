#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tempikon::platform {

// Why a connection failed, as far as a user can act on it.
enum class SocketErrorKind { Refused, HostNotFound, Reset, Other };

// The description of a HostNotFound whose lookup never ran (no thread to be
// had, say): the name itself may be fine.
inline constexpr char kLookupNotStarted[] = "cannot start the lookup";

// A TCP client whose notifications arrive on the window thread.
// The peer closing the connection is not an error: it comes as
// onPeerClosed, after the data that came before it.
class TcpClient {
public:
    virtual ~TcpClient() = default;
    // Starts an asynchronous connection (name lookup included).
    virtual void connect(const std::string& host, std::uint16_t port) = 0;
    // Bytes received and not yet read, at most maxBytes; anything beyond is
    // discarded. nullopt when the read fails.
    virtual std::optional<std::string> readAll(std::size_t maxBytes) = 0;
    virtual void close() = 0;
    // Connecting or connected.
    virtual bool isOpen() const = 0;

    std::function<void()> onDataArrival;
    std::function<void()> onPeerClosed;
    std::function<void(SocketErrorKind kind, const std::string& description)> onError;
};

}  // namespace tempikon::platform
