#include "core/ntp_packet.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace tempikon::core::ntp {
namespace {

constexpr std::int64_t kSecond = 1'000'000;
// 2036-02-07 06:28:16 UTC: NTP seconds wrap to 0 here (era 1 begins).
constexpr std::int64_t kWrap = 2'085'978'496 * kSecond;
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr Timestamp kSent{0x1234'5678, 0x9ABC'DEF0};

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (const int v : values) s += static_cast<char>(v);
    return s;
}

void ExpectSamePacket(const Packet& a, const Packet& b) {
    EXPECT_EQ(SerializePacket(a), SerializePacket(b));
    EXPECT_EQ(a.leap, b.leap);
    EXPECT_EQ(a.version, b.version);
    EXPECT_EQ(a.mode, b.mode);
    EXPECT_EQ(a.stratum, b.stratum);
    EXPECT_EQ(a.poll, b.poll);
    EXPECT_EQ(a.precision, b.precision);
    EXPECT_EQ(a.rootDelay, b.rootDelay);
    EXPECT_EQ(a.rootDispersion, b.rootDispersion);
    EXPECT_EQ(a.referenceId, b.referenceId);
    EXPECT_EQ(a.reference, b.reference);
    EXPECT_EQ(a.origin, b.origin);
    EXPECT_EQ(a.receive, b.receive);
    EXPECT_EQ(a.transmit, b.transmit);
}

TEST(NtpTimestamp, TakesTheEraNearestTheLocalClock) {
    struct Case {
        const char* what;
        Timestamp stamp;
        std::int64_t near;
        std::int64_t expected;
    };
    const std::vector<Case> cases = {
        {"last second of era 0, clock before the wrap",
         {0xFFFF'FFFF, 0},
         kWrap - 10 * kSecond,
         kWrap - kSecond},
        {"last second of era 0, clock after the wrap",
         {0xFFFF'FFFF, 0},
         kWrap + 10 * kSecond,
         kWrap - kSecond},
        {"first second of era 1, clock before the wrap", {0, 0}, kWrap - 10 * kSecond, kWrap},
        {"era 1, clock after the wrap", {5, 0}, kWrap + 3 * kSecond, kWrap + 5 * kSecond},
        {"2026, clock an hour later",
         {3'976'214'400, 0},
         1'767'229'200 * kSecond,
         1'767'225'600 * kSecond},
        {"1970", {2'208'988'800, 0}, 0, 0},
        {"1900, the first instant of era 0",
         {0, 0},
         -2'208'988'800 * kSecond,
         -2'208'988'800 * kSecond},
        {"2100, in era 1", {2'016'466'304, 0}, 4'102'444'800 * kSecond, 4'102'444'800 * kSecond},
        // 68 years away either way: one second decides.
        {"zero, clock just past half an era before the wrap",
         {0, 0},
         kWrap - (std::int64_t{1} << 31) * kSecond + kSecond,
         kWrap},
        {"zero, clock just short of half an era before the wrap",
         {0, 0},
         kWrap - (std::int64_t{1} << 31) * kSecond - kSecond,
         -2'208'988'800 * kSecond},
        // Half an era away give or take a fraction: the fraction decides.
        {"half an era and half a second later",
         {0x8000'0000 + 2'208'988'800u, 0},
         kSecond / 2,
         (std::int64_t{1} << 31) * kSecond},
        {"half an era less 0.3 s earlier",
         {0x8000'0000 + 2'208'988'800u, 0x8000'0000},
         kSecond / 5,
         -(std::int64_t{1} << 31) * kSecond + kSecond / 2},
        {"half a second", {2'208'988'800, 0x8000'0000}, 0, kSecond / 2},
        {"a fraction that rounds up to the next second", {2'208'988'800, 0xFFFF'FFFF}, 0, kSecond},
        {"the smallest fraction", {2'208'988'800, 1}, 0, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(ToUnixMicros(c.stamp, c.near), c.expected) << c.what;
}

TEST(NtpTimestamp, FromUnixMicrosDropsTheEraAndRoundTrips) {
    EXPECT_EQ(FromUnixMicros(0), (Timestamp{2'208'988'800, 0}));
    EXPECT_EQ(FromUnixMicros(kWrap), (Timestamp{0, 0}));
    EXPECT_EQ(FromUnixMicros(kWrap - kSecond / 2), (Timestamp{0xFFFF'FFFF, 0x8000'0000}));
    EXPECT_EQ(FromUnixMicros(-1), (Timestamp{2'208'988'799, 4'294'963'001}));
    EXPECT_EQ(FromUnixMicros(-2'208'988'800 * kSecond), (Timestamp{0, 0}));

    const std::vector<std::int64_t> instants = {
        0,         1,         -1,       kWrap - 1, kWrap,       kWrap + 999'999,
        kMax,      kMin,      kMax - 1, kMin + 1,  123'456'789, -2'208'988'800 * kSecond - 1,
        kWrap * 3, -kWrap * 2};
    for (const std::int64_t t : instants) {
        EXPECT_EQ(ToUnixMicros(FromUnixMicros(t), t), t) << t;
        // An era away, the same stamp reads as the instant it came from.
        if (t < kMax / 2 && t > kMin / 2) {
            EXPECT_EQ(ToUnixMicros(FromUnixMicros(t), t + kWrap / 2), t) << t;
            EXPECT_EQ(ToUnixMicros(FromUnixMicros(t), t - kWrap / 2), t) << t;
        }
    }
}

TEST(NtpTimestamp, StaysInRangeAtTheEndsOfTime) {
    for (const Timestamp t :
         {Timestamp{0, 0}, Timestamp{0xFFFF'FFFF, 0xFFFF'FFFF}, Timestamp{0x8000'0000, 0}}) {
        const std::int64_t high = ToUnixMicros(t, kMax);
        const std::int64_t low = ToUnixMicros(t, kMin);
        EXPECT_GT(high, kMax - (std::int64_t{1} << 32) * kSecond - kSecond);
        EXPECT_LT(low, kMin + (std::int64_t{1} << 32) * kSecond + kSecond);
        EXPECT_EQ(FromUnixMicros(high).seconds, t.seconds + (t.fraction == 0xFFFF'FFFF ? 1u : 0u));
        EXPECT_EQ(FromUnixMicros(low).seconds, t.seconds + (t.fraction == 0xFFFF'FFFF ? 1u : 0u));
    }
}

TEST(NtpPacket, BuildsAVersion4ClientRequest) {
    const std::string request = BuildRequest({0x0102'0304, 0xA0B0'C0D0});
    const std::string expected = std::string(1, '\x23') + std::string(39, '\0') +
                                 Bytes({0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0, 0xC0, 0xD0});
    EXPECT_EQ(request, expected);
}

TEST(NtpPacket, FieldsAreBigEndianAndRoundTrip) {
    Packet p;
    p.leap = 2;
    p.version = 3;
    p.mode = 4;
    p.stratum = 200;
    p.poll = -6;
    p.precision = -20;
    p.rootDelay = 0x0102'0304;
    p.rootDispersion = 0x0506'0708;
    p.referenceId = 0x4750'5300;  // "GPS"
    p.reference = {0x1112'1314, 0x1516'1718};
    p.origin = {0x2122'2324, 0x2526'2728};
    p.receive = {0x3132'3334, 0x3536'3738};
    p.transmit = {0xF1F2'F3F4, 0xF5F6'F7F8};
    const std::string expected =
        Bytes({0x9C, 200,  0xFA, 0xEC, 1,    2,    3,    4,    5,    6,    7,    8,
               'G',  'P',  'S',  0,    0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18,
               0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x31, 0x32, 0x33, 0x34,
               0x35, 0x36, 0x37, 0x38, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8});
    EXPECT_EQ(SerializePacket(p), expected);
    const auto parsed = ParsePacket(expected + "extension and MAC");
    ASSERT_TRUE(parsed);
    ExpectSamePacket(*parsed, p);

    std::string bytes;
    for (int i = 0; i < 48; ++i) bytes += static_cast<char>(255 - 5 * i);
    for (const std::string& b : {bytes, std::string(48, '\xFF'), std::string(48, '\0')}) {
        const auto q = ParsePacket(b);
        ASSERT_TRUE(q);
        EXPECT_EQ(SerializePacket(*q), b);
    }
    EXPECT_FALSE(ParsePacket(std::string(47, '\x24')));
    EXPECT_FALSE(ParsePacket(""));
}

Packet GoodReply() {
    Packet p;
    p.version = 4;
    p.mode = 4;
    p.stratum = 2;
    p.poll = 6;
    p.precision = -23;
    p.rootDelay = 0x0000'0800;
    p.rootDispersion = 0x0000'0400;
    p.referenceId = 0xC000'0201;
    p.reference = FromUnixMicros(1'767'225'000 * kSecond);
    p.origin = kSent;
    p.receive = FromUnixMicros(1'767'225'600 * kSecond);
    p.transmit = FromUnixMicros(1'767'225'600 * kSecond + 300);
    return p;
}

std::uint32_t Code(const char (&c)[5]) {
    return std::uint32_t{static_cast<unsigned char>(c[0])} << 24 |
           std::uint32_t{static_cast<unsigned char>(c[1])} << 16 |
           std::uint32_t{static_cast<unsigned char>(c[2])} << 8 | static_cast<unsigned char>(c[3]);
}

TEST(NtpCheckReply, GivesTheFirstBrokenRuleOfAMutatedGoodReply) {
    struct Case {
        const char* what;
        std::function<void(Packet&)> mutate;
        Verdict verdict;
        const char* reason;
    };
    const auto kiss = [](const char(&code)[5]) {
        return [c = Code(code)](Packet& p) {
            p.stratum = 0;
            p.referenceId = c;
        };
    };
    const std::vector<Case> cases = {
        {"untouched", [](Packet&) {}, Verdict::Ok, ""},
        {"version 3", [](Packet& p) { p.version = 3; }, Verdict::Ok, ""},
        {"stratum 15", [](Packet& p) { p.stratum = 15; }, Verdict::Ok, ""},
        {"leap second ahead", [](Packet& p) { p.leap = 1; }, Verdict::Ok, ""},
        {"root distance exactly 1.5 s",
         [](Packet& p) {
             p.rootDelay = 0x0001'0000;
             p.rootDispersion = 0x0001'0000;
         },
         Verdict::Ok, ""},
        {"origin off by one fraction", [](Packet& p) { p.origin.fraction ^= 1; },
         Verdict::WrongOrigin, "the reply does not answer our request (origin timestamp)"},
        {"origin zero", [](Packet& p) { p.origin = {}; }, Verdict::WrongOrigin,
         "the reply does not answer our request (origin timestamp)"},
        {"forged DENY with a wrong origin",
         [](Packet& p) {
             p.stratum = 0;
             p.referenceId = Code("DENY");
             p.origin.seconds += 1;
         },
         Verdict::WrongOrigin, "the reply does not answer our request (origin timestamp)"},
        {"a client's packet", [](Packet& p) { p.mode = 3; }, Verdict::NotServer,
         "the reply is not a server's (mode 3)"},
        {"broadcast, unsynchronised",
         [](Packet& p) {
             p.mode = 5;
             p.leap = 3;
         },
         Verdict::NotServer, "the reply is not a server's (mode 5)"},
        {"version 2", [](Packet& p) { p.version = 2; }, Verdict::BadVersion,
         "the server speaks NTP version 2, not 3 or 4"},
        {"version 5 kiss",
         [](Packet& p) {
             p.version = 5;
             p.stratum = 0;
         },
         Verdict::BadVersion, "the server speaks NTP version 5, not 3 or 4"},
        {"RATE", kiss("RATE"), Verdict::KissRate,
         "the server asks to be asked less often (kiss code RATE)"},
        {"DENY", kiss("DENY"), Verdict::KissDeny, "the server refuses to answer (kiss code DENY)"},
        {"RSTR", kiss("RSTR"), Verdict::KissRstr, "the server refuses to answer (kiss code RSTR)"},
        {"INIT", kiss("INIT"), Verdict::KissOther, "the server sent no time (kiss code INIT)"},
        {"lower-case deny is another code", kiss("deny"), Verdict::KissOther,
         "the server sent no time (kiss code deny)"},
        {"stratum 0 without a code",
         [](Packet& p) {
             p.stratum = 0;
             p.referenceId = 0x4100'FF22;
         },
         Verdict::Unsynchronised, "the server is not synchronised (stratum 0)"},
        {"stratum 0, reference zero",
         [](Packet& p) {
             p.stratum = 0;
             p.referenceId = 0;
         },
         Verdict::Unsynchronised, "the server is not synchronised (stratum 0)"},
        {"stratum 16", [](Packet& p) { p.stratum = 16; }, Verdict::BadStratum,
         "the server is not synchronised (stratum 16)"},
        {"stratum 255 and leap 3",
         [](Packet& p) {
             p.stratum = 255;
             p.leap = 3;
         },
         Verdict::BadStratum, "the server is not synchronised (stratum 255)"},
        {"leap 3", [](Packet& p) { p.leap = 3; }, Verdict::Unsynchronised,
         "the server is not synchronised (leap indicator 3)"},
        {"transmit zero, root distance too",
         [](Packet& p) {
             p.transmit = {};
             p.rootDelay = ~0u;
         },
         Verdict::ZeroTransmit, "the reply carries no time (transmit timestamp zero)"},
        {"root distance 2.3 s",
         [](Packet& p) {
             p.rootDelay = 0x0002'0000;
             p.rootDispersion = 0x0001'4CCD;
         },
         Verdict::RootDistance, "root distance 2.3 s is over 1.5 s"},
        {"root distance a tick over",
         [](Packet& p) {
             p.rootDelay = 0;
             p.rootDispersion = 0x0001'8001;
         },
         Verdict::RootDistance, "root distance 1.50002 s is over 1.5 s"},
        {"root delay alone, a tick over",
         [](Packet& p) {
             p.rootDelay = 0x0003'0001;
             p.rootDispersion = 0;
         },
         Verdict::RootDistance, "root distance 1.50001 s is over 1.5 s"},
        {"largest root distance",
         [](Packet& p) {
             p.rootDelay = ~0u;
             p.rootDispersion = ~0u;
         },
         Verdict::RootDistance, "root distance 98304.0 s is over 1.5 s"},
    };
    for (const auto& c : cases) {
        Packet p = GoodReply();
        c.mutate(p);
        const Check check = CheckReply(SerializePacket(p) + "trailing", kSent);
        EXPECT_EQ(check.verdict, c.verdict) << c.what;
        EXPECT_EQ(check.reason, c.reason) << c.what;
        ASSERT_TRUE(check.packet) << c.what;
        ExpectSamePacket(*check.packet, p);
    }
}

TEST(NtpCheckReply, RefusesAShortReplyWithoutReadingIt) {
    const std::string good = SerializePacket(GoodReply());
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{47}}) {
        const Check check = CheckReply(good.substr(0, size), kSent);
        EXPECT_EQ(check.verdict, Verdict::TooShort);
        EXPECT_EQ(check.reason,
                  "the reply is too short for NTP (" + std::to_string(size) + " of 48 bytes)");
        EXPECT_FALSE(check.packet);
    }
}

TEST(NtpSample, OffsetAndDelayOfAsymmetricPaths) {
    struct Case {
        const char* what;
        std::int64_t t1, t2, t3, t4;
        std::int64_t offset, delay;
    };
    constexpr std::int64_t L = 1'767'225'600 * kSecond;
    const std::vector<Case> cases = {
        // Server 2.5 s ahead; 30 ms out, 1 ms in the server, 70 ms back: the
        // offset is off by half the 40 ms asymmetry.
        {"ahead, slow way back", L, L + 2'530'000, L + 2'531'000, L + 101'000, 2'480'000, 100'000},
        // Server 10 s behind; 5 ms out, 1 ms back.
        {"behind", L, L - 9'995'000, L - 9'995'000, L + 6'000, -9'998'000, 6'000},
        {"server claims longer than the round trip", L, L + 100, L + 5'000, L + 1'000, 2'050, 0},
        {"odd negative sum rounds toward zero", L, L - 1, L - 1, L + 1, -1, 1},
        // T1 half a second before the wrap, the server's stamps after it.
        {"across the 2036 wrap", kWrap - 500'000, kWrap + 510'000, kWrap + 510'000, kWrap - 480'000,
         1'000'000, 20'000},
        {"before 1970", -kSecond, -kSecond + 700, -kSecond + 900, -kSecond + 1'000, 300, 800},
    };
    for (const auto& c : cases) {
        Packet p = GoodReply();
        p.stratum = 3;
        p.leap = 1;
        p.receive = FromUnixMicros(c.t2);
        p.transmit = FromUnixMicros(c.t3);
        const Sample s = MakeSample(p, c.t1, c.t4);
        EXPECT_EQ(s.offsetMicros, c.offset) << c.what;
        EXPECT_EQ(s.delayMicros, c.delay) << c.what;
        EXPECT_EQ(s.receivedMicros, c.t4) << c.what;
        EXPECT_EQ(s.stratum, 3) << c.what;
        EXPECT_EQ(s.leap, 1) << c.what;
        EXPECT_EQ(s.referenceId, p.referenceId) << c.what;
    }
}

TEST(NtpSample, SamplesThatCannotBeTrueAndTimesBeforeTheBuildAreRefused) {
    constexpr std::int64_t kMs = 1000;
    // 2026-12-01 00:00:00 UTC, the build; 1970, 2000 and 2099 as servers say them.
    constexpr std::int64_t kBuild = 1'796'083'200 * kSecond;
    constexpr std::int64_t k2000 = 946'684'800 * kSecond;
    constexpr std::int64_t k2099 = 4'070'908'800 * kSecond;
    constexpr std::int64_t k2040 = 2'208'988'800 * kSecond;
    const std::int64_t now = kBuild + 7 * 86'400 * kSecond;
    struct Case {
        const char* what;
        std::int64_t t1, t2, t3, t4;
        std::int64_t floor;
        const char* reason;   // empty: a sample
        std::int64_t offset;  // of the sample
    };
    const std::vector<Case> cases = {
        {"a true sample", now, now + 5 * kMs, now + 6 * kMs, now + 11 * kMs, kBuild, "", 0},
        {"transmitted an hour before it received", now, now + 3'600'000 * kMs, now + 1 * kMs,
         now + 2 * kMs, kBuild,
         "the server sent its answer 3599999 ms before it received the request", 0},
        {"held longer than the round trip", now, now + 1 * kMs, now + 900 * kMs, now + 20 * kMs,
         kBuild, "the server held the request 899 ms, longer than the whole round trip (20 ms)", 0},
        {"round trip over the time-out", now, now + 1 * kMs, now + 1 * kMs, now + 3'001 * kMs,
         kBuild, "the round trip took 3001 ms by this clock, longer than the time-out (3000 ms)",
         0},
        {"this clock went back", now, now + 1 * kMs, now + 1 * kMs, now - 50 * kMs, kBuild,
         "this clock went back 50 ms while the request was out", 0},
        {"1970", now, 0, 0, now + 2 * kMs, kBuild,
         "the server's time 1970-01-01 00:00:00 UTC is before this version was made (2026-12-01)",
         0},
        {"2000", now, k2000, k2000, now + 2 * kMs, kBuild,
         "the server's time 2000-01-01 00:00:00 UTC is before this version was made (2026-12-01)",
         0},
        // 72 years on is nearer 1962, an era earlier.
        {"2099", now, k2099, k2099, now + 2 * kMs, kBuild,
         "the server's time 1962-11-25 17:31:44 UTC is before this version was made (2026-12-01)",
         0},
        {"a second after the build", now, kBuild + kSecond, kBuild + kSecond, now, kBuild, "",
         kBuild + kSecond - now},
        // A clock from 1970 (a dead battery) reads the server's stamps near
        // the build, not near itself: 2040, not 1904.
        {"a clock before the build", 0, k2040, k2040, 2 * kMs, kBuild, "", k2040 - kMs},
        {"no floor: nearest the clock", now, k2000, k2000, now, 0, "", k2000 - now},
    };
    for (const auto& c : cases) {
        Packet p = GoodReply();
        p.receive = FromUnixMicros(c.t2);
        p.transmit = FromUnixMicros(c.t3);
        const SampleCheck check = CheckSample(p, c.t1, c.t4, {3'000 * kMs, c.floor});
        EXPECT_EQ(check.reason, c.reason) << c.what;
        EXPECT_EQ(check.sample.has_value(), std::string(c.reason).empty()) << c.what;
        if (check.sample) {
            EXPECT_EQ(check.sample->offsetMicros, c.offset) << c.what;
        }
    }
}

TEST(NtpSample, AbsurdLocalStampsSaturateInsteadOfOverflowing) {
    Packet p = GoodReply();
    // T1 at the very start of time, T4 at its end: T4 - T1 needs 65 bits.
    p.receive = p.transmit = FromUnixMicros(kMin + 5);
    Sample s = MakeSample(p, kMin, kMax);
    EXPECT_EQ(s.delayMicros, kMax);
    EXPECT_EQ(s.offsetMicros, kMin + 6);  // (5 + (kMin + 5 - kMax)) / 2

    // The other way round: a negative round trip, and an offset just inside.
    p.receive = p.transmit = FromUnixMicros(kMax - 5);
    s = MakeSample(p, kMax - 5, kMin);
    EXPECT_EQ(s.delayMicros, 0);
    EXPECT_EQ(s.offsetMicros, kMax - 2);  // (0 + (kMax - 5 - kMin)) / 2

    // Sums beyond 64 bits either way.
    p.receive = p.transmit = FromUnixMicros(kMax);
    s = MakeSample(p, kMax - 10, kMin);
    EXPECT_EQ(s.offsetMicros, kMax);  // (10 + (kMax - kMin)) / 2
    p.receive = p.transmit = FromUnixMicros(kMin);
    s = MakeSample(p, kMin + 10, kMax);
    EXPECT_EQ(s.offsetMicros, kMin);
    EXPECT_EQ(s.delayMicros, kMax);
}

TEST(NtpSample, BestHasTheLeastDelayThenTheEarliest) {
    const auto sample = [](std::int64_t delay, std::int64_t received) {
        Sample s;
        s.delayMicros = delay;
        s.receivedMicros = received;
        s.offsetMicros = delay * 7 + received;
        return s;
    };
    EXPECT_FALSE(BestSample({}));
    struct Case {
        std::vector<Sample> samples;
        std::int64_t delay, received;
    };
    const std::vector<Case> cases = {
        {{sample(500, 1)}, 500, 1},
        {{sample(500, 1), sample(200, 2), sample(300, 3)}, 200, 2},
        {{sample(300, 3), sample(200, 9), sample(200, 4), sample(0, 99)}, 0, 99},
        {{sample(200, 9), sample(200, 4), sample(200, 6)}, 200, 4},
    };
    for (const auto& c : cases) {
        const auto best = BestSample(c.samples);
        ASSERT_TRUE(best);
        EXPECT_EQ(best->delayMicros, c.delay);
        EXPECT_EQ(best->receivedMicros, c.received);
        EXPECT_EQ(best->offsetMicros, c.delay * 7 + c.received);
    }
}

}  // namespace
}  // namespace tempikon::core::ntp
