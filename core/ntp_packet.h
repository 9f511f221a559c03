#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The NTP packet and the sample arithmetic of an SNTP client (RFC 4330,
// RFC 5905): bytes and instants in, verdicts and samples out. No sockets,
// no clock.
namespace tempikon::core::ntp {

inline constexpr std::size_t kHeaderBytes = 48;
inline constexpr std::uint16_t kPort = 123;
// Seconds from 1900-01-01 (NTP era 0) to 1970-01-01.
inline constexpr std::int64_t kUnixEpochSeconds = 2'208'988'800;
// A reply whose root delay / 2 + root dispersion is larger must not set a clock.
inline constexpr std::int64_t kMaxRootDistanceMicros = 1'500'000;

// A 64-bit NTP timestamp: seconds and a binary fraction of a second.
struct Timestamp {
    std::uint32_t seconds = 0;
    std::uint32_t fraction = 0;

    std::uint64_t raw() const { return (std::uint64_t{seconds} << 32) | fraction; }
    static Timestamp fromRaw(std::uint64_t raw) {
        return {static_cast<std::uint32_t>(raw >> 32), static_cast<std::uint32_t>(raw)};
    }
    bool isZero() const { return seconds == 0 && fraction == 0; }
    bool operator==(const Timestamp&) const = default;
};

// The instant (microseconds since 1970 UTC) a timestamp stands for, in the
// era (136 years each, the first from 1900) that puts it nearest nearMicros.
std::int64_t ToUnixMicros(Timestamp t, std::int64_t nearMicros);
// The timestamp of an instant; the era is dropped.
Timestamp FromUnixMicros(std::int64_t micros);

struct Packet {
    int leap = 0;     // 0..3; 3: unsynchronised
    int version = 0;  // 1..7
    int mode = 0;     // 3 client, 4 server
    int stratum = 0;  // 0: kiss-o'-death (or unspecified)
    int poll = 0;
    int precision = 0;
    std::uint32_t rootDelay = 0;       // 16.16 seconds
    std::uint32_t rootDispersion = 0;  // 16.16 seconds
    std::uint32_t referenceId = 0;     // the kiss code's four ASCII bytes at stratum 0
    Timestamp reference;
    Timestamp origin;
    Timestamp receive;
    Timestamp transmit;
};

// A client request: version 4, mode 3, every field zero but the transmit
// timestamp, which carries `transmit` (a random value, never the send time,
// so that the reply's origin field proves it answers this request).
std::string BuildRequest(Timestamp transmit);

// The packet's header fields; nullopt when it is shorter than 48 bytes.
// Whatever follows the header (extension fields, a MAC) is not read here.
std::optional<Packet> ParsePacket(std::string_view bytes);
// The bytes of a packet's header (for test servers and fuzzing).
std::string SerializePacket(const Packet& packet);

// Why a reply may or may not set a clock, in the order they are checked.
enum class Verdict {
    Ok,
    TooShort,
    WrongOrigin,     // origin is not the transmit value the request carried
    NotServer,       // mode other than 4
    BadVersion,      // version other than 3 or 4
    KissRate,        // stratum 0, code RATE: send less often
    KissDeny,        // stratum 0, code DENY: stop asking this server
    KissRstr,        // stratum 0, code RSTR: stop asking this server
    KissOther,       // stratum 0, any other code of four letters or digits
    BadStratum,      // stratum 16 or above
    Unsynchronised,  // leap indicator 3, or stratum 0 without a kiss code
    ZeroTransmit,    // transmit timestamp zero
    RootDistance,    // root delay / 2 + root dispersion over 1.5 s
};

struct Check {
    Verdict verdict = Verdict::Ok;
    // What a user reads, e.g. "the server is not synchronised (leap
    // indicator 3)"; empty for Ok. Bytes from the packet are escaped.
    std::string reason;
    std::optional<Packet> packet;  // set whenever the header could be read
};

// Checks a reply to the request that carried sentTransmit. Origin first, so
// that a forged kiss-o'-death cannot stop the client.
Check CheckReply(std::string_view bytes, Timestamp sentTransmit);

// One exchange: T1 the client's real send time and T4 its receive time
// (microseconds since 1970 UTC, by the local clock), T2 and T3 the
// server's receive and transmit timestamps.
struct Sample {
    std::int64_t offsetMicros = 0;    // server minus local: ((T2-T1)+(T3-T4))/2
    std::int64_t delayMicros = 0;     // round trip: (T4-T1)-(T3-T2), never below 0
    std::int64_t receivedMicros = 0;  // T4
    int stratum = 0;
    int leap = 0;
    std::uint32_t referenceId = 0;
};

// The server's timestamps are read in the era nearest eraNearMicros (T1
// when unset).
Sample MakeSample(const Packet& reply, std::int64_t t1Micros, std::int64_t t4Micros,
                  std::optional<std::int64_t> eraNearMicros = std::nullopt);

// What a sample must keep to, to be believed.
struct SampleLimits {
    // The query's time-out: a longer round trip by this clock means the
    // clock moved meanwhile. 0: no limit.
    std::int64_t maxRoundTripMicros = 0;
    // When this version was made: the server's timestamps are read in the
    // era nearest the later of T1 and this, and a server time before it is
    // refused. 0: no floor.
    std::int64_t floorMicros = 0;
};

// A sample, or why it cannot be true: the server transmitted before it
// received, its interval is longer than the whole round trip measured
// here, the round trip is negative or over the time-out, or the server's
// time lies before the floor.
struct SampleCheck {
    std::optional<Sample> sample;
    std::string reason;  // empty with a sample
};
SampleCheck CheckSample(const Packet& reply, std::int64_t t1Micros, std::int64_t t4Micros,
                        const SampleLimits& limits);

// "2026-12-08 07:30:00" (UTC) for microseconds since 1970 UTC.
std::string UtcText(std::int64_t micros);
// The sample with the least delay (the error of a sample is bounded by half
// its delay); the earliest of equals; nullopt for none.
std::optional<Sample> BestSample(const std::vector<Sample>& samples);

}  // namespace tempikon::core::ntp
