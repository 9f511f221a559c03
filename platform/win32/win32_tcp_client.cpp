#include "platform/win32/win32_tcp_client.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_text.h"

namespace tempikon::win32 {

namespace {

// A name lookup runs on a thread of its own, so that a slow or dead name
// server never freezes the windows; the result comes back as a message.
struct LookupJob {
    std::uint64_t token = 0;
    std::wstring host;
    std::wstring port;
    int socketType = SOCK_STREAM;
    HWND target = nullptr;
    ADDRINFOW* result = nullptr;
    int error = 0;
};

void runLookup(LookupJob* job) {
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = job->socketType;
    hints.ai_protocol = job->socketType == SOCK_DGRAM ? IPPROTO_UDP : IPPROTO_TCP;
    const int rc = GetAddrInfoW(job->host.c_str(), job->port.c_str(), &hints, &job->result);
    if (rc != 0) {
        job->error = rc;
        job->result = nullptr;
    }
    if (!PostMessageW(job->target, kResolvedMessage, 0, reinterpret_cast<LPARAM>(job))) {
        if (job->result) FreeAddrInfoW(job->result);
        delete job;
    }
}

// recv() in pieces of this size; a flood is read at most this far past the
// caller's limit per notification, so one readAll() always ends.
constexpr std::size_t kChunk = 16 * 1024;
constexpr std::size_t kDrainBeyondLimit = 256 * 1024;

}  // namespace

std::uint64_t Win32Platform::startLookup(Win32SocketOwner* client, const std::string& host,
                                         std::uint16_t port, int socketType) {
    const std::uint64_t token = nextLookup_++;
    lookups_[token] = client;
    auto* job = new LookupJob;
    job->token = token;
    job->host = widen(host);
    job->port = std::to_wstring(port);
    job->socketType = socketType;
    job->target = messageWindow_;
    try {
        std::thread(runLookup, job).detach();
    } catch (...) {
        // No thread to be had: a failed lookup, and the reason says why.
        job->error = kLookupNotStarted;
        PostMessageW(messageWindow_, kResolvedMessage, 0, reinterpret_cast<LPARAM>(job));
    }
    return token;
}

void Win32Platform::cancelLookup(std::uint64_t token) {
    lookups_.erase(token);
}

void Win32Platform::freeLookup(LPARAM lParam) {
    auto* job = reinterpret_cast<LookupJob*>(lParam);
    if (job->result) FreeAddrInfoW(job->result);
    delete job;
}

void Win32Platform::lookupDone(LPARAM lParam) {
    auto* job = reinterpret_cast<LookupJob*>(lParam);
    auto it = lookups_.find(job->token);
    if (it == lookups_.end()) {
        freeLookup(lParam);  // the client was closed meanwhile
        return;
    }
    Win32SocketOwner* client = it->second;
    lookups_.erase(it);
    ADDRINFOW* result = job->result;
    const int error = job->error;
    delete job;
    client->resolved(result, error);  // takes the addresses
}

Win32TcpClient::~Win32TcpClient() {
    close();
}

void Win32TcpClient::connect(const std::string& host, std::uint16_t port) {
    close();
    state_ = State::Resolving;
    resolveToken_ = platform_.startLookup(this, host, port, SOCK_STREAM);
}

void Win32TcpClient::resolved(ADDRINFOW* addresses, int error) {
    resolveToken_ = 0;
    if (state_ != State::Resolving) {
        if (addresses) FreeAddrInfoW(addresses);
        return;
    }
    if (!addresses && error == kLookupNotStarted) {
        fail(platform::SocketErrorKind::HostNotFound, platform::kLookupNotStarted);
        return;
    }
    if (!addresses) {
        fail(error ? error : WSAHOST_NOT_FOUND);
        return;
    }
    addresses_ = addresses;
    next_ = addresses;
    tryNextAddress(WSAHOST_NOT_FOUND);
}

// Tries the addresses of the name in turn (IPv6 and IPv4, say) until one
// accepts the start of a connection.
void Win32TcpClient::tryNextAddress(int lastError) {
    while (next_) {
        ADDRINFOW* address = next_;
        next_ = next_->ai_next;
        socket_ = ::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
        if (socket_ == INVALID_SOCKET) {
            lastError = WSAGetLastError();
            continue;
        }
        message_ = platform_.socketMessage(this);
        // WSAAsyncSelect also makes the socket non-blocking.
        if (message_ == 0 || WSAAsyncSelect(socket_, platform_.messageWindow(), message_,
                                            FD_CONNECT | FD_READ | FD_CLOSE) != 0) {
            lastError = message_ == 0 ? WSAEMFILE : WSAGetLastError();
            closeSocket();
            continue;
        }
        if (::connect(socket_, address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0 ||
            WSAGetLastError() == WSAEWOULDBLOCK) {
            state_ = State::Connecting;
            return;
        }
        lastError = WSAGetLastError();
        closeSocket();
    }
    fail(lastError);
}

void Win32TcpClient::socketEvent(SOCKET socket, int event, int error) {
    if (socket != socket_ || socket_ == INVALID_SOCKET) return;
    switch (event) {
        case FD_CONNECT:
            if (state_ != State::Connecting) return;
            if (error) {
                closeSocket();
                if (next_) {
                    tryNextAddress(error);
                } else {
                    fail(error);
                }
                return;
            }
            state_ = State::Connected;
            return;
        case FD_READ:
            if (error) {
                fail(error);
                return;
            }
            if (onDataArrival) onDataArrival();
            return;
        case FD_CLOSE: {
            if (error) {
                fail(error);  // reset or aborted: an error, unlike an orderly close
                return;
            }
            state_ = State::PeerClosed;
            // The last bytes may still wait behind the closing.
            u_long pending = 0;
            if (ioctlsocket(socket_, FIONREAD, &pending) == 0 && pending > 0 && onDataArrival)
                onDataArrival();
            // Unless that handler closed the socket or opened another.
            if (socket == socket_ && state_ == State::PeerClosed && onPeerClosed) onPeerClosed();
            return;
        }
        default:
            return;
    }
}

std::optional<std::string> Win32TcpClient::readAll(std::size_t maxBytes) {
    if (socket_ == INVALID_SOCKET)
        return state_ == State::Idle ? std::nullopt : std::optional<std::string>("");
    std::string out;
    std::size_t seen = 0;
    char buffer[kChunk];
    const std::size_t limit = maxBytes + kDrainBeyondLimit;
    while (seen < limit) {
        const int n = recv(socket_, buffer, static_cast<int>(kChunk), 0);
        if (n > 0) {
            const std::size_t keep = std::min<std::size_t>(
                static_cast<std::size_t>(n), maxBytes - std::min(maxBytes, out.size()));
            out.append(buffer, keep);
            seen += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) break;  // the peer has closed: everything is read
        const int error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) break;
        return std::nullopt;
    }
    return out;
}

void Win32TcpClient::closeSocket() {
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

void Win32TcpClient::close() {
    if (resolveToken_) {
        platform_.cancelLookup(resolveToken_);
        resolveToken_ = 0;
    }
    closeSocket();
    if (addresses_) {
        FreeAddrInfoW(addresses_);
        addresses_ = nullptr;
    }
    next_ = nullptr;
    state_ = State::Idle;
}

void Win32TcpClient::fail(int error) {
    platform::SocketErrorKind kind = platform::SocketErrorKind::Other;
    switch (error) {
        case WSAECONNREFUSED:
            kind = platform::SocketErrorKind::Refused;
            break;
        case WSAHOST_NOT_FOUND:
        case WSANO_DATA:
        case WSATRY_AGAIN:
        case WSANO_RECOVERY:
            kind = platform::SocketErrorKind::HostNotFound;
            break;
        case WSAECONNRESET:
        case WSAECONNABORTED:
            kind = platform::SocketErrorKind::Reset;
            break;
        default:
            break;
    }
    fail(kind, systemMessage(static_cast<unsigned long>(error)));
}

void Win32TcpClient::fail(platform::SocketErrorKind kind, const std::string& description) {
    close();
    if (onError) onError(kind, description);
}

}  // namespace tempikon::win32
