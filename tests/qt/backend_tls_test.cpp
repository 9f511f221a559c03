// The TLS client against OpenSSL's test server on loopback (block
// backend_tls), with certificates made in a temporary folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backend_env.h"
#include "platform/qt/qt_tcp_client.h"
#include "test_addresses.h"
#include "tests/support/daytime_server.h"

namespace addresses = tempikon::test_addresses;

namespace tempikon::qt {
namespace {

using tempikon::platform::SocketErrorKind;
using tempikon::platform::TlsErrorKind;
using testing::runFor;
using testing::waitUntil;

constexpr std::uint16_t kPort = addresses::backend_tls.port;
const char kAlpn[] = "ntske/1";
const char kExporterLabel[] = "EXPORTER-network-time-security";

// Runs openssl to completion; its output when it fails.
std::string Openssl(const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(TEMPIKON_OPENSSL, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return "openssl " + arguments.join(' ').toStdString() + ": " +
               process.readAll().toStdString();
    return {};
}

// Certificates for every case, made once.
class Certificates {
public:
    Certificates() {
        const QStringList ec{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
        // Self-signed, for the block's addresses 0, 7 and 8 and localhost.
        problem_ +=
            Openssl(QStringList{"req", "-x509"} + ec +
                    QStringList{"-keyout", path("self.key"), "-out", path("self.pem"), "-subj",
                                "/O=Tempikon/CN=Tempikon Test", "-addext",
                                QString("subjectAltName=IP:") + addresses::backend_tls.at(0) +
                                    ",IP:" + addresses::backend_tls.at(7) +
                                    ",IP:" + addresses::backend_tls.at(8) + ",DNS:localhost",
                                "-days", "2"});
        // A CA and, signed by it, a certificate that expired yesterday.
        problem_ += Openssl(QStringList{"req", "-x509"} + ec +
                            QStringList{"-keyout", path("ca.key"), "-out", path("ca.pem"), "-subj",
                                        "/CN=Tempikon Test CA", "-addext",
                                        "basicConstraints=critical,CA:TRUE", "-addext",
                                        "keyUsage=keyCertSign", "-days", "2"});
        problem_ += Openssl(QStringList{"req"} + ec +
                            QStringList{"-keyout", path("old.key"), "-out", path("old.csr"),
                                        "-subj", "/CN=Tempikon Old"});
        QFile ext(path("old.ext"));
        if (ext.open(QIODevice::WriteOnly))
            ext.write(
                (std::string("subjectAltName=IP:") + addresses::backend_tls.at(3) + "\n").c_str());
        ext.close();
        problem_ += Openssl({"x509", "-req", "-in", path("old.csr"), "-CA", path("ca.pem"),
                             "-CAkey", path("ca.key"), "-days", "-1", "-extfile", path("old.ext"),
                             "-out", path("old.pem")});
        // Names that would drive a terminal or forge a status line.
        problem_ +=
            Openssl(QStringList{"req", "-x509"} + ec +
                    QStringList{"-keyout", path("evil.key"), "-out", path("evil.pem"), "-subj",
                                "/O=Bad\x1b[31m/CN=evil\x07\nTime set to 12:00:00 d=0s", "-addext",
                                "subjectAltName=DNS:evil\x07.example", "-days", "2"});
        QFile garbage(path("garbage.pem"));
        if (garbage.open(QIODevice::WriteOnly)) garbage.write("not a certificate\n");
        // Trust "files" that are none, or too large to be one.
        if (::mkfifo(file("fifo.pem").c_str(), 0600) != 0) problem_ += "mkfifo failed";
        if (!QDir(dir_.path()).mkdir("folder.pem")) problem_ += "mkdir failed";
        QFile big(path("big.pem"));
        if (big.open(QIODevice::WriteOnly)) big.write(QByteArray((1 << 20) + 1, 'x'));
    }

    QString path(const char* name) const { return dir_.filePath(name); }
    std::string file(const char* name) const { return path(name).toStdString(); }
    const std::string& problem() const { return problem_; }

    // The day the expired certificate ended, as openssl reads it.
    std::string oldEndDay() const {
        QProcess process;
        process.start(TEMPIKON_OPENSSL, {"x509", "-in", path("old.pem"), "-noout", "-enddate",
                                         "-dateopt", "iso_8601"});
        process.waitForFinished(60000);
        // notAfter=2026-12-07 01:17:28Z
        return process.readAll().mid(9, 10).toStdString();
    }

private:
    QTemporaryDir dir_;
    std::string problem_;
};

Certificates& Certs() {
    static Certificates certificates;
    return certificates;
}

// openssl s_server on one address, until the test ends.
class TlsServer {
public:
    TlsServer(const std::string& address, const QStringList& options) {
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(TEMPIKON_OPENSSL,
                       QStringList{"s_server", "-accept",
                                   QString::fromStdString(address) + ":" + QString::number(kPort),
                                   "-keymatexport", kExporterLabel, "-keymatexportlen", "32"} +
                           options);
        started_ = waitFor("ACCEPT");
    }
    ~TlsServer() {
        process_.kill();
        process_.waitForFinished(10000);
    }

    bool started() const { return started_; }
    // Waits for text in what the server printed.
    bool waitFor(const std::string& text) {
        return waitUntil([&] {
            output_ += process_.readAll().toStdString();
            return output_.find(text) != std::string::npos;
        });
    }
    // The key it exported for the empty context, as bytes.
    std::string exportedKey() {
        const std::string marker = "Keying material: ";
        if (!waitFor(marker)) return {};
        const std::size_t at = output_.find(marker) + marker.size();
        return QByteArray::fromHex(QByteArray::fromStdString(output_.substr(at, 64))).toStdString();
    }
    void send(const std::string& text) { process_.write(text.data(), text.size()); }
    // Its standard input's end makes it close the session with close_notify.
    void endInput() { process_.closeWriteChannel(); }
    const std::string& output() const { return output_; }

private:
    QProcess process_;
    std::string output_;
    bool started_ = false;
};

QStringList ServeWith(const char* cert, const char* key) {
    return {"-cert", Certs().path(cert), "-key", Certs().path(key)};
}

// What the client reported, in order.
struct Recorder {
    std::unique_ptr<platform::TlsClient> owned = NewTlsClient();
    platform::TlsClient& client = *owned;
    bool connected = false;
    std::string subjectAtConnect;
    std::string received;
    int peerCloses = 0;
    std::optional<TlsErrorKind> tlsKind;
    std::optional<SocketErrorKind> socketKind;
    std::string error;
    int notifications = 0;

    Recorder() {
        client.onConnected = [this] {
            ++notifications;
            connected = true;
            subjectAtConnect = client.peerSubject();
        };
        client.onDataArrival = [this] {
            ++notifications;
            if (auto bytes = client.readAll(1000)) received += *bytes;
        };
        client.onPeerClosed = [this] {
            ++notifications;
            ++peerCloses;
        };
        client.onTlsError = [this](TlsErrorKind kind, const std::string& text) {
            ++notifications;
            tlsKind = kind;
            error = text;
        };
        client.onError = [this](SocketErrorKind kind, const std::string& text) {
            ++notifications;
            socketKind = kind;
            error = text;
        };
    }
    bool ended() const { return connected || tlsKind || socketKind; }
};

TEST(TlsClientOnQt, HandshakeOutcomes) {
    ASSERT_EQ(Certs().problem(), "");
    const QStringList tls13{"-tls1_3", "-alpn", kAlpn};
    struct Case {
        const char* name;
        const char* address;  // where the server listens and the client goes
        std::optional<QStringList> server;
        std::string connectTo;
        std::string trust;
        std::optional<TlsErrorKind> tlsKind;
        std::optional<SocketErrorKind> socketKind;
        std::vector<std::string> errorNames;  // parts of the error text
        bool resetting = false;               // a plain server that resets the connection instead
    };
    const std::vector<Case> cases = {
        {"trusted through the extra file",
         addresses::backend_tls.at(0),
         tls13 + ServeWith("self.pem", "self.key"),
         addresses::backend_tls.at(0),
         Certs().file("self.pem"),
         std::nullopt,
         std::nullopt,
         {}},
        {"system store alone",
         addresses::backend_tls.at(1),
         tls13 + ServeWith("self.pem", "self.key"),
         addresses::backend_tls.at(1),
         "",
         TlsErrorKind::NotTrusted,
         std::nullopt,
         {"not trusted", "CN=Tempikon Test,O=Tempikon", "issued by CN=Tempikon Test,O=Tempikon"}},
        {"certificate for another address",
         addresses::backend_tls.at(2),
         tls13 + ServeWith("self.pem", "self.key"),
         addresses::backend_tls.at(2),
         Certs().file("self.pem"),
         TlsErrorKind::NameMismatch,
         std::nullopt,
         {std::string("for ") + addresses::backend_tls.at(0) + ", " + addresses::backend_tls.at(7) +
          ", " + addresses::backend_tls.at(8) + ", localhost, not " +
          addresses::backend_tls.at(2)}},
        {"expired certificate",
         addresses::backend_tls.at(3),
         tls13 + ServeWith("old.pem", "old.key"),
         addresses::backend_tls.at(3),
         Certs().file("ca.pem"),
         TlsErrorKind::Expired,
         std::nullopt,
         {"expired on " + Certs().oldEndDay(), "CN=Tempikon Old"}},
        {"certificate names with control characters, untrusted",
         addresses::sanity.at(0),
         tls13 + ServeWith("evil.pem", "evil.key"),
         addresses::sanity.at(0),
         "",
         TlsErrorKind::NotTrusted,
         std::nullopt,
         {"CN=evil\\x07\\nTime set to 12:00:00 d=0s", "O=Bad\\x1b[31m"}},
        {"certificate names with control characters, for another host",
         addresses::sanity.at(1),
         tls13 + ServeWith("evil.pem", "evil.key"),
         addresses::sanity.at(1),
         Certs().file("evil.pem"),
         TlsErrorKind::NameMismatch,
         std::nullopt,
         {std::string("for evil\\x07.example, not ") + addresses::sanity.at(1)}},
        {"server without the protocol",
         addresses::backend_tls.at(4),
         QStringList{"-tls1_3"} + ServeWith("self.pem", "self.key"),
         addresses::backend_tls.at(4),
         Certs().file("self.pem"),
         TlsErrorKind::Handshake,
         std::nullopt,
         {kAlpn}},
        {"TLS 1.2 only",
         addresses::backend_tls.at(5),
         QStringList{"-tls1_2", "-alpn", kAlpn} + ServeWith("self.pem", "self.key"),
         addresses::backend_tls.at(5),
         Certs().file("self.pem"),
         TlsErrorKind::Handshake,
         std::nullopt,
         {"TLS handshake failed"}},
        // Nothing listens in the next two: the trust file fails first.
        {"missing trust file",
         addresses::backend_tls.at(6),
         std::nullopt,
         addresses::backend_tls.at(6),
         Certs().file("absent.pem"),
         TlsErrorKind::TrustFile,
         std::nullopt,
         {Certs().file("absent.pem"), "No such file"}},
        {"trust file without certificates",
         addresses::backend_tls.at(6),
         std::nullopt,
         addresses::backend_tls.at(6),
         Certs().file("garbage.pem"),
         TlsErrorKind::TrustFile,
         std::nullopt,
         {Certs().file("garbage.pem"), "no certificate"}},
        {"a FIFO as trust file",
         "127.0.0.176",
         std::nullopt,
         "127.0.0.176",
         Certs().file("fifo.pem"),
         TlsErrorKind::TrustFile,
         std::nullopt,
         {Certs().file("fifo.pem") + " are not a regular file"}},
        {"a device as trust file",
         "127.0.0.176",
         std::nullopt,
         "127.0.0.176",
         "/dev/zero",
         TlsErrorKind::TrustFile,
         std::nullopt,
         {"/dev/zero are not a regular file"}},
        {"a folder as trust file",
         "127.0.0.176",
         std::nullopt,
         "127.0.0.176",
         Certs().file("folder.pem"),
         TlsErrorKind::TrustFile,
         std::nullopt,
         {Certs().file("folder.pem") + " are a folder, not a file"}},
        {"a trust file over 1 MiB",
         "127.0.0.176",
         std::nullopt,
         "127.0.0.176",
         Certs().file("big.pem"),
         TlsErrorKind::TrustFile,
         std::nullopt,
         {Certs().file("big.pem") + " are larger than 1 MiB"}},
        {"reset during the handshake",
         addresses::backend_tls.at(6),
         std::nullopt,
         addresses::backend_tls.at(6),
         Certs().file("self.pem"),
         std::nullopt,
         SocketErrorKind::Reset,
         {},
         true},
        {"nothing listening",
         addresses::backend_tls.at(6),
         std::nullopt,
         addresses::backend_tls.at(6),
         Certs().file("self.pem"),
         std::nullopt,
         SocketErrorKind::Refused,
         {"refused"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<TlsServer> server;
        if (c.server) {
            server = std::make_unique<TlsServer>(c.address, *c.server);
            ASSERT_TRUE(server->started()) << server->output();
        }
        std::unique_ptr<testsupport::DaytimeServer> resetter;
        if (c.resetting) {
            testsupport::ServerOptions options;
            options.mode = testsupport::ServerMode::ResetMidReply;
            options.text = "\x16";
            options.resetAfterMs = 50;
            options.port = kPort;
            resetter = std::make_unique<testsupport::DaytimeServer>(c.address, options);
        }
        Recorder r;
        r.client.connect(c.connectTo, kPort, kAlpn, c.trust);
        EXPECT_TRUE(r.client.isOpen());
        EXPECT_EQ(r.notifications, 0);  // never from inside connect()
        ASSERT_TRUE(waitUntil([&] { return r.ended(); }));
        EXPECT_EQ(r.tlsKind, c.tlsKind) << r.error;
        EXPECT_EQ(r.socketKind, c.socketKind) << r.error;
        EXPECT_EQ(r.notifications, 1);
        for (const std::string& part : c.errorNames)
            EXPECT_NE(r.error.find(part), std::string::npos) << r.error << " lacks " << part;
        // Whatever the certificate says, the text holds no control character.
        EXPECT_TRUE(std::none_of(r.error.begin(), r.error.end(), [](char ch) {
            return ch >= 0 && ch < 0x20;
        })) << r.error;
        if (c.tlsKind || c.socketKind) {
            EXPECT_FALSE(r.connected);
            EXPECT_EQ(r.client.peerSubject(), "");
            EXPECT_EQ(r.client.exportKeyingMaterial(kExporterLabel, "", 32), std::nullopt);
            EXPECT_FALSE(r.client.write("x"));
            continue;
        }
        EXPECT_TRUE(r.connected);
        EXPECT_EQ(r.subjectAtConnect, "CN=Tempikon Test,O=Tempikon");
        const std::optional<std::string> key =
            r.client.exportKeyingMaterial(kExporterLabel, "", 32);
        ASSERT_TRUE(key.has_value());
        EXPECT_EQ(*key, server->exportedKey());
        // Another context gives another key.
        EXPECT_NE(r.client.exportKeyingMaterial(kExporterLabel, std::string("\0\0\0\x0f\0", 5), 32),
                  key);
    }
}

TEST(TlsClientOnQt, DataGoesBothWaysAndTheServersCloseComesAfterIt) {
    ASSERT_EQ(Certs().problem(), "");
    TlsServer server(addresses::backend_tls.at(7),
                     QStringList{"-tls1_3", "-alpn", kAlpn} + ServeWith("self.pem", "self.key"));
    ASSERT_TRUE(server.started()) << server.output();
    Recorder r;
    std::vector<std::string> order;
    r.client.onConnected = [&] {
        r.connected = true;
        // Written at once: nothing must be lost before the session stands.
        EXPECT_TRUE(r.client.write("ping from the client\n"));
    };
    r.client.onDataArrival = [&] {
        if (auto bytes = r.client.readAll(1000)) r.received += *bytes;
        order.push_back("data");
    };
    r.client.onPeerClosed = [&] { order.push_back("closed"); };
    r.client.connect(addresses::backend_tls.at(7), kPort, kAlpn, Certs().file("self.pem"));
    ASSERT_TRUE(server.waitFor("ping from the client")) << r.error << server.output();
    server.send("pong from the server\n");
    ASSERT_TRUE(waitUntil([&] { return r.received == "pong from the server\n"; }))
        << r.received << r.error << server.output();
    server.endInput();
    ASSERT_TRUE(waitUntil([&] { return !order.empty() && order.back() == "closed"; }));
    EXPECT_EQ(order.front(), "data");
    EXPECT_FALSE(r.socketKind.has_value()) << r.error;
    EXPECT_TRUE(r.client.isOpen());  // until the owner closes it
    EXPECT_EQ(r.client.readAll(1000), std::string());
    r.client.close();
    EXPECT_EQ(r.client.readAll(1000), std::nullopt);
}

TEST(TlsClientOnQt, CloseSilencesAndDestroyingInsideANotificationIsSafe) {
    ASSERT_EQ(Certs().problem(), "");
    TlsServer server(addresses::backend_tls.at(8),
                     QStringList{"-tls1_3", "-alpn", kAlpn} + ServeWith("self.pem", "self.key"));
    ASSERT_TRUE(server.started()) << server.output();
    {
        // Closed during the handshake (the server takes the ClientHello and
        // says nothing): nothing follows.
        QTcpServer silent;
        ASSERT_TRUE(silent.listen(QHostAddress(addresses::backend_tls.at(9)), kPort));
        Recorder r;
        r.client.connect(addresses::backend_tls.at(9), kPort, kAlpn, Certs().file("self.pem"));
        QTcpSocket* accepted = nullptr;
        ASSERT_TRUE(waitUntil([&] {
            if (!accepted) accepted = silent.nextPendingConnection();
            return accepted && accepted->bytesAvailable() > 0;
        }));
        EXPECT_EQ(accepted->read(1), QByteArray(1, '\x16'));  // a TLS handshake record
        r.client.close();
        EXPECT_FALSE(r.client.isOpen());
        accepted->write("garbage");
        runFor(100);
        EXPECT_EQ(r.notifications, 0) << r.error;
    }
    {
        // A trust-file failure is pending when close() comes.
        Recorder r;
        r.client.connect(addresses::backend_tls.at(8), kPort, kAlpn, Certs().file("absent.pem"));
        r.client.close();
        runFor(50);
        EXPECT_EQ(r.notifications, 0);
    }
    for (const std::string& trust : {Certs().file("self.pem"), std::string()}) {
        // Destroyed by its owner in onConnected and in onTlsError.
        auto client = NewTlsClient();
        bool done = false;
        client->onConnected = [&] {
            client.reset();
            done = true;
        };
        client->onTlsError = [&](TlsErrorKind, const std::string&) {
            client.reset();
            done = true;
        };
        client->connect(addresses::backend_tls.at(8), kPort, kAlpn, trust);
        ASSERT_TRUE(waitUntil([&] { return done; }));
        runFor(50);
    }
}

}  // namespace
}  // namespace tempikon::qt
