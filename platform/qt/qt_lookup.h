#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/reentrance.h"

class QObject;

namespace tempikon::qt {

// One address of a name, ready for socket(), connect() and sendto().
struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family = AF_UNSPEC;
};

// A name lookup on a thread of its own that nothing waits for, so that a
// resolver that never answers holds up neither a time-out nor the end of the
// process. The result comes from the event loop, never inside start(): the
// addresses (the families taking turns, RFC 8305) or none and why. A lookup
// that cannot start (no thread to be had) fails with kLookupNotStarted.
class NameLookup {
public:
    using Done =
        std::function<void(std::vector<SocketAddress> addresses, const std::string& error)>;

    NameLookup();
    ~NameLookup();
    NameLookup(const NameLookup&) = delete;
    NameLookup& operator=(const NameLookup&) = delete;

    // socketType: SOCK_STREAM or SOCK_DGRAM. Cancels the lookup before.
    void start(const std::string& host, std::uint16_t port, int socketType, Done done);
    // Its result, if any is still to come, is dropped.
    void cancel();

    struct Shared;

private:
    std::unique_ptr<QObject> receiver_;
    std::shared_ptr<Shared> shared_;
    // Results being handed over, during which the receiver is deleted later.
    int delivering_ = 0;
    platform::Liveness liveness_;
};

}  // namespace tempikon::qt
