#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ntp_packet.h"
#include "core/nts_ke.h"
#include "core/query/failure.h"
#include "core/query/ntp_burst.h"
#include "core/server_address.h"
#include "platform/platform.h"

namespace tempikon::core {

// The cookies a client holds for one server: each goes out once, the oldest
// first, and no more than a key establishment gives are kept.
class CookieStash {
public:
    explicit CookieStash(std::size_t capacity = nts::kMaxCookies) : capacity_(capacity) {}
    // Keeps a cookie while there is room; false when it was dropped.
    bool store(std::string cookie);
    // The oldest cookie, taken out; nullopt when none is left.
    std::optional<std::string> take();
    // How many a request asks for beyond the one it replaces, so that the
    // stash is full again once the answer comes.
    std::size_t missing() const;
    std::size_t size() const { return cookies_.size(); }
    bool empty() const { return cookies_.empty(); }
    void clear() { cookies_.clear(); }

private:
    std::size_t capacity_;
    std::deque<std::string> cookies_;
};

// What one NTS key establishment gives a client: the two keys, the cookies
// (each sent once), the NTP server to ask, and who vouched for it.
struct NtsSession {
    std::string c2sKey;
    std::string s2cKey;
    CookieStash cookies;
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

// The hooks that make an NtpBurst an NTS burst over one session: each
// request carries a cookie and is sealed with the session's key; only
// authenticated replies count, and their cookies go to the stash.
class NtsBurstHooks : public BurstHooks {
public:
    NtsBurstHooks(NtsSession& session, platform::Crypto& crypto)
        : session_(session), crypto_(crypto) {}

    std::optional<QueryFailure> prepare() override;
    std::optional<std::string> seal(const std::string& request, QueryFailure& failure) override;
    Opened open(const std::string& reply) override;
    // The server answered the last request with a NAK and never with an
    // authenticated reply (it no longer knows our cookies), or a request
    // found no cookie left. Either way the session is spent.
    bool sessionSpent() const { return sessionSpent_ || nakPending_; }

private:
    NtsSession& session_;
    platform::Crypto& crypto_;
    // The request in flight's unique identifier.
    std::string uniqueId_;
    bool sessionSpent_ = false;
    // A NAK came for the request in flight, and no authenticated reply yet.
    bool nakPending_ = false;
};

// What one NTS question came to.
struct NtsResult {
    std::optional<ntp::Sample> sample;
    QueryFailure failure;
    std::string subject;                // the sample's server's certificate subject
    std::vector<std::string> warnings;  // the key establishment's, if one ran
    bool stopped = false;               // the wait was ended from outside
};

// Asks NTS servers: keeps the sessions by key server and trust file, uses
// one while its cookies last, and fetches fresh keys at most once per
// question. Whoever owns it gives the wait (which handles events until the
// condition holds, false when the question was stopped) and the burst.
class NtsClient {
public:
    using Wait = std::function<bool(const std::function<bool()>& finished)>;
    // rates: the pauses NTP servers asked for (RATE), shared with plain NTP.
    NtsClient(platform::Platform& platform, NtpBurst& burst, RateBackoff& rates, Wait wait);
    ~NtsClient();
    NtsClient(const NtsClient&) = delete;
    NtsClient& operator=(const NtsClient&) = delete;

    // Why this system cannot ask NTS servers; nullopt when it can.
    std::optional<QueryFailure> unavailable();
    // server names the key-establishment server (port 4460 by default),
    // whose certificate must chain to the system's trust store or to one in
    // the PEM file trustFile (none when empty). Call only when available.
    NtsResult ask(const ServerAddress& server, const std::string& trustFile, int timeoutMs,
                  int maxRequests);
    // Ends a running key establishment at once.
    void stop();
    // Key establishments run so far.
    int keyExchanges() const { return keyExchanges_; }

private:
    platform::Platform& platform_;
    NtpBurst& burst_;
    RateBackoff& rates_;
    Wait wait_;
    std::unique_ptr<platform::TlsClient> tls_;
    std::unique_ptr<platform::Timer> timer_;
    std::unique_ptr<NtsKeyExchange> keyExchange_;
    std::map<std::string, std::unique_ptr<NtsSession>> sessions_;
    int keyExchanges_ = 0;
};

}  // namespace tempikon::core
