// An NTP server's reply: the header read and written back, the checks in
// their order, and the sample arithmetic with any local stamps.
//
// Input: a flag byte (bit 0: the request carried the next eight bytes as
// its transmit stamp; clear: it carried the reply's own origin, so that the
// later rules are reached), T1 and T4 as eight bytes each, eight bytes of
// the request's stamp, then the reply's bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "core/ntp_packet.h"
#include "fuzz/fuzz_check.h"

namespace {

using namespace tempikon::core::ntp;

__extension__ typedef __int128 Int128;

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr Int128 kEraMicros = (Int128{1} << 32) * 1'000'000;

std::uint64_t Read64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return v;
}

std::int64_t Clamp(Int128 v) {
    return v > kMax ? kMax : v < kMin ? kMin : static_cast<std::int64_t>(v);
}

Int128 Distance(Int128 a, Int128 b) {
    return a > b ? a - b : b - a;
}

// The checks written as a table of rules, in floating point where the
// code uses integers.
Verdict ReferenceVerdict(const Packet& p, Timestamp sent) {
    if (p.origin.raw() != sent.raw()) return Verdict::WrongOrigin;
    if (p.mode != 4) return Verdict::NotServer;
    if (p.version < 3 || p.version > 4) return Verdict::BadVersion;
    if (p.stratum == 0) {
        switch (p.referenceId) {
            case 0x52415445:
                return Verdict::KissRate;
            case 0x44454E59:
                return Verdict::KissDeny;
            case 0x52535452:
                return Verdict::KissRstr;
            default:
                break;
        }
        for (int shift = 0; shift < 32; shift += 8) {
            const auto c = static_cast<char>(p.referenceId >> shift);
            const bool plain =
                (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
            if (!plain) return Verdict::Unsynchronised;
        }
        return Verdict::KissOther;
    }
    if (p.stratum > 15) return Verdict::BadStratum;
    if (p.leap == 3) return Verdict::Unsynchronised;
    if (p.transmit.raw() == 0) return Verdict::ZeroTransmit;
    const double distance = p.rootDelay / 65536.0 / 2 + p.rootDispersion / 65536.0;
    if (distance > 1.5) return Verdict::RootDistance;
    return Verdict::Ok;
}

// The server's stamp read near T1: it stands for the same timestamp (to
// the microsecond), and no other era in range is nearer T1.
void CheckEra(Timestamp stamp, std::int64_t t, std::int64_t t1) {
    const auto error = static_cast<std::int64_t>(FromUnixMicros(t).raw() - stamp.raw());
    // Half a microsecond in 2^-32 s units, and the rounding of the fraction.
    FUZZ_CHECK(error >= -2148 && error <= 2148);
    for (const Int128 other : {Int128{t} - kEraMicros, Int128{t} + kEraMicros}) {
        if (other < kMin || other > kMax) continue;
        FUZZ_CHECK(Distance(t, t1) <= Distance(other, t1));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 25) return 0;
    const bool ownSent = data[0] & 1;
    const auto t1 = static_cast<std::int64_t>(Read64(data + 1));
    const auto t4 = static_cast<std::int64_t>(Read64(data + 9));
    const std::string_view bytes(reinterpret_cast<const char*>(data + 25), size - 25);

    const std::optional<Packet> packet = ParsePacket(bytes);
    FUZZ_CHECK(packet.has_value() == (bytes.size() >= kHeaderBytes));
    Timestamp sent = Timestamp::fromRaw(Read64(data + 17));
    if (!ownSent && packet) sent = packet->origin;

    const Check check = CheckReply(bytes, sent);
    FUZZ_CHECK(check.reason.empty() == (check.verdict == Verdict::Ok));
    FUZZ_CHECK(std::all_of(check.reason.begin(), check.reason.end(),
                           [](char c) { return c >= 0x20 && c < 0x7F; }));
    const Timestamp request = Timestamp::fromRaw(Read64(data + 17));
    const Check own = CheckReply(BuildRequest(request), request);
    FUZZ_CHECK(own.verdict == (request.isZero() ? Verdict::NotServer : Verdict::WrongOrigin));
    if (!packet) {
        FUZZ_CHECK(check.verdict == Verdict::TooShort && !check.packet);
        return 0;
    }
    const Packet& p = *packet;
    FUZZ_CHECK(SerializePacket(p) == bytes.substr(0, kHeaderBytes));
    FUZZ_CHECK(p.leap >= 0 && p.leap <= 3 && p.version >= 0 && p.version <= 7);
    FUZZ_CHECK(p.mode >= 0 && p.mode <= 7 && p.stratum >= 0 && p.stratum <= 255);
    FUZZ_CHECK(p.poll >= -128 && p.poll <= 127 && p.precision >= -128 && p.precision <= 127);
    FUZZ_CHECK(check.packet && SerializePacket(*check.packet) == SerializePacket(p));
    FUZZ_CHECK(check.verdict == ReferenceVerdict(p, sent));

    const Sample s = MakeSample(p, t1, t4);
    const std::int64_t t2 = ToUnixMicros(p.receive, t1);
    const std::int64_t t3 = ToUnixMicros(p.transmit, t1);
    CheckEra(p.receive, t2, t1);
    CheckEra(p.transmit, t3, t1);
    const Int128 offset = ((Int128{t2} - t1) + (Int128{t3} - t4)) / 2;
    const Int128 delay = (Int128{t4} - t1) - (Int128{t3} - t2);
    FUZZ_CHECK(s.delayMicros >= 0);
    FUZZ_CHECK(s.offsetMicros == Clamp(offset));
    FUZZ_CHECK(s.delayMicros == Clamp(std::max(delay, Int128{0})));
    FUZZ_CHECK(s.receivedMicros == t4 && s.stratum == p.stratum && s.leap == p.leap);
    FUZZ_CHECK(s.referenceId == p.referenceId);

    // A sample passes the checks exactly when its stamps are in order, the
    // server's interval fits the round trip, which fits the limit, and the
    // server's time is not before the floor; then it is the sample read
    // near the later of T1 and the floor.
    const std::int64_t floor = static_cast<std::int64_t>(Read64(data + 1) ^ Read64(data + 17));
    const std::int64_t limit = static_cast<std::int64_t>(Read64(data + 9) >> 20);
    const std::int64_t near = std::max(t1, floor);
    const Int128 r2 = ToUnixMicros(p.receive, near);
    const Int128 r3 = ToUnixMicros(p.transmit, near);
    const Int128 roundTrip = Int128{t4} - t1;
    const bool believable = r3 >= r2 && roundTrip >= 0 && roundTrip >= r3 - r2 &&
                            (limit <= 0 || roundTrip <= limit) && (floor == 0 || r3 >= floor);
    const SampleCheck checked = CheckSample(p, t1, t4, {limit, floor});
    FUZZ_CHECK(checked.sample.has_value() == believable);
    FUZZ_CHECK(checked.reason.empty() == believable);
    if (checked.sample) {
        const Sample expected = MakeSample(p, t1, t4, near);
        FUZZ_CHECK(checked.sample->offsetMicros == expected.offsetMicros);
        FUZZ_CHECK(checked.sample->delayMicros == expected.delayMicros);
    }

    // The same reply received at T1 and at T4: the best has the least delay.
    const Sample early = MakeSample(p, t1, t1);
    const auto best = BestSample({s, early});
    FUZZ_CHECK(best && best->delayMicros == std::min(s.delayMicros, early.delayMicros));
    if (s.delayMicros == early.delayMicros) {
        FUZZ_CHECK(best->receivedMicros == std::min(t1, t4));
    }
    return 0;
}
