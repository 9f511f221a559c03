#include "tests/support/daytime_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <thread>

namespace tempikon::testsupport {

namespace {

sockaddr_in makeAddress(const std::string& address, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1)
        throw std::runtime_error("not an IPv4 address: " + address);
    return sa;
}

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

DaytimeServer::DaytimeServer(std::string address, ServerOptions options)
    : address_(std::move(address)), options_(std::move(options)) {
    const sockaddr_in sa = makeAddress(address_, options_.port);
    if (options_.mode == ServerMode::Refused) return;

    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) fail("socket");
    const int yes = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        const int error = errno;
        ::close(listenFd_);
        errno = error;
        fail("bind " + address_ + ":" + std::to_string(options_.port));
    }
    if (::listen(listenFd_, 64) != 0) {
        const int error = errno;
        ::close(listenFd_);
        errno = error;
        fail("listen");
    }
    if (::pipe2(wakePipe_, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(listenFd_);
        errno = error;
        fail("pipe");
    }
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

DaytimeServer::~DaytimeServer() {
    stop();
}

std::unique_ptr<DaytimeServer> DaytimeServer::replying(const std::string& address,
                                                       std::string text) {
    ServerOptions options;
    options.text = std::move(text);
    return std::make_unique<DaytimeServer>(address, options);
}

std::unique_ptr<DaytimeServer> DaytimeServer::inMode(const std::string& address, ServerMode mode) {
    ServerOptions options;
    options.mode = mode;
    return std::make_unique<DaytimeServer>(address, options);
}

bool DaytimeServer::waitForConnections(int n, int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return accepted_.load() >= n; });
}

bool DaytimeServer::waitForEndedConnections(int n, int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return ended_.load() >= n; });
}

void DaytimeServer::stop() {
    if (stopping_.exchange(true)) return;
    if (wakePipe_[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakePipe_[1], &byte, 1);
    }
    if (acceptThread_.joinable()) acceptThread_.join();
    {
        std::lock_guard lock(mutex_);
        // Unblocks workers stuck in send() or poll().
        for (const int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
        changed_.notify_all();
    }
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
    if (listenFd_ >= 0) ::close(listenFd_);
    for (int& fd : wakePipe_) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    listenFd_ = -1;
}

void DaytimeServer::acceptLoop() {
    while (!stopping_) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        openFds_.insert(fd);
        ++accepted_;
        changed_.notify_all();
        workers_.emplace_back([this, fd] { serve(fd); });
    }
}

bool DaytimeServer::pause(int ms) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stopping_.load(); });
}

bool DaytimeServer::sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent_ += static_cast<std::size_t>(n);
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void DaytimeServer::holdUntilPeerCloses(int fd) {
    char buffer[256];
    while (!stopping_) {
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, 50);
        if (r < 0 && errno != EINTR) return;
        if (r > 0) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) return;
        }
    }
}

void DaytimeServer::serve(int fd) {
    const std::string& text = options_.text;
    bool reset = false;
    switch (options_.mode) {
        case ServerMode::Reply:
            sendAll(fd, text.data(), text.size());
            break;
        case ServerMode::RealTime: {
            const std::time_t now = std::time(nullptr);
            std::tm local{};
            char line[64] = {};
            localtime_r(&now, &local);
            const std::size_t n =
                std::strftime(line, sizeof line, "%a %b %e %H:%M:%S %Y\r\n", &local);
            sendAll(fd, line, n);
            break;
        }
        case ServerMode::TwoPieces:
            if (sendAll(fd, text.data(), text.size()) && !pause(options_.pauseMs))
                sendAll(fd, options_.secondPiece.data(), options_.secondPiece.size());
            break;
        case ServerMode::Silent:
            holdUntilPeerCloses(fd);
            break;
        case ServerMode::CloseWithoutSending:
        case ServerMode::Refused:
            break;
        case ServerMode::Flood: {
            const std::string chunk(64 * 1024, 'x');
            std::size_t left = options_.floodBytes;
            while (left > 0 && !stopping_) {
                const std::size_t n = std::min(left, chunk.size());
                if (!sendAll(fd, chunk.data(), n)) break;
                left -= n;
            }
            break;
        }
        case ServerMode::Drip: {
            const std::string bytes = text.empty() ? std::string("x") : text;
            for (std::size_t i = 0; !stopping_; i = (i + 1) % bytes.size()) {
                if (!sendAll(fd, &bytes[i], 1) || pause(options_.dripEveryMs)) break;
            }
            break;
        }
        case ServerMode::ResetMidReply:
            sendAll(fd, text.data(), text.size());
            // The reset comes as an event of its own: one that overtook the
            // client's read would take the unread data with it, and the test
            // would depend on how busy the machine is.
            std::this_thread::sleep_for(std::chrono::milliseconds(options_.resetAfterMs));
            reset = true;
            break;
    }
    if (reset) {
        const linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    std::lock_guard lock(mutex_);
    openFds_.erase(fd);
    ::close(fd);
    ++ended_;
    changed_.notify_all();
}

std::optional<std::string> blockingDaytimeQuery(const std::string& address, std::uint16_t port,
                                                int timeoutMs, bool firstDataOnly) {
    const sockaddr_in sa = makeAddress(address, port);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::nullopt;
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    std::string reply;
    char buffer[4096];
    while (true) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        reply.append(buffer, static_cast<std::size_t>(n));
        if (firstDataOnly) break;
    }
    ::close(fd);
    return reply;
}

}  // namespace tempikon::testsupport
