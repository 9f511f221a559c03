#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/config.h"
#include "core/ntp_packet.h"
#include "core/query/failure.h"
#include "core/query/ntp_burst.h"
#include "core/rate_backoff.h"
#include "platform/platform.h"

namespace tempikon::core {

class DaytimeExchange;
class NtsClient;

// The query's time-out in milliseconds: Timeout seconds clamped to
// 1 ... 2,147,483 so that a query always ends and the product fits 32 bits.
int TimeoutMilliseconds(std::int32_t timeoutSeconds);

// What one server said, whatever the protocol.
struct QueryAnswer {
    // Daytime: the time text cut from the reply (bytes), and the reply.
    std::string timeText;
    std::string reply;
    // NTP and NTS: the sample of least delay.
    std::optional<ntp::Sample> sample;
    // Why there is no time; kind None when there is one.
    QueryFailure failure;
    // Microseconds from the connection attempt (Daytime) or the request
    // (NTP) to the first data; -1 when none came.
    std::int64_t roundTripMicros = -1;
    // Daytime: the monotonic moment of that first data.
    std::int64_t firstDataMicros = 0;
    // NTS: the certificate subject of the server the sample came from, and
    // the warning records of the key establishment, if one ran.
    std::string ntsSubject;
    std::vector<std::string> warnings;

    bool any() const { return !timeText.empty() || sample.has_value(); }
    // The answer is a date and a time (NTP, NTS), not a time of day alone.
    bool hasDate() const { return sample.has_value(); }
};

// Asks one server for its time by the protocol its spec names. One query at
// a time, whatever the protocol; the wait lets window events run. The
// timers and sockets are the query's own.
class ServerQuery {
public:
    explicit ServerQuery(platform::Platform& platform);
    ~ServerQuery();
    ServerQuery(const ServerQuery&) = delete;
    ServerQuery& operator=(const ServerQuery&) = delete;

    // Waits, handling window events, until the answer, an error or the
    // time-out (timeoutSeconds, clamped as TimeoutMilliseconds says; for NTP
    // each of up to ntpRequests requests waits that long). While another
    // query waits or after shutdown() it returns an empty answer at once; a
    // protocol the program does not know gives its failure without a wait.
    // An NTP server that answered DENY or RSTR is not asked again until
    // forgetRefusals(); NTS keys are kept for later queries of the server.
    QueryAnswer ask(const ServerSpec& server, std::int32_t timeoutSeconds,
                    int ntpRequests = kNtpBurstRequests);
    // The answer of the last query that ran.
    const QueryAnswer& lastAnswer() const { return answer_; }

    // The settings changed: servers that refused may be asked again.
    void forgetRefusals() { refusedServers_.clear(); }
    // Key establishments run so far (each NTS query reuses what it can).
    int ntsKeyExchanges() const;

    bool isBusy() const { return busy_; }
    // Ends a waiting query at once (the user stopped a check); later
    // queries run as usual. It gives no time and fails as Stopped.
    void cancel();
    // Ends a waiting query at once and refuses all later ones (the main
    // window is closing).
    void shutdown();
    bool isShutDown() const { return shutDown_; }

    // Called whenever isBusy() changes.
    int addBusyListener(std::function<void()> listener);
    void removeBusyListener(int id);
    std::size_t busyListenerCount() const { return listeners_.size(); }

    // The Daytime exchange, its timer and socket, for tests.
    DaytimeExchange& daytime() { return *daytime_; }

private:
    void setBusy(bool busy);
    // Handles events until finished() or the end of the query; false (the
    // failure set) when it was stopped or shut down meanwhile.
    bool waitUntil(const std::function<bool()>& finished);
    void askDaytime(const std::string& host, int timeoutMs);
    void askNtp(const std::string& host, int timeoutMs, int requests);
    void askNts(const std::string& host, const std::string& trustFile, int timeoutMs, int requests);
    // The burst and its UDP client, made at the first NTP or NTS query;
    // false (failure set) when the system has none.
    bool makeBurst();
    void stopExchanges();

    platform::Platform& platform_;
    std::unique_ptr<platform::Timer> daytimeTimer_;
    std::unique_ptr<platform::TcpClient> daytimeSocket_;
    std::unique_ptr<DaytimeExchange> daytime_;
    std::unique_ptr<platform::Timer> ntpTimer_;
    std::unique_ptr<platform::UdpClient> udp_;
    std::unique_ptr<NtpBurst> burst_;
    std::unique_ptr<NtsClient> nts_;
    std::set<std::string> refusedServers_;
    // NTP servers (NTS's too) that said RATE, by host and port.
    RateBackoff rates_;
    QueryAnswer answer_;
    Protocol asking_ = Protocol::Daytime;
    bool cancelled_ = false;
    bool busy_ = false;
    bool shutDown_ = false;
    int nextListenerId_ = 1;
    std::vector<std::pair<int, std::function<void()>>> listeners_;
};

}  // namespace tempikon::core
