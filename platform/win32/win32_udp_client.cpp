#include "platform/win32/win32_udp_client.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "platform/win32/win32_text.h"

namespace tempikon::win32 {

namespace {

// The system clock in microseconds since 1970 UTC, as precise as the system
// gives it: the precise reading needs Windows 8, so it is looked up.
std::int64_t NowMicros() {
    using Precise = void(WINAPI*)(LPFILETIME);
    static const Precise precise = [] {
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        return kernel ? reinterpret_cast<Precise>(reinterpret_cast<void*>(
                            GetProcAddress(kernel, "GetSystemTimePreciseAsFileTime")))
                      : nullptr;
    }();
    FILETIME now{};
    if (precise) {
        precise(&now);
    } else {
        GetSystemTimeAsFileTime(&now);
    }
    const std::int64_t ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    // 100 ns ticks since 1601.
    return (ticks - 116'444'736'000'000'000LL) / 10;
}

bool SameAddress(const sockaddr_storage& source, const sockaddr_storage& server) {
    if (source.ss_family != server.ss_family) return false;
    if (server.ss_family == AF_INET) {
        const auto& a = reinterpret_cast<const sockaddr_in&>(source);
        const auto& b = reinterpret_cast<const sockaddr_in&>(server);
        return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
    }
    const auto& a = reinterpret_cast<const sockaddr_in6&>(source);
    const auto& b = reinterpret_cast<const sockaddr_in6&>(server);
    return a.sin6_port == b.sin6_port &&
           std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0;
}

// "127.0.0.1:123" or "[::1]:123".
std::string Describe(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = "?";
    std::string out;
    if (address.ss_family == AF_INET) {
        const auto& a = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
        out.append(text).append(":").append(std::to_string(ntohs(a.sin_port)));
    } else if (address.ss_family == AF_INET6) {
        const auto& a = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &a.sin6_addr, text, sizeof text);
        out.append("[").append(text).append("]:").append(std::to_string(ntohs(a.sin6_port)));
    } else {
        out = text;
    }
    return out;
}

// Windows hands out its ephemeral ports in order; RFC 9109 asks for random
// ones, so the port is drawn here and the system's taken only if all tries
// are in use.
bool BindRandomPort(SOCKET s, int family) {
    static std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<int> port(49152, 65535);
    sockaddr_storage local{};
    local.ss_family = static_cast<ADDRESS_FAMILY>(family);
    const int length = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    for (int tries = 0; tries < 8; ++tries) {
        const u_short p = htons(static_cast<u_short>(port(random)));
        if (family == AF_INET) {
            reinterpret_cast<sockaddr_in&>(local).sin_port = p;
        } else {
            reinterpret_cast<sockaddr_in6&>(local).sin6_port = p;
        }
        if (bind(s, reinterpret_cast<const sockaddr*>(&local), length) == 0) return true;
    }
    reinterpret_cast<sockaddr_in&>(local).sin_port = 0;
    if (family == AF_INET6) reinterpret_cast<sockaddr_in6&>(local).sin6_port = 0;
    return bind(s, reinterpret_cast<const sockaddr*>(&local), length) == 0;
}

}  // namespace

Win32UdpClient::~Win32UdpClient() {
    liveness_.end();
    close();
}

void Win32UdpClient::open(const std::string& host, std::uint16_t port) {
    close();
    open_ = true;
    resolveToken_ = platform_.startLookup(this, host, port, SOCK_DGRAM);
}

void Win32UdpClient::resolved(ADDRINFOW* addresses, int error) {
    resolveToken_ = 0;
    if (!open_ || ready_) {
        if (addresses) FreeAddrInfoW(addresses);
        return;
    }
    const ADDRINFOW* first = addresses;
    while (first && ((first->ai_family != AF_INET && first->ai_family != AF_INET6) ||
                     first->ai_addrlen > sizeof server_))
        first = first->ai_next;
    if (!first) {
        if (addresses) FreeAddrInfoW(addresses);
        open_ = false;
        if (error == kLookupNotStarted) {
            report(platform::SocketErrorKind::HostNotFound, platform::kLookupNotStarted);
        } else {
            report(platform::SocketErrorKind::HostNotFound,
                   systemMessage(static_cast<unsigned long>(error ? error : WSAHOST_NOT_FOUND)));
        }
        return;
    }
    server_ = {};
    std::memcpy(&server_, first->ai_addr, first->ai_addrlen);
    serverLength_ = static_cast<int>(first->ai_addrlen);
    FreeAddrInfoW(addresses);
    ready_ = true;
    if (onReady) {
        const auto handler = onReady;
        handler();
    }
}

SOCKET Win32UdpClient::openSocket() {
    SOCKET s = ::socket(server_.ss_family, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return s;
    if (!BindRandomPort(s, server_.ss_family)) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

std::optional<std::int64_t> Win32UdpClient::send(const std::string& bytes) {
    if (!ready_) {
        postError(platform::SocketErrorKind::Other, "not ready to send");
        return std::nullopt;
    }
    // The old socket still holds its port meanwhile, so the new one cannot
    // get it again.
    const SOCKET s = openSocket();
    const int openError = WSAGetLastError();
    closeSocket();
    if (s == INVALID_SOCKET) {
        postError(platform::SocketErrorKind::Other,
                  systemMessage(static_cast<unsigned long>(openError)));
        return std::nullopt;
    }
    socket_ = s;
    message_ = platform_.socketMessage(this);
    // WSAAsyncSelect also makes the socket non-blocking.
    if (message_ == 0 ||
        WSAAsyncSelect(socket_, platform_.messageWindow(), message_, FD_READ) != 0) {
        const int error = message_ == 0 ? WSAEMFILE : WSAGetLastError();
        closeSocket();
        postError(platform::SocketErrorKind::Other,
                  systemMessage(static_cast<unsigned long>(error)));
        return std::nullopt;
    }
    const std::int64_t sentMicros = NowMicros();
    if (sendto(socket_, bytes.data(), static_cast<int>(bytes.size()), 0,
               reinterpret_cast<const sockaddr*>(&server_), serverLength_) == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        postError(error == WSAECONNRESET ? platform::SocketErrorKind::Refused
                                         : platform::SocketErrorKind::Other,
                  systemMessage(static_cast<unsigned long>(error)));
        return std::nullopt;
    }
    return sentMicros;
}

void Win32UdpClient::socketEvent(SOCKET socket, int event, int error) {
    if (socket != socket_ || socket_ == INVALID_SOCKET || event != FD_READ) return;
    const platform::Liveness::Watch watch = liveness_.watch();
    if (error) {
        report(error == WSAECONNRESET ? platform::SocketErrorKind::Refused
                                      : platform::SocketErrorKind::Other,
               systemMessage(static_cast<unsigned long>(error)));
        return;
    }
    // A handler that sends again or closes ends the loop: socket_ changes.
    for (int i = 0; i < kDatagramsPerNotification && socket_ == socket; ++i) {
        char* const data = receiveBuffer_.data();
        sockaddr_storage source{};
        int sourceLength = sizeof source;
        int got = recvfrom(socket, data, static_cast<int>(receiveBuffer_.size()), 0,
                           reinterpret_cast<sockaddr*>(&source), &sourceLength);
        const std::int64_t receivedMicros = NowMicros();
        if (got == SOCKET_ERROR) {
            const int failure = WSAGetLastError();
            if (failure == WSAEWOULDBLOCK) return;
            if (failure != WSAEMSGSIZE) {
                // An ICMP port unreachable of an earlier send comes as a reset.
                report(failure == WSAECONNRESET ? platform::SocketErrorKind::Refused
                                                : platform::SocketErrorKind::Other,
                       systemMessage(static_cast<unsigned long>(failure)));
                if (!watch.alive()) return;
                continue;
            }
            got = static_cast<int>(receiveBuffer_.size());  // cannot happen: UDP's largest fits
        }
        platform::Datagram datagram;
        datagram.bytes.assign(data, static_cast<std::size_t>(got));
        datagram.receivedMicros = receivedMicros;
        datagram.fromServer = SameAddress(source, server_);
        datagram.from = Describe(source);
        if (onDatagram) {
            const auto handler = onDatagram;
            handler(datagram);
            if (!watch.alive()) return;
        }
    }
}

std::uint16_t Win32UdpClient::localPort() const {
    if (socket_ == INVALID_SOCKET) return 0;
    sockaddr_storage local{};
    int length = sizeof local;
    if (getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
    return local.ss_family == AF_INET
               ? ntohs(reinterpret_cast<const sockaddr_in&>(local).sin_port)
               : ntohs(reinterpret_cast<const sockaddr_in6&>(local).sin6_port);
}

void Win32UdpClient::postError(platform::SocketErrorKind kind, const std::string& description) {
    const platform::Liveness::Watch watch = liveness_.watch();
    const std::uint64_t generation = generation_;
    platform_.post([this, watch, generation, kind, description] {
        if (!watch.alive() || generation != generation_ || !open_) return;
        report(kind, description);
    });
}

void Win32UdpClient::report(platform::SocketErrorKind kind, const std::string& description) {
    if (!onError) return;
    const auto handler = onError;
    handler(kind, description);
}

void Win32UdpClient::closeSocket() {
    ++generation_;
    if (socket_ != INVALID_SOCKET) {
        WSAAsyncSelect(socket_, platform_.messageWindow(), 0, 0);
        closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }
    if (message_) {
        platform_.releaseSocketMessage(message_);
        message_ = 0;
    }
}

void Win32UdpClient::close() {
    if (resolveToken_) {
        platform_.cancelLookup(resolveToken_);
        resolveToken_ = 0;
    }
    closeSocket();
    open_ = false;
    ready_ = false;
}

}  // namespace tempikon::win32
