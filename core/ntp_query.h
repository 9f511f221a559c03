#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/daytime_query.h"
#include "core/ntp_packet.h"
#include "core/nts_session.h"
#include "core/server_address.h"
#include "platform/platform.h"

namespace tempikon::core {

// One setting asks an NTP server at most this often...
inline constexpr int kNtpBurstRequests = 4;
// ...never twice within this long (NIST asks for twice that)...
inline constexpr int kNtpSpacingMs = 2000;
inline constexpr int kNistSpacingMs = 4000;
// ...and stops early at a sample this close: its error is at most half of it.
inline constexpr std::int64_t kGoodEnoughDelayMicros = 2000;

// A host of NIST's time service, which asks clients to wait 4 s between
// requests.
bool IsNistHost(std::string_view host);

// A burst of requests to one NTP server: the platform's UDP client and a
// timer in, the best sample or the reason there is none out. Events reach
// it from the event loop; whoever started it waits until done().
class NtpBurst {
public:
    NtpBurst(platform::Platform& platform, platform::Timer& timer, platform::UdpClient& udp);
    ~NtpBurst();
    NtpBurst(const NtpBurst&) = delete;
    NtpBurst& operator=(const NtpBurst&) = delete;

    // Looks the server up and sends the first request. Each request waits
    // timeoutMs for its reply; a first request left unanswered ends the
    // burst without a sample, a later one ends it with the samples so far.
    void start(const ServerAddress& server, int timeoutMs, int maxRequests, int spacingMs);
    // NTS: requests carry a cookie of the session and are sealed with its
    // key, and only authenticated replies count, their cookies added to the
    // session. Null: plain NTP. Set before start(); both outlive the burst.
    void setNts(NtsSession* session, platform::Crypto* crypto);
    // Ends the burst at once; nothing is reported.
    void stop();
    bool done() const { return phase_ == Phase::Done; }

    // The sample with the least delay, once done; nullopt when none came.
    const std::optional<ntp::Sample>& best() const { return best_; }
    // Why there is no sample; also a kiss-o'-death that ended a burst
    // early. Kind None when nothing went wrong.
    const QueryFailure& failure() const { return failure_; }
    // The server said DENY or RSTR: it must not be asked again.
    bool denied() const { return denied_; }
    int requestsSent() const { return requestsSent_; }
    // NTS: the server answered with a NAK (it no longer knows our cookies),
    // or a request found no cookie left. Either way the session is spent.
    bool sessionSpent() const { return sessionSpent_; }

    // Handlers, public so that tests can reach them.
    void onReady();
    void onDatagram(const platform::Datagram& datagram);
    void onError(platform::SocketErrorKind kind, const std::string& description);
    void onTimer();

private:
    enum class Phase { Idle, LookingUp, Waiting, Spacing, Done };
    void sendRequest();
    void finish();
    // The reply that ended the exchange, rejected with this reason.
    void reject(FailureKind kind, std::string reason);

    platform::Platform& platform_;
    platform::Timer& timer_;
    platform::UdpClient& udp_;
    Phase phase_ = Phase::Idle;
    ServerAddress server_;
    int timeoutMs_ = 0;
    int maxRequests_ = 0;
    int spacingMs_ = 0;
    int requestsSent_ = 0;
    // The request in flight: the random value it carried and the real time
    // it left, which only this side knows.
    ntp::Timestamp sentTransmit_;
    std::int64_t sentMicros_ = 0;
    std::int64_t sentMonotonic_ = 0;
    std::vector<ntp::Sample> samples_;
    std::optional<ntp::Sample> best_;
    QueryFailure failure_;
    bool denied_ = false;
    NtsSession* nts_ = nullptr;
    platform::Crypto* crypto_ = nullptr;
    // The NTS request in flight's unique identifier.
    std::string uniqueId_;
    bool sessionSpent_ = false;
    // An unauthenticated NAK came for the request in flight.
    bool nakPending_ = false;
};

}  // namespace tempikon::core
