#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/qt/qt_lookup.h"
#include "platform/reentrance.h"
#include "platform/tcp_client.h"
#include "platform/tls_client.h"

class QObject;
class QSocketNotifier;
class QTimer;

namespace tempikon::qt {

// The most bytes the client buffers before it stops reading from the system,
// so that a flooding peer cannot grow the process.
inline constexpr std::size_t kSocketReadBufferBytes = 64 * 1024;

// After this long without an answer from one address the next one is tried
// alongside it (RFC 8305's connection attempt delay).
inline constexpr int kNextAddressDelayMs = 250;

// A non-blocking socket watched by socket notifiers. The name is looked up on
// a thread of its own that nothing waits for, so a resolver that never
// answers holds up neither the query's time-out nor the end of the process.
// Every address of the name is tried within the caller's time-out, one more
// whenever one fails or after kNextAddressDelayMs; the first to connect
// wins. A reset is an error, also after data; an orderly close is not.
// close() silences the connection at once, lookup included.
class QtTcpClient : public platform::TcpClient {
public:
    QtTcpClient();
    ~QtTcpClient() override;
    QtTcpClient(const QtTcpClient&) = delete;
    QtTcpClient& operator=(const QtTcpClient&) = delete;

    void connect(const std::string& host, std::uint16_t port) override;
    std::optional<std::string> readAll(std::size_t maxBytes) override;
    void close() override;
    bool isOpen() const override { return open_; }

    // Queues bytes to send (for the TLS client, whose handshake may begin
    // before the connection stands): they go out once connected, as fast as
    // the system takes them. A failure to send is reported like one to
    // receive. False when closed.
    bool send(const std::string& bytes);

    // Bytes buffered and not yet read (for tests).
    std::size_t bufferedBytes() const { return buffer_.size(); }

    using Address = SocketAddress;

private:
    struct Attempt {
        int fd = -1;
        QSocketNotifier* writable = nullptr;
    };

    void onResolved(std::vector<Address> addresses, const std::string& error);
    void startNextAttempt();
    void onAttemptWritable(int fd);
    void onReadable();
    void onWritable();
    void noteError(int error);
    void report(platform::SocketErrorKind kind, const std::string& description);
    void retire(QObject* object);
    template <class F>
    void guarded(F f);

    QTimer* nextAddress_ = nullptr;
    NameLookup lookup_;
    std::vector<Address> addresses_;
    std::size_t next_ = 0;
    std::vector<Attempt> attempts_;
    int fd_ = -1;
    QSocketNotifier* readable_ = nullptr;
    QSocketNotifier* writable_ = nullptr;
    std::string buffer_;
    std::string outgoing_;
    std::string lastError_;
    platform::SocketErrorKind lastKind_ = platform::SocketErrorKind::Other;
    bool open_ = false;
    bool ended_ = false;  // the peer closed or reset the connection
    // Depth of the notifications being handled, during which Qt objects are
    // deleted later rather than under their own feet.
    int depth_ = 0;
    platform::Liveness liveness_;
};

// The GnuTLS client over a QtTcpClient; a failure found inside its connect()
// comes from the application's event loop.
std::unique_ptr<platform::TlsClient> NewTlsClient();

}  // namespace tempikon::qt
