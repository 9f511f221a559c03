#include "core/ntp_packet.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>

#include "core/text.h"

namespace tempikon::core::ntp {

namespace {

constexpr std::int64_t kMicrosPerSecond = 1'000'000;
constexpr std::int64_t kEraMicros = (std::int64_t{1} << 32) * kMicrosPerSecond;
constexpr std::int64_t kHalfEraMicros = kEraMicros / 2;
constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kInt64Min = std::numeric_limits<std::int64_t>::min();

// Whole seconds and the microseconds after them; the product of the two
// would overflow near the 64-bit minimum, so the remainder is taken directly.
struct SplitMicros {
    std::int64_t seconds;
    std::int64_t micros;  // 0 ... 999'999
};

SplitMicros Split(std::int64_t micros) {
    const std::int64_t r = micros % kMicrosPerSecond;
    return r < 0 ? SplitMicros{micros / kMicrosPerSecond - 1, r + kMicrosPerSecond}
                 : SplitMicros{micros / kMicrosPerSecond, r};
}

// a + b, or nullopt when it does not fit.
std::optional<std::int64_t> CheckedAdd(std::int64_t a, std::int64_t b) {
    if (b > 0 ? a > kInt64Max - b : a < kInt64Min - b) return std::nullopt;
    return a + b;
}

// A signed 128-bit integer, just enough for the sample arithmetic: the
// local stamps are arbitrary, so T4 - T1 alone may need 65 bits.
struct Wide {
    std::int64_t hi = 0;
    std::uint64_t lo = 0;

    static Wide Of(std::int64_t v) { return {v < 0 ? -1 : 0, static_cast<std::uint64_t>(v)}; }
    bool negative() const { return hi < 0; }
    Wide operator+(Wide o) const {
        const std::uint64_t l = lo + o.lo;
        return {hi + o.hi + (l < lo ? 1 : 0), l};
    }
    Wide operator-() const {
        const std::uint64_t l = ~lo + 1;
        return {~hi + (l == 0 ? 1 : 0), l};
    }
    Wide operator-(Wide o) const { return *this + -o; }
    // Halved, rounded toward zero as integer division is.
    Wide half() const {
        if (negative()) return -(-*this).half();
        return {hi >> 1, (lo >> 1) | (static_cast<std::uint64_t>(hi) << 63)};
    }
    std::int64_t saturated() const {
        if (hi == 0 && lo <= static_cast<std::uint64_t>(kInt64Max))
            return static_cast<std::int64_t>(lo);
        if (hi == -1 && lo > static_cast<std::uint64_t>(kInt64Max))
            return static_cast<std::int64_t>(lo);
        return negative() ? kInt64Min : kInt64Max;
    }
};

std::uint32_t ReadU32(std::string_view b, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}

void WriteU32(std::string& b, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (24 - 8 * i));
}

Timestamp ReadStamp(std::string_view b, std::size_t at) {
    return {ReadU32(b, at), ReadU32(b, at + 4)};
}

void WriteStamp(std::string& b, std::size_t at, Timestamp t) {
    WriteU32(b, at, t.seconds);
    WriteU32(b, at + 4, t.fraction);
}

// A kiss code: four ASCII letters or digits; nullopt for anything else,
// which is no kiss at all.
std::optional<std::string> KissCode(std::uint32_t code) {
    std::string bytes(4, '\0');
    WriteU32(bytes, 0, code);
    const bool plain = std::all_of(bytes.begin(), bytes.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    });
    if (!plain) return std::nullopt;
    return bytes;
}

// Milliseconds, rounded, with their unit: "3600000 ms".
std::string MillisText(std::int64_t micros) {
    std::int64_t millis = micros / 1000;
    const std::int64_t rest = micros % 1000;
    if (rest >= 500) ++millis;
    if (rest <= -500) --millis;
    return std::to_string(millis) + " ms";
}

// Seconds with the fewest decimals (at most six) that still show the value
// is over the limit, so that 1.52 s does not read "1.5 s is over 1.5 s".
std::string OverLimitSeconds(std::int64_t micros, std::int64_t limitMicros) {
    std::int64_t unit = 100'000;
    int decimals = 1;
    while (unit > 1 && (micros + unit / 2) / unit * unit <= limitMicros) {
        unit /= 10;
        ++decimals;
    }
    const std::int64_t rounded = (micros + unit / 2) / unit;
    std::string fraction = std::to_string(rounded % (kMicrosPerSecond / unit));
    fraction.insert(0, static_cast<std::size_t>(decimals) - fraction.size(), '0');
    return std::to_string(rounded / (kMicrosPerSecond / unit)) + "." + fraction;
}

Check Reject(Verdict verdict, std::string reason, const Packet& packet) {
    return {verdict, std::move(reason), packet};
}

}  // namespace

std::int64_t ToUnixMicros(Timestamp t, std::int64_t nearMicros) {
    const auto [nearSeconds, nearSubMicros] = Split(nearMicros);
    // The stamp's seconds relative to near's within the same 2^32 cycle;
    // unsigned wrap-around is the era arithmetic.
    const auto nearNtpSeconds = static_cast<std::uint32_t>(
        static_cast<std::uint64_t>(nearSeconds) + static_cast<std::uint64_t>(kUnixEpochSeconds));
    const std::int64_t seconds = static_cast<std::int32_t>(t.seconds - nearNtpSeconds);
    const std::int64_t fractionMicros = static_cast<std::int64_t>(
        (std::uint64_t{t.fraction} * kMicrosPerSecond + (1u << 31)) >> 32);
    std::int64_t diff = seconds * kMicrosPerSecond + fractionMicros - nearSubMicros;
    // The seconds alone were nearest; the fraction may tip the lower end over.
    if (diff < -kHalfEraMicros) diff += kEraMicros;
    if (auto near = CheckedAdd(nearMicros, diff)) return *near;
    // The nearest era lies beyond the 64-bit range: take the one on the other side.
    return nearMicros + (diff > 0 ? diff - kEraMicros : diff + kEraMicros);
}

Timestamp FromUnixMicros(std::int64_t micros) {
    const auto [seconds, sub] = Split(micros);
    const auto subMicros = static_cast<std::uint64_t>(sub);
    return {
        static_cast<std::uint32_t>(static_cast<std::uint64_t>(seconds) +
                                   static_cast<std::uint64_t>(kUnixEpochSeconds)),
        static_cast<std::uint32_t>(((subMicros << 32) + kMicrosPerSecond / 2) / kMicrosPerSecond)};
}

std::string BuildRequest(Timestamp transmit) {
    Packet request;
    request.version = 4;
    request.mode = 3;
    request.transmit = transmit;
    return SerializePacket(request);
}

std::optional<Packet> ParsePacket(std::string_view bytes) {
    if (bytes.size() < kHeaderBytes) return std::nullopt;
    const auto first = static_cast<unsigned char>(bytes[0]);
    Packet p;
    p.leap = first >> 6;
    p.version = (first >> 3) & 7;
    p.mode = first & 7;
    p.stratum = static_cast<unsigned char>(bytes[1]);
    p.poll = static_cast<signed char>(bytes[2]);
    p.precision = static_cast<signed char>(bytes[3]);
    p.rootDelay = ReadU32(bytes, 4);
    p.rootDispersion = ReadU32(bytes, 8);
    p.referenceId = ReadU32(bytes, 12);
    p.reference = ReadStamp(bytes, 16);
    p.origin = ReadStamp(bytes, 24);
    p.receive = ReadStamp(bytes, 32);
    p.transmit = ReadStamp(bytes, 40);
    return p;
}

std::string SerializePacket(const Packet& p) {
    std::string b(kHeaderBytes, '\0');
    b[0] = static_cast<char>(((p.leap & 3) << 6) | ((p.version & 7) << 3) | (p.mode & 7));
    b[1] = static_cast<char>(p.stratum & 0xFF);
    b[2] = static_cast<char>(p.poll & 0xFF);
    b[3] = static_cast<char>(p.precision & 0xFF);
    WriteU32(b, 4, p.rootDelay);
    WriteU32(b, 8, p.rootDispersion);
    WriteU32(b, 12, p.referenceId);
    WriteStamp(b, 16, p.reference);
    WriteStamp(b, 24, p.origin);
    WriteStamp(b, 32, p.receive);
    WriteStamp(b, 40, p.transmit);
    return b;
}

Check CheckReply(std::string_view bytes, Timestamp sentTransmit) {
    const std::optional<Packet> parsed = ParsePacket(bytes);
    if (!parsed) {
        return {Verdict::TooShort,
                "the reply is too short for NTP (" + std::to_string(bytes.size()) + " of " +
                    std::to_string(kHeaderBytes) + " bytes)",
                std::nullopt};
    }
    const Packet& p = *parsed;
    if (p.origin != sentTransmit) {
        return Reject(Verdict::WrongOrigin,
                      "the reply does not answer our request (origin timestamp)", p);
    }
    if (p.mode != 4) {
        return Reject(Verdict::NotServer,
                      "the reply is not a server's (mode " + std::to_string(p.mode) + ")", p);
    }
    if (p.version != 3 && p.version != 4) {
        return Reject(Verdict::BadVersion,
                      "the server speaks NTP version " + std::to_string(p.version) + ", not 3 or 4",
                      p);
    }
    if (p.stratum == 0) {
        const std::optional<std::string> kiss = KissCode(p.referenceId);
        // Stratum 0 without a code: "unspecified or invalid" (RFC 5905).
        if (!kiss) {
            return Reject(Verdict::Unsynchronised, "the server is not synchronised (stratum 0)", p);
        }
        const std::string& code = *kiss;
        if (code == "RATE") {
            return Reject(Verdict::KissRate,
                          "the server asks to be asked less often (kiss code RATE)", p);
        }
        if (code == "DENY") {
            return Reject(Verdict::KissDeny, "the server refuses to answer (kiss code DENY)", p);
        }
        if (code == "RSTR") {
            return Reject(Verdict::KissRstr, "the server refuses to answer (kiss code RSTR)", p);
        }
        return Reject(Verdict::KissOther, "the server sent no time (kiss code " + code + ")", p);
    }
    if (p.stratum >= 16) {
        return Reject(Verdict::BadStratum,
                      "the server is not synchronised (stratum " + std::to_string(p.stratum) + ")",
                      p);
    }
    if (p.leap == 3) {
        return Reject(Verdict::Unsynchronised, "the server is not synchronised (leap indicator 3)",
                      p);
    }
    if (p.transmit.isZero()) {
        return Reject(Verdict::ZeroTransmit, "the reply carries no time (transmit timestamp zero)",
                      p);
    }
    // In units of 2^-16 s, doubled so that half the delay stays exact.
    const std::uint64_t twiceDistance =
        std::uint64_t{p.rootDelay} + 2 * std::uint64_t{p.rootDispersion};
    const std::uint64_t twiceLimit = 2 * ((kMaxRootDistanceMicros << 16) / kMicrosPerSecond);
    if (twiceDistance > twiceLimit) {
        const auto micros =
            static_cast<std::int64_t>((twiceDistance * kMicrosPerSecond + (1u << 16)) >> 17);
        return Reject(Verdict::RootDistance,
                      "root distance " + OverLimitSeconds(micros, kMaxRootDistanceMicros) +
                          " s is over " + OverLimitSeconds(kMaxRootDistanceMicros, 0) + " s",
                      p);
    }
    return {Verdict::Ok, "", p};
}

Sample MakeSample(const Packet& reply, std::int64_t t1Micros, std::int64_t t4Micros,
                  std::optional<std::int64_t> eraNearMicros) {
    const std::int64_t near = eraNearMicros.value_or(t1Micros);
    const Wide t1 = Wide::Of(t1Micros);
    const Wide t2 = Wide::Of(ToUnixMicros(reply.receive, near));
    const Wide t3 = Wide::Of(ToUnixMicros(reply.transmit, near));
    const Wide t4 = Wide::Of(t4Micros);
    Sample s;
    s.offsetMicros = ((t2 - t1) + (t3 - t4)).half().saturated();
    s.delayMicros = std::max<std::int64_t>(0, ((t4 - t1) - (t3 - t2)).saturated());
    s.receivedMicros = t4Micros;
    s.stratum = reply.stratum;
    s.leap = reply.leap;
    s.referenceId = reply.referenceId;
    return s;
}

SampleCheck CheckSample(const Packet& reply, std::int64_t t1Micros, std::int64_t t4Micros,
                        const SampleLimits& limits) {
    const std::int64_t near = std::max(t1Micros, limits.floorMicros);
    const std::int64_t t2 = ToUnixMicros(reply.receive, near);
    const std::int64_t t3 = ToUnixMicros(reply.transmit, near);
    // Both read near the same instant, so their difference fits.
    const Wide serverInterval = Wide::Of(t3) - Wide::Of(t2);
    const Wide roundTrip = Wide::Of(t4Micros) - Wide::Of(t1Micros);
    if (serverInterval.negative()) {
        return {std::nullopt, "the server sent its answer " +
                                  MillisText((-serverInterval).saturated()) +
                                  " before it received the request"};
    }
    if (roundTrip.negative()) {
        return {std::nullopt, "this clock went back " + MillisText((-roundTrip).saturated()) +
                                  " while the request was out"};
    }
    if ((roundTrip - serverInterval).negative()) {
        return {std::nullopt, "the server held the request " +
                                  MillisText(serverInterval.saturated()) +
                                  ", longer than the whole round trip (" +
                                  MillisText(roundTrip.saturated()) + ")"};
    }
    if (limits.maxRoundTripMicros > 0 && roundTrip.saturated() > limits.maxRoundTripMicros) {
        return {std::nullopt, "the round trip took " + MillisText(roundTrip.saturated()) +
                                  " by this clock, longer than the time-out (" +
                                  MillisText(limits.maxRoundTripMicros) + ")"};
    }
    if (limits.floorMicros != 0 && t3 < limits.floorMicros) {
        return {std::nullopt, "the server's time " + UtcText(t3) +
                                  " UTC is before this version was made (" +
                                  UtcText(limits.floorMicros).substr(0, 10) + ")"};
    }
    return {MakeSample(reply, t1Micros, t4Micros, near), {}};
}

std::string UtcText(std::int64_t micros) {
    const auto [seconds, sub] = Split(micros);
    (void)sub;
    std::int64_t days = seconds / 86'400;
    std::int64_t rest = seconds % 86'400;
    if (rest < 0) {
        rest += 86'400;
        --days;
    }
    // Days to the civil date (proleptic Gregorian), after H. Hinnant.
    const std::int64_t z = days + 719'468;
    const std::int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
    const std::int64_t doe = z - era * 146'097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(day), static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return text;
}

std::optional<Sample> BestSample(const std::vector<Sample>& samples) {
    if (samples.empty()) return std::nullopt;
    return *std::min_element(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) {
        if (a.delayMicros != b.delayMicros) return a.delayMicros < b.delayMicros;
        return a.receivedMicros < b.receivedMicros;
    });
}

}  // namespace tempikon::core::ntp
