#include "platform/qt/qt_tcp_client.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

namespace tempikon::qt {

struct QtTcpClient::Address {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family = AF_UNSPEC;
};

// Shared with the lookup's thread, which posts its result to receiver while
// it is still set.
struct QtTcpClient::Lookup {
    std::mutex mutex;
    QObject* receiver = nullptr;
};

namespace {

using Address = QtTcpClient::Address;

// RFC 8305: the families take turns, starting with the first one's.
std::vector<Address> Interleaved(std::vector<Address> list) {
    if (list.empty()) return list;
    std::vector<Address> first, other, out;
    for (Address& a : list) (a.family == list.front().family ? first : other).push_back(a);
    for (std::size_t i = 0; i < std::max(first.size(), other.size()); ++i) {
        if (i < first.size()) out.push_back(first[i]);
        if (i < other.size()) out.push_back(other[i]);
    }
    return out;
}

std::vector<Address> Resolve(const std::string& host, std::uint16_t port, int flags,
                             std::string& error) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    std::vector<Address> out;
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0) {
        error = "Host not found";
        return out;
    }
    for (const addrinfo* a = list; a; a = a->ai_next) {
        if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) ||
            a->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        Address address;
        std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
        address.length = a->ai_addrlen;
        address.family = a->ai_family;
        out.push_back(address);
    }
    ::freeaddrinfo(list);
    if (out.empty()) error = "Host not found";
    return Interleaved(std::move(out));
}

}  // namespace

QtTcpClient::QtTcpClient() : context_(std::make_unique<QObject>()) {}

QtTcpClient::~QtTcpClient() {
    liveness_.end();
    close();
    if (depth_ > 0) {
        context_.release()->deleteLater();
    }
}

template <class F>
void QtTcpClient::guarded(F f) {
    const platform::Liveness::Watch watch = liveness_.watch();
    ++depth_;
    f();
    if (watch.alive()) --depth_;
}

void QtTcpClient::retire(QObject* object) {
    if (!object) return;
    // Its socket is closed next: the event loop must not watch it meanwhile.
    if (auto* notifier = qobject_cast<QSocketNotifier*>(object)) notifier->setEnabled(false);
    object->disconnect();
    object->setParent(nullptr);
    if (depth_ > 0) {
        object->deleteLater();
    } else {
        delete object;
    }
}

void QtTcpClient::connect(const std::string& host, std::uint16_t port) {
    close();
    open_ = true;
    lookup_ = std::make_shared<Lookup>();
    lookup_->receiver = context_.get();
    const platform::Liveness::Watch watch = liveness_.watch();
    const std::shared_ptr<Lookup> lookup = lookup_;
    auto deliver = [this, watch, lookup](std::vector<Address> addresses, std::string error) {
        return [this, watch, lookup, addresses = std::move(addresses), error = std::move(error)] {
            if (!watch.alive() || lookup != lookup_) return;
            guarded([&] { onResolved(addresses, error); });
        };
    };
    // A dotted address needs no resolver; its result still comes as an event.
    std::string error;
    std::vector<Address> numeric = Resolve(host, port, AI_NUMERICHOST, error);
    if (!numeric.empty()) {
        QMetaObject::invokeMethod(context_.get(), deliver(std::move(numeric), ""),
                                  Qt::QueuedConnection);
        return;
    }
    std::thread([host, port, lookup, deliver] {
        std::string failure;
        std::vector<Address> addresses = Resolve(host, port, 0, failure);
        const std::lock_guard<std::mutex> lock(lookup->mutex);
        if (lookup->receiver) {
            QMetaObject::invokeMethod(lookup->receiver,
                                      deliver(std::move(addresses), std::move(failure)),
                                      Qt::QueuedConnection);
        }
    }).detach();
}

void QtTcpClient::onResolved(std::vector<Address> addresses, const std::string& error) {
    if (addresses.empty()) {
        report(platform::SocketErrorKind::HostNotFound, error);
        return;
    }
    addresses_ = std::move(addresses);
    next_ = 0;
    nextAddress_ = new QTimer;
    nextAddress_->setSingleShot(true);
    QObject::connect(nextAddress_, &QTimer::timeout, nextAddress_,
                     [this] { guarded([&] { startNextAttempt(); }); });
    startNextAttempt();
}

void QtTcpClient::startNextAttempt() {
    while (next_ < addresses_.size()) {
        const Address& address = addresses_[next_++];
        const int fd = ::socket(address.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            noteError(errno);
            continue;
        }
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address.storage), address.length) !=
                0 &&
            errno != EINPROGRESS) {
            noteError(errno);
            ::close(fd);
            continue;
        }
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Write);
        QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                         [this, fd] { guarded([&] { onAttemptWritable(fd); }); });
        attempts_.push_back({fd, notifier});
        if (next_ < addresses_.size()) nextAddress_->start(kNextAddressDelayMs);
        return;
    }
    if (attempts_.empty()) report(lastKind_, lastError_);
}

void QtTcpClient::onAttemptWritable(int fd) {
    const auto it = std::find_if(attempts_.begin(), attempts_.end(),
                                 [fd](const Attempt& a) { return a.fd == fd; });
    if (it == attempts_.end()) return;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    retire(it->writable);
    attempts_.erase(it);
    if (error != 0) {
        ::close(fd);
        noteError(error);
        if (nextAddress_) nextAddress_->stop();
        startNextAttempt();
        return;
    }
    // The winner: the others are dropped.
    for (const Attempt& other : attempts_) {
        retire(other.writable);
        ::close(other.fd);
    }
    attempts_.clear();
    retire(nextAddress_);
    nextAddress_ = nullptr;
    fd_ = fd;
    readable_ = new QSocketNotifier(fd, QSocketNotifier::Read);
    QObject::connect(readable_, &QSocketNotifier::activated, readable_,
                     [this] { guarded([&] { onReadable(); }); });
}

namespace {

// One kind for one cause, whether it struck during the connect or after it.
platform::SocketErrorKind KindOf(int error) {
    switch (error) {
        case ECONNREFUSED:
            return platform::SocketErrorKind::Refused;
        case ECONNRESET:
        case ECONNABORTED:
            return platform::SocketErrorKind::Reset;
        default:
            return platform::SocketErrorKind::Other;
    }
}

}  // namespace

void QtTcpClient::onReadable() {
    const int fd = fd_;
    bool arrived = false;
    int error = 0;
    char chunk[16 * 1024];
    while (buffer_.size() < kSocketReadBufferBytes) {
        const std::size_t room = std::min(sizeof chunk, kSocketReadBufferBytes - buffer_.size());
        const ssize_t got = ::recv(fd, chunk, room, 0);
        if (got > 0) {
            buffer_.append(chunk, static_cast<std::size_t>(got));
            arrived = true;
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (got < 0) error = errno;
        ended_ = true;
        break;
    }
    // A full buffer waits for readAll(); the closed end has nothing more.
    if (ended_ || buffer_.size() >= kSocketReadBufferBytes) readable_->setEnabled(false);
    if (arrived && onDataArrival) {
        const platform::Liveness::Watch watch = liveness_.watch();
        const auto handler = onDataArrival;
        handler();
        if (!watch.alive()) return;
    }
    // An error comes after the data read before it, and instead of the
    // peer's end: a reset is no orderly close, whatever came before it.
    if (error != 0 && fd_ == fd) {
        report(KindOf(error), std::strerror(error));
        return;
    }
    // The peer's end comes after the data that came before it.
    if (ended_ && fd_ == fd && onPeerClosed) {
        const auto handler = onPeerClosed;
        handler();
    }
}

std::optional<std::string> QtTcpClient::readAll(std::size_t maxBytes) {
    if (!open_) return std::nullopt;
    std::string out = buffer_.substr(0, std::min(maxBytes, buffer_.size()));
    // Whatever is beyond maxBytes is dropped, not kept for the next read.
    buffer_.clear();
    if (readable_ && !ended_) readable_->setEnabled(true);
    return out;
}

void QtTcpClient::noteError(int error) {
    lastError_ = std::strerror(error);
    lastKind_ = KindOf(error);
}

void QtTcpClient::report(platform::SocketErrorKind kind, const std::string& description) {
    if (!onError) return;
    const auto handler = onError;
    handler(kind, description);
}

void QtTcpClient::close() {
    if (lookup_) {
        const std::lock_guard<std::mutex> lock(lookup_->mutex);
        lookup_->receiver = nullptr;
    }
    lookup_.reset();
    for (const Attempt& attempt : attempts_) {
        retire(attempt.writable);
        ::close(attempt.fd);
    }
    attempts_.clear();
    retire(nextAddress_);
    nextAddress_ = nullptr;
    retire(readable_);
    readable_ = nullptr;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    addresses_.clear();
    next_ = 0;
    buffer_.clear();
    lastError_.clear();
    lastKind_ = platform::SocketErrorKind::Other;
    open_ = false;
    ended_ = false;
}

}  // namespace tempikon::qt
