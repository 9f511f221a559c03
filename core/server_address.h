#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tempikon::core {

// A server as configured: host and port.
struct ServerAddress {
    std::string host;  // a name, an IPv4 address, or an IPv6 address without brackets
    std::uint16_t port = 0;
    bool operator==(const ServerAddress&) const = default;
};

// "host", "host:port", "[v6-address]", "[v6-address]:port", or a bare IPv6
// address (two colons or more: no port can follow it). Blanks around are
// ignored. nullopt for an empty host, a port that is not 1 ... 65535 in
// decimal, or brackets that do not close.
std::optional<ServerAddress> ParseServerAddress(std::string_view text, std::uint16_t defaultPort);

}  // namespace tempikon::core
