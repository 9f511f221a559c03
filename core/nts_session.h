#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "core/daytime_query.h"
#include "core/server_address.h"
#include "platform/platform.h"

namespace tempikon::core {

// What one NTS key establishment gives a client: the two keys, the cookies
// (each sent once), the NTP server to ask, and who vouched for it.
struct NtsSession {
    std::string c2sKey;
    std::string s2cKey;
    std::deque<std::string> cookies;
    ServerAddress ntpServer;
    // The verified certificate's subject, for /QUERY.
    std::string subject;
};

// One NTS key establishment over the platform's TLS client, driven by
// events like NtpBurst; whoever started it waits until done().
class NtsKeyExchange {
public:
    NtsKeyExchange(platform::Timer& timer, platform::TlsClient& tls);
    ~NtsKeyExchange();
    NtsKeyExchange(const NtsKeyExchange&) = delete;
    NtsKeyExchange& operator=(const NtsKeyExchange&) = delete;

    // Connects to the key-establishment server, trusting the system's
    // certificates plus those in the PEM file trustFile (none when empty),
    // and asks for keys and cookies; all of it within timeoutMs.
    void start(const ServerAddress& server, const std::string& trustFile, int timeoutMs);
    // Ends it at once; nothing is reported.
    void stop();
    bool done() const { return phase_ == Phase::Done; }

    // Set once done and all went well.
    const std::optional<NtsSession>& session() const { return session_; }
    // Why there is no session; kind None when there is one.
    const QueryFailure& failure() const { return failure_; }
    // Warning records the server sent, escaped.
    const std::vector<std::string>& warnings() const { return warnings_; }

    // Handlers, public so that tests can reach them.
    void onConnected();
    void onDataArrival();
    void onPeerClosed();
    void onError(platform::SocketErrorKind kind, const std::string& description);
    void onTlsError(platform::TlsErrorKind kind, const std::string& description);
    void onTimer();

private:
    enum class Phase { Idle, Connecting, Waiting, Done };
    // Reads what the answer holds so far; true when it ended the exchange.
    bool readAnswer();
    void fail(FailureKind kind, std::string reason);
    void finish();

    platform::Timer& timer_;
    platform::TlsClient& tls_;
    Phase phase_ = Phase::Idle;
    ServerAddress server_;
    int timeoutMs_ = 0;
    std::string answer_;
    std::optional<NtsSession> session_;
    QueryFailure failure_;
    std::vector<std::string> warnings_;
};

}  // namespace tempikon::core
