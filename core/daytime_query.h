#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/ntp_packet.h"
#include "core/server_address.h"
#include "platform/platform.h"

namespace tempikon::core {

// The most reply text a data arrival keeps; the rest is dropped.
inline constexpr std::size_t kMaxReplyBytes = 64 * 1024;
inline constexpr int kDaytimePort = 13;

// At most 8 characters from two before the first colon; empty when the
// reply is empty or its first colon is at position 1 or 2 (or absent).
std::string CutTimeText(std::string_view reply);

// The reply so far holds the whole time: a line end after the first colon,
// or the five characters after it that the cut takes. Until then a query
// keeps reading; a reply that ends sooner holds no time.
bool ReplyHoldsTheTime(std::string_view reply);

// Reply bytes (one byte per character) as UTF-8, for showing them in a control.
std::string Latin1ToUtf8(std::string_view bytes);

// The query's time-out in milliseconds: Timeout seconds clamped to
// 1 ... 2,147,483 so that a query always ends and the product fits 32 bits.
int TimeoutMilliseconds(std::int32_t timeoutSeconds);

// Why a query gave no usable time, for the user to act on.
enum class FailureKind {
    None,
    Refused,
    TimedOut,
    HostNotFound,
    Reset,
    ConnectionFailed,
    NoTimeInReply,
    InvalidTime,
    Rejected,         // an NTP reply that must not set a clock
    NotTrusted,       // NTS: the server's certificate did not prove who it is
    Unauthenticated,  // NTS: a reply whose authenticator did not verify
    BadAddress,
    Stopped,  // cancel() ended it
};

struct QueryFailure {
    FailureKind kind = FailureKind::None;
    std::string reason;  // e.g. "connection refused", "no answer within 3 s"
};

// Bytes with control characters, quotes, backslashes and bytes beyond ASCII
// escaped (\x1b, \n, \"), so that a hostile reply or host name cannot drive
// the terminal it is shown on.
std::string EscapeText(std::string_view text);

// The first maxChars bytes of a reply, escaped, in quotes.
std::string QuoteReply(std::string_view reply, std::size_t maxChars = 60);

// The failure of a reply without a whole time: it held none, or it ended
// before the time in it was whole.
QueryFailure NoTimeFailure(std::string_view reply);

// The failure of a time text that is not a time of day.
QueryFailure InvalidTimeFailure(std::string_view timeText);

// The failure of a connection the system reported, as a user reads it.
QueryFailure ConnectionFailure(platform::SocketErrorKind kind, const std::string& description);

class NtpBurst;
class NtsKeyExchange;
struct NtsSession;

// Asks a time server for its time: a Daytime server over TCP, an NTP server
// over UDP. One query at a time, whatever the protocol; the Daytime timer
// and socket belong to the caller, the NTP ones to the query.
class DaytimeQuery {
public:
    DaytimeQuery(platform::Platform& platform, platform::Timer& timeoutTimer,
                 platform::TcpClient& socket);
    ~DaytimeQuery();
    DaytimeQuery(const DaytimeQuery&) = delete;
    DaytimeQuery& operator=(const DaytimeQuery&) = delete;

    // Waits, handling window events, until the reply, an error or
    // timeoutSeconds (clamped as TimeoutMilliseconds says). Returns the time
    // text cut from the reply (bytes), or empty text. While another query
    // waits, after shutdown(), or for a host name with a NUL in it, returns
    // empty text at once.
    std::string ask(const std::string& host, std::int32_t timeoutSeconds);

    // Asks an NTP server (host, host:port, [v6]:port; port 123 by default)
    // with a burst of up to maxRequests requests, each waiting up to
    // timeoutSeconds, and returns the sample with the least delay. A server
    // that answered DENY or RSTR is not asked again until forgetRefusals().
    std::optional<ntp::Sample> askNtp(const std::string& server, std::int32_t timeoutSeconds,
                                      int maxRequests);
    // Asks an NTS server: server names the key-establishment server (port
    // 4460 by default), whose certificate must chain to the system's trust
    // store or to one in the PEM file trustFile (none when empty). The keys
    // and cookies it gives are kept for later queries of the same server;
    // a new key establishment happens when they run out or the server no
    // longer takes them (once per query). Only authenticated replies count.
    std::optional<ntp::Sample> askNts(const std::string& server, std::int32_t timeoutSeconds,
                                      int maxRequests, const std::string& trustFile);
    // The certificate subject of the server the last NTS query's sample
    // came from; empty otherwise.
    const std::string& lastNtsSubject() const { return ntsSubject_; }
    // Warning records of the last NTS query's key establishment, if it ran.
    const std::vector<std::string>& lastNtsWarnings() const { return ntsWarnings_; }
    // Key establishments run so far (each NTS query reuses what it can).
    int ntsKeyExchanges() const { return ntsKeyExchanges_; }
    // The settings changed: servers that refused may be asked again.
    void forgetRefusals() { refusedServers_.clear(); }

    bool isBusy() const;
    // The last query's reply as received (bytes), empty after a time-out.
    const std::string& lastReply() const { return reply_; }
    // Microseconds from the connection attempt to the first data of the
    // last query; -1 when no data came.
    std::int64_t lastRoundTripMicros() const { return roundTripMicros_; }
    // The monotonic moment of that first data.
    std::int64_t lastFirstDataMicros() const { return startMicros_ + roundTripMicros_; }
    // The last NTP query's best sample; nullopt after a Daytime query.
    const std::optional<ntp::Sample>& lastSample() const { return lastSample_; }
    // Why the last query gave no time text; kind None when it gave one.
    const QueryFailure& lastFailure() const { return failure_; }
    // Ends a waiting query at once (the user stopped a check); later
    // queries run as usual. It gives no time and fails as Stopped.
    void cancel();
    // Ends a waiting query at once and refuses all later ones (the main
    // window is closing).
    void shutdown();
    bool isShutDown() const;

    // Called whenever isBusy() changes.
    int addBusyListener(std::function<void()> listener);
    void removeBusyListener(int id);
    std::size_t busyListenerCount() const { return listeners_.size(); }

    // Handlers, public so that tests can reach them.
    void onTimeout();
    void onSocketError(platform::SocketErrorKind kind, const std::string& description);
    void onDataArrival();
    void onPeerClosed();

private:
    void setBusy(bool busy);
    void endQuery();
    // Starts a query: false (and nothing changed) while another one waits.
    bool begin();
    // The part of askNtp and askNts before the burst: false (failure_ set)
    // when the query cannot start.
    bool beginNtp();
    // Handles events until finished() or the end of the query; false (the
    // failure set) when it was stopped or shut down meanwhile.
    bool waitUntil(const std::function<bool()>& finished);
    // Runs the burst to its end; false when the query was stopped.
    bool runBurst(const ServerAddress& server, int maxRequests);
    // A key establishment to the end; false when it was stopped.
    bool runKeyExchange(const ServerAddress& server, const std::string& trustFile);

    platform::Platform& platform_;
    platform::Timer& timeoutTimer_;
    platform::TcpClient& socket_;
    // The running query's state: done once the reply, an error or the
    // time-out came; the reply as received (one byte per character).
    bool done_ = false;
    bool cancelled_ = false;
    std::string reply_;
    std::int64_t startMicros_ = 0;
    std::int64_t roundTripMicros_ = -1;
    std::optional<ntp::Sample> lastSample_;
    int timeoutSeconds_ = 0;
    QueryFailure failure_;
    bool busy_ = false;
    bool shutDown_ = false;
    std::unique_ptr<platform::Timer> ntpTimer_;
    std::unique_ptr<platform::UdpClient> udp_;
    std::unique_ptr<NtpBurst> burst_;
    std::set<std::string> refusedServers_;
    std::unique_ptr<platform::TlsClient> tls_;
    std::unique_ptr<platform::Timer> ntsTimer_;
    std::unique_ptr<NtsKeyExchange> keyExchange_;
    // Sessions by key server and trust file.
    std::map<std::string, std::unique_ptr<NtsSession>> ntsSessions_;
    std::string ntsSubject_;
    std::vector<std::string> ntsWarnings_;
    int ntsKeyExchanges_ = 0;
    int nextListenerId_ = 1;
    std::vector<std::pair<int, std::function<void()>>> listeners_;
};

}  // namespace tempikon::core
