#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/tcp_client.h"

namespace tempikon::platform {

// Why a TLS session was not set up, beyond the connection itself.
enum class TlsErrorKind {
    NotTrusted,    // no trusted certificate authority vouches for the server
    Expired,       // the certificate (or one on its chain) is out of its dates
    NameMismatch,  // the certificate names another host or address
    TrustFile,     // the extra trusted certificates could not be read
    Handshake,     // TLS 1.3 or the protocol (ALPN) could not be agreed
};

// A TLS 1.3 client over TCP whose notifications arrive on the window
// thread, like the TCP client's.
class TlsClient {
public:
    virtual ~TlsClient() = default;
    // Connects (the name lookup included) and shakes hands: TLS 1.3 only,
    // offering the one application protocol `alpn`, which the server must
    // choose. The server's certificate must chain to the system's trust
    // store or to a certificate in the PEM file `extraTrust` (none when
    // empty), be within its dates, and name `host` (a DNS name or an IP
    // address). onConnected follows only then; nothing is sent before.
    virtual void connect(const std::string& host, std::uint16_t port, const std::string& alpn,
                         const std::string& extraTrust) = 0;
    // Sends application data once connected; false when it cannot.
    virtual bool write(const std::string& bytes) = 0;
    // Decrypted bytes received and not yet read, at most maxBytes (the rest
    // is discarded); nullopt when the session failed.
    virtual std::optional<std::string> readAll(std::size_t maxBytes) = 0;
    // Keying material of the connected session (RFC 5705 / RFC 8446
    // exporter); nullopt before the handshake or when the library refuses.
    virtual std::optional<std::string> exportKeyingMaterial(const std::string& label,
                                                            const std::string& context,
                                                            std::size_t length) = 0;
    // The verified certificate's subject as a distinguished name
    // ("CN=time.example.net,O=Example"); empty before onConnected.
    virtual std::string peerSubject() const = 0;
    // Stops everything, the lookup included; no notification follows.
    virtual void close() = 0;
    // Connecting, shaking hands or connected.
    virtual bool isOpen() const = 0;

    std::function<void()> onConnected;
    std::function<void()> onDataArrival;
    // The server ended the session (close_notify or the connection's end),
    // after the data that came before it.
    std::function<void()> onPeerClosed;
    // The connection failed (lookup, refused, reset, ...).
    std::function<void(SocketErrorKind kind, const std::string& description)> onError;
    // The session could not be trusted or agreed. The description is a
    // whole sentence fragment a user can act on, naming the certificate,
    // e.g. "the server's certificate is not trusted: CN=ntp.lan, issued by
    // CN=ntp.lan" or "the server's certificate is for CN=a.example, not
    // b.example".
    std::function<void(TlsErrorKind kind, const std::string& description)> onTlsError;
};

}  // namespace tempikon::platform
