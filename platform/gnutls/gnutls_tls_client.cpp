#include "platform/gnutls/gnutls_tls_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/auxv.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/escape_text.h"
#include "platform/reentrance.h"

namespace tempikon::gnutls {

using platform::SocketErrorKind;
using platform::TlsErrorKind;

namespace {

// At most this much is taken from the connection at once, and at most this
// much decrypted text waits to be read.
constexpr std::size_t kSocketReadBufferBytes = 64 * 1024;

bool IsIpAddress(const std::string& host) {
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

std::string TakeDatum(gnutls_datum_t& datum) {
    std::string text(reinterpret_cast<const char*>(datum.data), datum.size);
    gnutls_free(datum.data);
    datum.data = nullptr;
    return text;
}

// GnuTLS's text for a code, without its full stop, to go inside a sentence.
std::string Reason(int code) {
    std::string text = gnutls_strerror(code);
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

// A name from a certificate, which anyone can write: control characters,
// quotes, backslashes and bytes beyond ASCII escaped (\x1b, \n, \"), as
// replies are, so that it cannot drive the terminal or forge a line.
std::string Escaped(std::string_view text) {
    return platform::EscapeText(text);
}

std::string Day(std::time_t when) {
    std::tm parts{};
    gmtime_r(&when, &parts);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &parts);
    return text;
}

// One certificate of the server's chain, decoded.
class Certificate {
public:
    explicit Certificate(const gnutls_datum_t& der) {
        if (gnutls_x509_crt_init(&crt_) < 0) {
            crt_ = nullptr;
            return;
        }
        if (gnutls_x509_crt_import(crt_, &der, GNUTLS_X509_FMT_DER) < 0) {
            gnutls_x509_crt_deinit(crt_);
            crt_ = nullptr;
        }
    }
    ~Certificate() {
        if (crt_) gnutls_x509_crt_deinit(crt_);
    }
    Certificate(const Certificate&) = delete;
    Certificate& operator=(const Certificate&) = delete;

    bool valid() const { return crt_ != nullptr; }
    // The names as a user reads them in a failure: escaped.
    std::string shownSubject() const { return Escaped(subject()); }
    std::string shownIssuer() const { return Escaped(issuer()); }
    std::string shownNames() const { return Escaped(names()); }
    std::string subject() const {
        gnutls_datum_t dn{};
        if (!crt_ || gnutls_x509_crt_get_dn3(crt_, &dn, 0) < 0) return "(unreadable)";
        return TakeDatum(dn);
    }
    std::string issuer() const {
        gnutls_datum_t dn{};
        if (!crt_ || gnutls_x509_crt_get_issuer_dn3(crt_, &dn, 0) < 0) return "(unreadable)";
        return TakeDatum(dn);
    }
    std::time_t notBefore() const { return crt_ ? gnutls_x509_crt_get_activation_time(crt_) : 0; }
    std::time_t notAfter() const { return crt_ ? gnutls_x509_crt_get_expiration_time(crt_) : 0; }
    // Its DNS names and IP addresses, or its subject when it has none.
    std::string names() const {
        std::string out;
        for (unsigned i = 0; crt_; ++i) {
            char value[256];
            std::size_t size = sizeof value;
            const int type = gnutls_x509_crt_get_subject_alt_name(crt_, i, value, &size, nullptr);
            if (type == GNUTLS_E_REQUESTED_DATA_NOT_AVAILABLE) break;
            std::string name;
            if (type == GNUTLS_SAN_DNSNAME) {
                name.assign(value, size);
            } else if (type == GNUTLS_SAN_IPADDRESS && (size == 4 || size == 16)) {
                char text[INET6_ADDRSTRLEN];
                if (inet_ntop(size == 4 ? AF_INET : AF_INET6, value, text, sizeof text))
                    name = text;
            }
            if (name.empty()) continue;
            if (!out.empty()) out += ", ";
            out += name;
        }
        return out.empty() ? subject() : out;
    }

private:
    gnutls_x509_crt_t crt_ = nullptr;
};

// Why the checked chain fails, in words that name the certificate at fault.
std::pair<TlsErrorKind, std::string> Explain(unsigned status, const gnutls_datum_t* chain,
                                             unsigned length, const std::string& host) {
    const Certificate leaf(chain[0]);
    if (status & (GNUTLS_CERT_SIGNER_NOT_FOUND | GNUTLS_CERT_SIGNER_NOT_CA)) {
        return {TlsErrorKind::NotTrusted,
                "the server's certificate is not trusted: " + leaf.shownSubject() + ", issued by " +
                    leaf.shownIssuer()};
    }
    if (status & (GNUTLS_CERT_EXPIRED | GNUTLS_CERT_NOT_ACTIVATED)) {
        const std::time_t now = std::time(nullptr);
        for (unsigned i = 0; i < length; ++i) {
            const Certificate cert(chain[i]);
            if (!cert.valid()) continue;
            const std::string whose =
                i == 0 ? "the server's certificate" : "a certificate of its chain";
            if (cert.notAfter() < now)
                return {TlsErrorKind::Expired,
                        whose + " expired on " + Day(cert.notAfter()) + ": " + cert.shownSubject()};
            if (cert.notBefore() > now)
                return {TlsErrorKind::Expired, whose + " is not valid before " +
                                                   Day(cert.notBefore()) + ": " +
                                                   cert.shownSubject()};
        }
        // The dates of a trust anchor beyond the chain the server sent.
        return {TlsErrorKind::Expired,
                "the server's certificate is out of its dates: " + leaf.shownSubject()};
    }
    if (status & GNUTLS_CERT_UNEXPECTED_OWNER) {
        return {TlsErrorKind::NameMismatch,
                "the server's certificate is for " + leaf.shownNames() + ", not " + Escaped(host)};
    }
    // Revoked, a weak algorithm, a bad signature, ...: GnuTLS says which.
    gnutls_datum_t why{};
    std::string reason = "rejected";
    if (gnutls_certificate_verification_status_print(status, GNUTLS_CRT_X509, &why, 0) >= 0)
        reason = TakeDatum(why);
    return {TlsErrorKind::NotTrusted, "the server's certificate is not trusted (" + reason +
                                          "): " + leaf.shownSubject() + ", issued by " +
                                          leaf.shownIssuer()};
}

// The most a file of trusted certificates may hold (a few thousand of them).
constexpr off_t kMaxTrustFileBytes = 1 << 20;

// Opens path for reading without blocking (a FIFO would wait for a writer)
// and with the rights of the user who started the program: a privileged
// copy (setgid, setuid, file capabilities) must not read what that user
// may not. -1 with errno set when it cannot.
int OpenAsUser(const std::string& path) {
    const uid_t ruid = ::getuid();
    const uid_t euid = ::geteuid();
    const gid_t rgid = ::getgid();
    const gid_t egid = ::getegid();
    bool secure = ruid != euid || rgid != egid;
#if defined(__linux__)
    secure = secure || ::getauxval(AT_SECURE) != 0;
#endif
    if (secure) {
        // access() judges by the real user and group, without capabilities.
        if (::access(path.c_str(), R_OK) != 0) return -1;
        if ((egid != rgid && ::setegid(rgid) != 0) || (euid != ruid && ::seteuid(ruid) != 0)) {
            errno = EPERM;
            return -1;
        }
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    const int openError = errno;
    if (secure) {
        // Back to the program's own rights; these cannot fail, as the
        // saved identities are these.
        if (euid != ruid && ::seteuid(euid) != 0) std::abort();
        if (egid != rgid && ::setegid(egid) != 0) std::abort();
    }
    errno = openError;
    return fd;
}

// The bytes of the file of trusted certificates, or why they cannot be had:
// a regular file of at most kMaxTrustFileBytes, nothing else.
std::optional<std::string> ReadTrustFile(const std::string& path, std::string& why) {
    const std::string shown = Escaped(path);
    const int fd = OpenAsUser(path);
    if (fd < 0) {
        why = "cannot read the trusted certificates " + shown + ": " + std::strerror(errno);
        return std::nullopt;
    }
    const platform::ScopeExit closeFile([fd] { ::close(fd); });
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        why = "cannot read the trusted certificates " + shown + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (S_ISDIR(info.st_mode)) {
        why = "the trusted certificates " + shown + " are a folder, not a file";
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        why = "the trusted certificates " + shown + " are not a regular file";
        return std::nullopt;
    }
    const std::string tooLarge = "the trusted certificates " + shown + " are larger than 1 MiB";
    if (info.st_size > kMaxTrustFileBytes) {
        why = tooLarge;
        return std::nullopt;
    }
    // One byte more than allowed, so that a file that grew is refused too.
    std::string bytes(static_cast<std::size_t>(kMaxTrustFileBytes) + 1, '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            why = "cannot read the trusted certificates " + shown + ": " + std::strerror(errno);
            return std::nullopt;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got > static_cast<std::size_t>(kMaxTrustFileBytes)) {
        why = tooLarge;
        return std::nullopt;
    }
    bytes.resize(got);
    return bytes;
}

// The extra trust anchors, or why they cannot be had.
std::string LoadTrustFile(gnutls_certificate_credentials_t credentials, const std::string& path) {
    std::string why;
    const std::optional<std::string> content = ReadTrustFile(path, why);
    if (!content) return why;
    const std::string& pem = *content;
    gnutls_datum_t datum{reinterpret_cast<unsigned char*>(const_cast<char*>(pem.data())),
                         static_cast<unsigned>(pem.size())};
    const int added =
        gnutls_certificate_set_x509_trust_mem(credentials, &datum, GNUTLS_X509_FMT_PEM);
    if (added < 0)
        return "the trusted certificates " + Escaped(path) + " cannot be used: " + Reason(added);
    if (added == 0)
        return "the file of trusted certificates " + Escaped(path) + " holds no certificate";
    return {};
}

}  // namespace

struct GnutlsTlsClient::Impl {
    GnutlsTlsClient& self;
    TlsTransport transport;
    platform::TcpClient& tcp;
    gnutls_certificate_credentials_t credentials = nullptr;
    gnutls_session_t session = nullptr;
    std::string host;
    std::string alpn;
    std::string received;  // raw bytes from the connection, for GnuTLS to pull
    std::string plain;     // decrypted and not yet read
    std::string subject;
    bool open = false;
    bool tcpEnded = false;
    bool connected = false;
    bool systemTrustLoaded = false;
    bool peerClosed = false;
    // Counts connect() and close(), so that a handler that closed or started
    // anew is noticed by the code that called it.
    unsigned generation = 0;
    platform::Liveness liveness;

    Impl(GnutlsTlsClient& owner, TlsTransport from)
        : self(owner), transport(std::move(from)), tcp(*transport.tcp) {
        tcp.onDataArrival = [this] {
            if (auto bytes = tcp.readAll(kSocketReadBufferBytes)) received += *bytes;
            advance();
        };
        tcp.onPeerClosed = [this] {
            tcpEnded = true;
            advance();
        };
        tcp.onError = [this](SocketErrorKind kind, const std::string& description) {
            const std::string text = description;  // close() clears it
            stop();
            notify(self.onError, kind, text);
        };
    }
    ~Impl() {
        liveness.end();
        stop();
    }

    void stop() {
        ++generation;
        tcp.close();
        if (session) gnutls_deinit(session);
        session = nullptr;
        if (credentials) gnutls_certificate_free_credentials(credentials);
        credentials = nullptr;
        received.clear();
        plain.clear();
        subject.clear();
        open = tcpEnded = connected = peerClosed = false;
    }

    // Calls a handler; true when this session is still the one running after it.
    template <class Handler, class... Args>
    bool notify(const Handler& handler, Args&&... args) {
        if (!handler) return true;
        const platform::Liveness::Watch watch = liveness.watch();
        const unsigned before = generation;
        const auto copy = handler;
        copy(std::forward<Args>(args)...);
        return watch.alive() && generation == before;
    }

    void failTls(TlsErrorKind kind, const std::string& description) {
        stop();
        notify(self.onTlsError, kind, description);
    }

    // A failure found inside connect() is reported from the event loop, as
    // every other notification is.
    void failLater(TlsErrorKind kind, const std::string& description) {
        transport.post([this, watch = liveness.watch(), before = generation, kind, description] {
            if (watch.alive() && generation == before) failTls(kind, description);
        });
    }

    static ssize_t push(gnutls_transport_ptr_t context, const void* data, std::size_t size) {
        auto* impl = static_cast<Impl*>(context);
        if (!impl->transport.send(std::string(static_cast<const char*>(data), size))) {
            gnutls_transport_set_errno(impl->session, EPIPE);
            return -1;
        }
        return static_cast<ssize_t>(size);
    }

    static ssize_t pull(gnutls_transport_ptr_t context, void* data, std::size_t size) {
        auto* impl = static_cast<Impl*>(context);
        if (impl->received.empty()) {
            if (impl->tcpEnded) return 0;
            gnutls_transport_set_errno(impl->session, EAGAIN);
            return -1;
        }
        const std::size_t count = std::min(size, impl->received.size());
        std::memcpy(data, impl->received.data(), count);
        impl->received.erase(0, count);
        return static_cast<ssize_t>(count);
    }

    // Never waits: more data comes with the next notification.
    static int pullTimeout(gnutls_transport_ptr_t context, unsigned) {
        const auto* impl = static_cast<const Impl*>(context);
        return impl->received.empty() && !impl->tcpEnded ? 0 : 1;
    }

    void connect(const std::string& toHost, std::uint16_t port, const std::string& protocol,
                 const std::string& extraTrust) {
        stop();
        open = true;
        host = toHost;
        alpn = protocol;
        if (gnutls_certificate_allocate_credentials(&credentials) < 0) {
            credentials = nullptr;
            failLater(TlsErrorKind::Handshake, "TLS cannot be set up");
            return;
        }
        // With a file of its own, the system's store (some 150 certificates,
        // several milliseconds to read) is read only when that file does
        // not vouch for the server.
        systemTrustLoaded = extraTrust.empty();
        // No usable system store leaves the extra certificates alone.
        if (systemTrustLoaded) gnutls_certificate_set_x509_system_trust(credentials);
        if (!extraTrust.empty()) {
            const std::string problem = LoadTrustFile(credentials, extraTrust);
            if (!problem.empty()) {
                failLater(TlsErrorKind::TrustFile, problem);
                return;
            }
        }
        const std::string problem = startSession();
        if (!problem.empty()) {
            failLater(TlsErrorKind::Handshake, problem);
            return;
        }
        tcp.connect(host, port);
        // The ClientHello waits in the connection until it stands.
        advance();
    }

    std::string startSession() {
        if (gnutls_init(&session, GNUTLS_CLIENT | GNUTLS_NONBLOCK) < 0) {
            session = nullptr;
            return "TLS cannot be set up";
        }
        int rc = gnutls_priority_set_direct(session, "NORMAL:-VERS-ALL:+VERS-TLS1.3", nullptr);
        if (rc >= 0) rc = gnutls_credentials_set(session, GNUTLS_CRD_CERTIFICATE, credentials);
        // Names go to the server (SNI); addresses may not (RFC 6066).
        if (rc >= 0 && !IsIpAddress(host))
            rc = gnutls_server_name_set(session, GNUTLS_NAME_DNS, host.data(), host.size());
        if (rc >= 0) {
            gnutls_datum_t protocol{reinterpret_cast<unsigned char*>(alpn.data()),
                                    static_cast<unsigned>(alpn.size())};
            rc = gnutls_alpn_set_protocols(session, &protocol, 1, GNUTLS_ALPN_MANDATORY);
        }
        if (rc < 0) return std::string("TLS cannot be set up: ") + Reason(rc);
        // The caller's time-out ends a handshake that stalls.
        gnutls_handshake_set_timeout(session, 0);
        gnutls_transport_set_ptr(session, this);
        gnutls_transport_set_push_function(session, &Impl::push);
        gnutls_transport_set_pull_function(session, &Impl::pull);
        gnutls_transport_set_pull_timeout_function(session, &Impl::pullTimeout);
        return {};
    }

    // GnuTLS took some of what was left and there is more.
    bool consumed(std::size_t left) const { return !received.empty() && received.size() < left; }

    // Moves the handshake or the records on with what has arrived.
    void advance() {
        if (!session) return;
        if (!connected) {
            int rc;
            std::size_t left;
            do {
                left = received.size();
                rc = gnutls_handshake(session);
            } while (rc < 0 && !gnutls_error_is_fatal(rc) &&
                     (rc != GNUTLS_E_AGAIN || consumed(left)));
            if (rc == GNUTLS_E_AGAIN) return;
            if (rc < 0) {
                std::string text = "TLS handshake failed: " + Reason(rc);
                if (rc == GNUTLS_E_FATAL_ALERT_RECEIVED)
                    text +=
                        std::string(" (") + gnutls_alert_get_name(gnutls_alert_get(session)) + ")";
                failTls(TlsErrorKind::Handshake, text);
                return;
            }
            if (!checkPeer()) return;
            connected = true;
            if (!notify(self.onConnected)) return;
        }
        readRecords();
    }

    bool checkPeer() {
        gnutls_datum_t chosen{};
        if (gnutls_alpn_get_selected_protocol(session, &chosen) < 0 ||
            std::string(reinterpret_cast<const char*>(chosen.data), chosen.size) != alpn) {
            failTls(TlsErrorKind::Handshake, "the server does not speak " + alpn);
            return false;
        }
        unsigned length = 0;
        const gnutls_datum_t* chain = gnutls_certificate_get_peers(session, &length);
        if (!chain || length == 0) {
            failTls(TlsErrorKind::NotTrusted, "the server sent no certificate");
            return false;
        }
        unsigned status = 0;
        int rc = gnutls_certificate_verify_peers3(session, host.c_str(), &status);
        // More anchors cannot spoil a chain the file alone verified; one it
        // did not is judged, as without the deferral, by both together.
        if (rc >= 0 && status != 0 && !systemTrustLoaded) {
            systemTrustLoaded = true;
            gnutls_certificate_set_x509_system_trust(credentials);
            status = 0;
            rc = gnutls_certificate_verify_peers3(session, host.c_str(), &status);
        }
        if (rc < 0) {
            failTls(TlsErrorKind::NotTrusted,
                    std::string("the server's certificate cannot be checked: ") + Reason(rc));
            return false;
        }
        if (status != 0) {
            const auto [kind, text] = Explain(status, chain, length, host);
            failTls(kind, text);
            return false;
        }
        subject = Certificate(chain[0]).subject();
        return true;
    }

    void readRecords() {
        bool arrived = false;
        bool ended = false;
        std::string failure;
        char chunk[16 * 1024];
        while (true) {
            const std::size_t left = received.size();
            const ssize_t got = gnutls_record_recv(session, chunk, sizeof chunk);
            if (got > 0) {
                // Bounded like the plain connection's buffer: the rest is dropped.
                const std::size_t room =
                    kSocketReadBufferBytes - std::min(kSocketReadBufferBytes, plain.size());
                plain.append(chunk, std::min(room, static_cast<std::size_t>(got)));
                arrived = true;
                continue;
            }
            // Also after a message of the handshake's (a session ticket) with
            // more behind it.
            if (got == GNUTLS_E_AGAIN && !consumed(left)) break;
            if (got == GNUTLS_E_AGAIN) continue;
            // close_notify, or the connection's end without it.
            if (got == 0 || got == GNUTLS_E_PREMATURE_TERMINATION) {
                ended = true;
                break;
            }
            if (!gnutls_error_is_fatal(static_cast<int>(got))) continue;
            failure = std::string("TLS session failed: ") + Reason(static_cast<int>(got));
            break;
        }
        if (arrived && !notify(self.onDataArrival)) return;
        if (!failure.empty()) {
            stop();
            notify(self.onError, SocketErrorKind::Other, failure);
            return;
        }
        if (ended && !peerClosed) {
            peerClosed = true;
            notify(self.onPeerClosed);
        }
    }

    bool write(const std::string& bytes) {
        if (!connected || peerClosed) return false;
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t sent =
                gnutls_record_send(session, bytes.data() + done, bytes.size() - done);
            if (sent == GNUTLS_E_AGAIN || sent == GNUTLS_E_INTERRUPTED) continue;
            if (sent < 0) return false;
            done += static_cast<std::size_t>(sent);
        }
        return true;
    }
};

GnutlsTlsClient::GnutlsTlsClient(TlsTransport transport)
    : impl_(std::make_unique<Impl>(*this, std::move(transport))) {}
GnutlsTlsClient::~GnutlsTlsClient() = default;

void GnutlsTlsClient::connect(const std::string& host, std::uint16_t port, const std::string& alpn,
                              const std::string& extraTrust) {
    impl_->connect(host, port, alpn, extraTrust);
}

bool GnutlsTlsClient::write(const std::string& bytes) {
    return impl_->write(bytes);
}

std::optional<std::string> GnutlsTlsClient::readAll(std::size_t maxBytes) {
    if (!impl_->open) return std::nullopt;
    std::string out = impl_->plain.substr(0, std::min(maxBytes, impl_->plain.size()));
    impl_->plain.clear();
    return out;
}

std::optional<std::string> GnutlsTlsClient::exportKeyingMaterial(const std::string& label,
                                                                 const std::string& context,
                                                                 std::size_t length) {
    if (!impl_->connected) return std::nullopt;
    std::string out(length, '\0');
    if (gnutls_prf_rfc5705(impl_->session, label.size(), label.data(), context.size(),
                           context.data(), length, out.data()) < 0)
        return std::nullopt;
    return out;
}

std::string GnutlsTlsClient::peerSubject() const {
    return impl_->connected ? impl_->subject : std::string();
}

void GnutlsTlsClient::close() {
    impl_->stop();
}

bool GnutlsTlsClient::isOpen() const {
    return impl_->open;
}

}  // namespace tempikon::gnutls
