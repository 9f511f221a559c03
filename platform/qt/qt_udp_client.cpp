#include "platform/qt/qt_udp_client.h"

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tempikon::qt {

namespace {

std::int64_t NowMicros() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
}

bool SameAddress(const sockaddr_storage& source, const SocketAddress& server) {
    if (source.ss_family != server.family) return false;
    if (server.family == AF_INET) {
        const auto& a = reinterpret_cast<const sockaddr_in&>(source);
        const auto& b = reinterpret_cast<const sockaddr_in&>(server.storage);
        return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
    }
    const auto& a = reinterpret_cast<const sockaddr_in6&>(source);
    const auto& b = reinterpret_cast<const sockaddr_in6&>(server.storage);
    return a.sin6_port == b.sin6_port &&
           std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0;
}

// "127.0.0.1:123" or "[::1]:123".
std::string Describe(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = "?";
    if (address.ss_family == AF_INET) {
        const auto& a = reinterpret_cast<const sockaddr_in&>(address);
        ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
        return std::string(text) + ":" + std::to_string(ntohs(a.sin_port));
    }
    if (address.ss_family == AF_INET6) {
        const auto& a = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &a.sin6_addr, text, sizeof text);
        // Appended piece by piece: GCC 12's optimiser warns falsely on "[" + string.
        std::string out = "[";
        out += text;
        out += "]:";
        out += std::to_string(ntohs(a.sin6_port));
        return out;
    }
    return text;
}

}  // namespace

QtUdpClient::QtUdpClient() : context_(std::make_unique<QObject>()) {}

QtUdpClient::~QtUdpClient() {
    liveness_.end();
    close();
    if (depth_ > 0) context_.release()->deleteLater();
}

template <class F>
void QtUdpClient::guarded(F f) {
    const platform::Liveness::Watch watch = liveness_.watch();
    ++depth_;
    f();
    if (watch.alive()) --depth_;
}

void QtUdpClient::open(const std::string& host, std::uint16_t port) {
    close();
    open_ = true;
    lookup_.start(host, port, SOCK_DGRAM,
                  [this](std::vector<SocketAddress> addresses, const std::string& error) {
                      guarded([&] { onResolved(addresses, error); });
                  });
}

void QtUdpClient::onResolved(const std::vector<SocketAddress>& addresses,
                             const std::string& error) {
    if (addresses.empty()) {
        open_ = false;
        report(platform::SocketErrorKind::HostNotFound, error);
        return;
    }
    server_ = addresses.front();
    ready_ = true;
    if (onReady) {
        const auto handler = onReady;
        handler();
    }
}

std::optional<std::int64_t> QtUdpClient::send(const std::string& bytes) {
    if (!ready_) {
        postError(platform::SocketErrorKind::Other, "not ready to send");
        return std::nullopt;
    }
    const int fd = ::socket(server_.family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        const int error = errno;
        closeSocket();
        postError(platform::SocketErrorKind::Other, std::strerror(error));
        return std::nullopt;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    if (server_.family == AF_INET) {
        ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    } else {
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on);
    }
    // Port 0: the kernel picks a random free port. The old socket still holds
    // its own meanwhile, so the new one cannot get it again.
    sockaddr_storage local{};
    local.ss_family = static_cast<sa_family_t>(server_.family);
    const socklen_t localLength =
        server_.family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), localLength) != 0) {
        const int error = errno;
        ::close(fd);
        closeSocket();
        postError(platform::SocketErrorKind::Other, std::strerror(error));
        return std::nullopt;
    }
    closeSocket();
    fd_ = fd;
    readable_ = new QSocketNotifier(fd, QSocketNotifier::Read);
    QObject::connect(readable_, &QSocketNotifier::activated, readable_,
                     [this] { guarded([&] { onReadable(); }); });

    const std::int64_t sentMicros = NowMicros();
    ssize_t sent = -1;
    do {
        sent = ::sendto(fd, bytes.data(), bytes.size(), 0,
                        reinterpret_cast<const sockaddr*>(&server_.storage), server_.length);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        const int error = errno;
        postError(error == ECONNREFUSED ? platform::SocketErrorKind::Refused
                                        : platform::SocketErrorKind::Other,
                  std::strerror(error));
        return std::nullopt;
    }
    return sentMicros;
}

void QtUdpClient::onReadable() {
    const int fd = fd_;
    const platform::Liveness::Watch watch = liveness_.watch();
    // A handler that sends again or closes ends the loop: fd_ changes.
    for (int i = 0; i < kDatagramsPerNotification && fd_ == fd; ++i) {
        if (readError(fd)) {
            if (!watch.alive()) return;
            continue;
        }
        char* const data = receiveBuffer_.data();
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec)) + 64];
        sockaddr_storage source{};
        iovec iov{data, receiveBuffer_.size()};
        msghdr message{};
        message.msg_name = &source;
        message.msg_namelen = sizeof source;
        message.msg_iov = &iov;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t got = ::recvmsg(fd, &message, MSG_DONTWAIT);
        if (got < 0) {
            const int error = errno;
            if (error == EINTR) continue;
            if (error == EAGAIN || error == EWOULDBLOCK) return;
            report(error == ECONNREFUSED ? platform::SocketErrorKind::Refused
                                         : platform::SocketErrorKind::Other,
                   std::strerror(error));
            if (!watch.alive()) return;
            continue;
        }
        platform::Datagram datagram;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec at{};
                std::memcpy(&at, CMSG_DATA(c), sizeof at);
                datagram.receivedMicros =
                    static_cast<std::int64_t>(at.tv_sec) * 1'000'000 + at.tv_nsec / 1000;
            }
        }
        if (datagram.receivedMicros == 0) datagram.receivedMicros = NowMicros();
        datagram.bytes.assign(data, std::min(static_cast<std::size_t>(got), receiveBuffer_.size()));
        datagram.fromServer = SameAddress(source, server_);
        datagram.from = Describe(source);
        if (onDatagram) {
            const auto handler = onDatagram;
            handler(datagram);
            if (!watch.alive()) return;
        }
    }
}

// One ICMP error from the socket's error queue, reported; false when the
// queue is empty.
bool QtUdpClient::readError(int fd) {
    char data[64];
    alignas(cmsghdr) char control[512];
    sockaddr_storage target{};
    iovec iov{data, sizeof data};
    msghdr message{};
    message.msg_name = &target;
    message.msg_namelen = sizeof target;
    message.msg_iov = &iov;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    if (::recvmsg(fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) return false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        const bool v4 = c->cmsg_level == SOL_IP && c->cmsg_type == IP_RECVERR;
        const bool v6 = c->cmsg_level == SOL_IPV6 && c->cmsg_type == IPV6_RECVERR;
        if (!v4 && !v6) continue;
        sock_extended_err error{};
        std::memcpy(&error, CMSG_DATA(c), sizeof error);
        const bool unreachable =
            (error.ee_origin == SO_EE_ORIGIN_ICMP && error.ee_type == 3 && error.ee_code == 3) ||
            (error.ee_origin == SO_EE_ORIGIN_ICMP6 && error.ee_type == 1 && error.ee_code == 4);
        report(unreachable || error.ee_errno == ECONNREFUSED ? platform::SocketErrorKind::Refused
                                                             : platform::SocketErrorKind::Other,
               std::strerror(static_cast<int>(error.ee_errno)));
        return true;
    }
    return true;
}

std::uint16_t QtUdpClient::localPort() const {
    if (fd_ < 0) return 0;
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
    return local.ss_family == AF_INET
               ? ntohs(reinterpret_cast<const sockaddr_in&>(local).sin_port)
               : ntohs(reinterpret_cast<const sockaddr_in6&>(local).sin6_port);
}

void QtUdpClient::postError(platform::SocketErrorKind kind, const std::string& description) {
    const platform::Liveness::Watch watch = liveness_.watch();
    const std::uint64_t generation = generation_;
    QMetaObject::invokeMethod(
        context_.get(),
        [this, watch, generation, kind, description] {
            if (!watch.alive() || generation != generation_ || !open_) return;
            guarded([&] { report(kind, description); });
        },
        Qt::QueuedConnection);
}

void QtUdpClient::report(platform::SocketErrorKind kind, const std::string& description) {
    if (!onError) return;
    const auto handler = onError;
    handler(kind, description);
}

void QtUdpClient::closeSocket() {
    ++generation_;
    if (readable_) {
        // Its socket is closed next: the event loop must not watch it meanwhile.
        readable_->setEnabled(false);
        readable_->disconnect();
        if (depth_ > 0) {
            readable_->deleteLater();
        } else {
            delete readable_;
        }
        readable_ = nullptr;
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void QtUdpClient::close() {
    lookup_.cancel();
    closeSocket();
    open_ = false;
    ready_ = false;
}

}  // namespace tempikon::qt
