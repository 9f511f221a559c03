#include "platform/qt/qt_tcp_client.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/gnutls/gnutls_tls_client.h"

namespace tempikon::qt {

std::unique_ptr<platform::TlsClient> NewTlsClient() {
    auto tcp = std::make_unique<QtTcpClient>();
    QtTcpClient* stream = tcp.get();
    return std::make_unique<gnutls::GnutlsTlsClient>(gnutls::TlsTransport{
        std::move(tcp), [stream](const std::string& bytes) { return stream->send(bytes); },
        [](std::function<void()> fn) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [fn = std::move(fn)] { fn(); }, Qt::QueuedConnection);
        }});
}

QtTcpClient::QtTcpClient() = default;

QtTcpClient::~QtTcpClient() {
    liveness_.end();
    close();
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
    lookup_.start(host, port, SOCK_STREAM,
                  [this](std::vector<Address> addresses, const std::string& error) {
                      guarded([&] { onResolved(std::move(addresses), error); });
                  });
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
        // A TLS client's request follows its handshake at once: it must not
        // wait for the server's delayed acknowledgement.
        const int noDelay = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
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
    writable_ = new QSocketNotifier(fd, QSocketNotifier::Write);
    writable_->setEnabled(!outgoing_.empty());
    QObject::connect(writable_, &QSocketNotifier::activated, writable_,
                     [this] { guarded([&] { onWritable(); }); });
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

bool QtTcpClient::send(const std::string& bytes) {
    if (!open_) return false;
    outgoing_ += bytes;
    // Written from the event loop only, so that a failure is reported there
    // and never inside the caller's send().
    if (writable_ && !outgoing_.empty()) writable_->setEnabled(true);
    return true;
}

void QtTcpClient::onWritable() {
    int error = 0;
    while (!outgoing_.empty()) {
        const ssize_t sent = ::send(fd_, outgoing_.data(), outgoing_.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            outgoing_.erase(0, static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        error = sent < 0 ? errno : EPIPE;
        break;
    }
    if (error == 0) {
        writable_->setEnabled(!outgoing_.empty());
        return;
    }
    // The connection is over: nothing more is read or reported after this.
    outgoing_.clear();
    writable_->setEnabled(false);
    if (readable_) readable_->setEnabled(false);
    ended_ = true;
    report(KindOf(error), std::strerror(error));
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
    lookup_.cancel();
    for (const Attempt& attempt : attempts_) {
        retire(attempt.writable);
        ::close(attempt.fd);
    }
    attempts_.clear();
    retire(nextAddress_);
    nextAddress_ = nullptr;
    retire(readable_);
    readable_ = nullptr;
    retire(writable_);
    writable_ = nullptr;
    outgoing_.clear();
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
