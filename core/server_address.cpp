#include "core/server_address.h"

namespace tempikon::core {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// 1 ... 65535 in decimal digits only; leading zeros are allowed.
std::optional<std::uint16_t> ParsePort(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > 65535) return std::nullopt;
    }
    if (value == 0) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<ServerAddress> ParseServerAddress(std::string_view text, std::uint16_t defaultPort) {
    text = Trimmed(text);
    std::string_view host = text;
    std::optional<std::string_view> portText;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = text.substr(1, close - 1);
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return std::nullopt;
            portText = rest.substr(1);
        }
    } else if (const std::size_t colon = text.find(':');
               colon != std::string_view::npos &&
               text.find(':', colon + 1) == std::string_view::npos) {
        // One colon: host and port. Two or more: a bare IPv6 address.
        host = text.substr(0, colon);
        portText = text.substr(colon + 1);
    }
    if (host.empty()) return std::nullopt;
    std::uint16_t port = defaultPort;
    if (portText) {
        const auto parsed = ParsePort(*portText);
        if (!parsed) return std::nullopt;
        port = *parsed;
    }
    return ServerAddress{std::string(host), port};
}

}  // namespace tempikon::core
