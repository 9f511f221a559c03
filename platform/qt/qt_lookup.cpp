#include "platform/qt/qt_lookup.h"

#include <netdb.h>

#include <QObject>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/tcp_client.h"

namespace tempikon::qt {

// Shared with the lookup's thread, which posts its result to receiver while
// it is still set.
struct NameLookup::Shared {
    std::mutex mutex;
    QObject* receiver = nullptr;
};

namespace {

// RFC 8305: the families take turns, starting with the first one's.
std::vector<SocketAddress> Interleaved(std::vector<SocketAddress> list) {
    if (list.empty()) return list;
    std::vector<SocketAddress> first, other, out;
    for (SocketAddress& a : list) (a.family == list.front().family ? first : other).push_back(a);
    for (std::size_t i = 0; i < std::max(first.size(), other.size()); ++i) {
        if (i < first.size()) out.push_back(first[i]);
        if (i < other.size()) out.push_back(other[i]);
    }
    return out;
}

std::vector<SocketAddress> Resolve(const std::string& host, std::uint16_t port, int socketType,
                                   int flags, std::string& error) {
    addrinfo hints{};
    hints.ai_socktype = socketType;
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    std::vector<SocketAddress> out;
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0) {
        error = "Host not found";
        return out;
    }
    for (const addrinfo* a = list; a; a = a->ai_next) {
        if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) ||
            a->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        SocketAddress address;
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

NameLookup::NameLookup() : receiver_(std::make_unique<QObject>()) {}

NameLookup::~NameLookup() {
    liveness_.end();
    cancel();
    // Deleted under its own queued call otherwise.
    if (delivering_ > 0) receiver_.release()->deleteLater();
}

void NameLookup::start(const std::string& host, std::uint16_t port, int socketType, Done done) {
    cancel();
    shared_ = std::make_shared<Shared>();
    shared_->receiver = receiver_.get();
    const platform::Liveness::Watch watch = liveness_.watch();
    const std::shared_ptr<Shared> shared = shared_;
    auto deliver = [this, watch, shared, done](std::vector<SocketAddress> addresses,
                                               std::string error) {
        return [this, watch, shared, done, addresses = std::move(addresses),
                error = std::move(error)] {
            if (!watch.alive() || shared != shared_) return;
            shared_.reset();
            ++delivering_;
            done(addresses, error);
            if (watch.alive()) --delivering_;
        };
    };
    // A dotted address needs no resolver; its result still comes as an event.
    std::string error;
    std::vector<SocketAddress> numeric = Resolve(host, port, socketType, AI_NUMERICHOST, error);
    if (!numeric.empty()) {
        QMetaObject::invokeMethod(receiver_.get(), deliver(std::move(numeric), ""),
                                  Qt::QueuedConnection);
        return;
    }
    try {
        std::thread([host, port, socketType, shared, deliver] {
            std::string failure;
            std::vector<SocketAddress> addresses = Resolve(host, port, socketType, 0, failure);
            const std::lock_guard<std::mutex> lock(shared->mutex);
            if (shared->receiver) {
                QMetaObject::invokeMethod(shared->receiver,
                                          deliver(std::move(addresses), std::move(failure)),
                                          Qt::QueuedConnection);
            }
        }).detach();
    } catch (const std::system_error&) {
        // At the process limit, say: the name may be fine, the lookup never ran.
        QMetaObject::invokeMethod(receiver_.get(), deliver({}, platform::kLookupNotStarted),
                                  Qt::QueuedConnection);
    }
}

void NameLookup::cancel() {
    if (shared_) {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->receiver = nullptr;
    }
    shared_.reset();
}

}  // namespace tempikon::qt
