#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ntp_packet.h"
#include "core/query/failure.h"
#include "core/rate_backoff.h"
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

// What an authenticated protocol adds to a burst, in the places the burst
// calls it: before each request, to seal it, and to open each reply before
// its NTP checks. Plain NTP has none.
class BurstHooks {
public:
    virtual ~BurstHooks() = default;
    // Before a request: a reason when none may leave; the burst then ends
    // with the samples so far (and the reason only when there are none).
    virtual std::optional<QueryFailure> prepare() = 0;
    // The plain request made ready to send; nullopt (failure set) when it
    // cannot be, which ends the burst.
    virtual std::optional<std::string> seal(const std::string& request, QueryFailure& failure) = 0;
    // What a reply from the server is worth before its NTP checks.
    struct Opened {
        enum class Verdict {
            Ok,       // authentic: check it as NTP
            Ignored,  // never used, and the wait goes on (failure noted)
            Ends,     // ends the burst with this failure
        };
        Verdict verdict = Verdict::Ok;
        QueryFailure failure;
    };
    virtual Opened open(const std::string& reply) = 0;
};

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
    // The hooks the next start() calls (null: plain NTP); they outlive the burst.
    void setHooks(BurstHooks* hooks) { hooks_ = hooks; }
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
    // The server said RATE: it asks to be asked less often.
    bool rated() const { return rated_; }
    int requestsSent() const { return requestsSent_; }

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
    bool rated_ = false;
    BurstHooks* hooks_ = nullptr;
};

// RATE (RFC 5905, 7.4): a server that said it is left alone for a while.
// Before a burst: the failure when the server's pause runs yet. After it:
// a RATE starts or doubles the pause (and the failure says how long), a
// sample ends it. key names the NTP server (host and port).
std::optional<QueryFailure> PausedByRate(const RateBackoff& rates, const std::string& key,
                                         std::int64_t nowMicros);
void NoteRate(RateBackoff& rates, const std::string& key, const NtpBurst& burst,
              std::int64_t nowMicros, QueryFailure& failure);

}  // namespace tempikon::core
