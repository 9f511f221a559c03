#include "core/nts_fields.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "core/ntp_packet.h"
#include "core/nts_ke.h"
#include "tests/fake/fake_platform.h"
#include "tests/support/fake_nts_server.h"

namespace tempikon::core::nts {
namespace {

using V = ReplyCheck::Verdict;
using Spoil = testing::FakeNtsServer::Spoil;

const ntp::Timestamp kSent{0x1234'5678, 0x9ABC'DEF0};

// A client that went through key establishment with the fake server over
// the fake platform's TLS, as the program does.
struct Session {
    fake::FakePlatform platform;
    testing::FakeNtsServer server;
    std::deque<std::string> cookies;
    std::string c2s, s2c;
    std::string uid = std::string(kUniqueIdBytes, 'u');

    Session() {
        server.ntp.platform = &platform;
        platform.tlsPeers["nts.example"] = server.keScript("session one");
        auto tls = platform.createTlsClient();
        tls->connect("nts.example", kKePort, kAlpn, "");
        platform.advance(5);
        EXPECT_TRUE(tls->write(BuildKeRequest()));
        platform.advance(5);
        const KeResult ke = ParseKeResponse(tls->readAll(kMaxKeResponseBytes).value_or(""));
        EXPECT_EQ(ke.state, KeResult::State::Done) << ke.reason;
        cookies.assign(ke.response.cookies.begin(), ke.response.cookies.end());
        c2s = tls->exportKeyingMaterial(kExporterLabel, ExporterContext(false), kKeyBytes).value();
        s2c = tls->exportKeyingMaterial(kExporterLabel, ExporterContext(true), kKeyBytes).value();
    }

    platform::Crypto& crypto() { return *platform.crypto(); }

    // One request with the oldest cookie, placeholders up to a full pool;
    // the server's reply, empty when it sent none.
    std::string ask() {
        const std::string cookie = cookies.front();
        cookies.pop_front();
        const int placeholders = static_cast<int>(kMaxCookies - 1 - cookies.size());
        const auto request =
            BuildRequest(ntp::BuildRequest(kSent), uid, cookie, placeholders, c2s, crypto());
        EXPECT_TRUE(request.has_value());
        const auto replies = server.responder()(request.value_or(""));
        return replies.empty() ? std::string() : replies[0].bytes;
    }

    // A reply built here, not by the server: `before` the authenticator
    // (the unique identifier first), `plaintext` sealed with the key.
    std::string sealed(const std::string& before, const std::string& plaintext) {
        std::string packet = ntp::BuildRequest(kSent).substr(0, 48);
        packet += EncodeField(FieldType::UniqueIdentifier, uid) + before;
        const std::string nonce(16, 'n');
        const std::string box = crypto().sivSeal(s2c, nonce, packet, plaintext).value();
        std::string body{0, 16, static_cast<char>(box.size() >> 8), static_cast<char>(box.size())};
        return packet + EncodeField(FieldType::Authenticator, body + nonce + box);
    }
};

TEST(NtsFields, ExtensionFieldsMustTileThePacket) {
    const std::string header(48, 'h');
    const std::string uid = EncodeField(FieldType::UniqueIdentifier, std::string(32, 'u'));
    const std::string odd = EncodeField(FieldType::Cookie, "abcde");  // padded to 12
    struct Case {
        const char* name;
        std::string packet;
        std::optional<std::vector<std::uint16_t>> types;
    };
    const std::vector<Case> cases{
        {"header only", header, std::vector<std::uint16_t>{}},
        {"two fields", header + uid + odd, std::vector<std::uint16_t>{0x0104, 0x0204}},
        {"short of a header", header.substr(1), std::nullopt},
        {"a field of 12 bytes", header + std::string("\x02\x04\x00\x0c", 4) + "12345678",
         std::nullopt},
        {"a length not a multiple of 4", header + std::string("\x02\x04\x00\x11", 4) + "x",
         std::nullopt},
        {"a length beyond the end", header + uid.substr(0, uid.size() - 4), std::nullopt},
        {"two stray bytes", header + uid + "\x01\x04", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto fields = ParseExtensionFields(c.packet);
        ASSERT_EQ(fields.has_value(), c.types.has_value());
        if (!fields) continue;
        std::vector<std::uint16_t> types;
        std::string again = c.packet.substr(0, 48);
        for (const auto& f : *fields) {
            types.push_back(f.type);
            EXPECT_EQ(c.packet.substr(f.offset + 4, f.body.size()), f.body);
            again += EncodeField(static_cast<FieldType>(f.type), f.body);
        }
        EXPECT_EQ(types, *c.types);
        EXPECT_EQ(again, c.packet);
    }
    EXPECT_EQ(ParseExtensionFields(header + odd)->at(0).body,
              std::string("abcde\0\0\0\0\0\0\0", 12));
}

TEST(NtsFields, RequestsRoundTripThroughTheServerUsingEachCookieOnce) {
    // Cookies lost (replies that never came) are asked back by placeholders.
    struct Case {
        const char* name;
        std::size_t poolBefore;
        std::size_t newCookies;
    };
    const std::vector<Case> cases{
        {"full pool", 8, 1},
        {"three lost", 5, 4},
        {"last cookie", 1, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        ASSERT_EQ(s.cookies.size(), kMaxCookies);
        s.cookies.resize(c.poolBefore);
        for (int round = 0; round < 12; ++round) {
            const std::size_t before = s.cookies.size();
            const std::string reply = s.ask();
            const ReplyCheck check = CheckReply(reply, s.uid, s.s2c, s.crypto());
            ASSERT_EQ(check.verdict, V::Ok) << check.reason;
            EXPECT_EQ(check.cookies.size(), round == 0 ? c.newCookies : 1u);
            EXPECT_EQ(before - 1 + check.cookies.size(), kMaxCookies);
            s.cookies.insert(s.cookies.end(), check.cookies.begin(), check.cookies.end());
            // The NTP header under the fields is the server's answer to us.
            EXPECT_EQ(ntp::CheckReply(reply, kSent).verdict, ntp::Verdict::Ok);
        }
        EXPECT_EQ(s.server.requests, 12);
        EXPECT_EQ(s.server.rejected, 0);
        EXPECT_EQ(s.server.naks, 0);
        EXPECT_EQ(s.server.reusedCookies, 0);
        EXPECT_EQ(
            std::set<std::string>(s.server.cookiesSeen.begin(), s.server.cookiesSeen.end()).size(),
            12u);
    }
}

TEST(NtsFields, CheckReplyTrustsOnlyWhatTheAuthenticatorSeals) {
    const std::string cookieField = EncodeField(FieldType::Cookie, "sealed cookie");
    struct Case {
        const char* name;
        std::function<std::string(Session&)> reply;
        V verdict;
        std::string reason;
        std::vector<std::string> cookies = {};
        bool checkWithClientKey = false;
    };
    const auto spoiled = [](Spoil spoil) {
        return [spoil](Session& s) {
            s.server.spoil = spoil;
            return s.ask();
        };
    };
    const auto changed = [](std::function<void(std::string&)> change) {
        return [change](Session& s) {
            std::string reply = s.ask();
            change(reply);
            return reply;
        };
    };
    const auto authAt = [](const std::string& reply) {
        return ParseExtensionFields(reply).value().back().offset;
    };
    const std::vector<Case> cases{
        {"sealed plain cookie fields",
         [&](Session& s) { return s.sealed("", cookieField); },
         V::Ok,
         "",
         {std::string("sealed cookie\0\0\0", 16)}},
        {"no new cookies", spoiled(Spoil::NoCookies), V::Ok, ""},
        {"unauthenticated cookie ignored",
         [&](Session& s) {
             return s.sealed(EncodeField(FieldType::Cookie, "forged cookie"), cookieField);
         },
         V::Ok,
         "",
         {std::string("sealed cookie\0\0\0", 16)}},
        {"other sealed fields ignored",
         [&](Session& s) {
             return s.sealed("", EncodeField(FieldType::CookiePlaceholder, "x") + cookieField);
         },
         V::Ok,
         "",
         {std::string("sealed cookie\0\0\0", 16)}},
        {"sealed cookies beyond eight or too long dropped",
         [&](Session& s) {
             std::string plaintext = EncodeField(FieldType::Cookie, std::string(260, 'L'));
             for (int i = 0; i < 10; ++i) plaintext += cookieField;
             return s.sealed("", plaintext);
         },
         V::Ok, "", std::vector<std::string>(8, std::string("sealed cookie\0\0\0", 16))},
        {"sealed garbage", [](Session& s) { return s.sealed("", "abc"); }, V::Malformed,
         "the reply's encrypted fields are malformed"},
        {"another unique identifier", spoiled(Spoil::OtherId), V::WrongId,
         "the reply answers another request (unique identifier)"},
        {"an earlier reply replayed",
         [](Session& s) {
             s.ask();
             s.uid = std::string(kUniqueIdBytes, 'v');
             s.server.spoil = Spoil::Replay;
             return s.ask();
         },
         V::WrongId, "the reply answers another request (unique identifier)"},
        {"a second unique identifier",
         [&](Session& s) {
             return s.sealed(EncodeField(FieldType::UniqueIdentifier, "another"), cookieField);
         },
         V::WrongId, "the reply answers another request (unique identifier)"},
        {"plain NTP", [](Session& s) { return s.ask().substr(0, 48); }, V::WrongId,
         "the reply carries no NTS unique identifier"},
        {"NAK", spoiled(Spoil::Nak), V::Nak, "the server did not accept the cookie (NTS NAK)"},
        {"cookie the server never issued",
         [](Session& s) {
             s.cookies.front() = "made up";
             return s.ask();
         },
         V::Nak, "the server did not accept the cookie (NTS NAK)"},
        {"no authenticator", spoiled(Spoil::NoAuthenticator), V::AuthFailed,
         "authentication failed: the reply has no authenticator"},
        {"a bit of the time flipped", spoiled(Spoil::FlipBit), V::AuthFailed,
         "authentication failed: the reply's authenticator does not verify"},
        {"checked with the other key",
         spoiled(Spoil::None),
         V::AuthFailed,
         "authentication failed: the reply's authenticator does not verify",
         {},
         true},
        {"a field after the authenticator",
         changed([](std::string& r) { r += EncodeField(FieldType::CookiePlaceholder, ""); }),
         V::AuthFailed, "authentication failed: the authenticator is not the last field"},
        {"empty nonce", changed([&](std::string& r) { r[authAt(r) + 5] = 0; }), V::AuthFailed,
         "authentication failed: the reply's authenticator is malformed"},
        {"ciphertext shorter than the tag", changed([&](std::string& r) { r[authAt(r) + 7] = 15; }),
         V::AuthFailed, "authentication failed: the reply's authenticator is malformed"},
        {"ciphertext beyond the field", changed([&](std::string& r) { r[authAt(r) + 6] = 1; }),
         V::AuthFailed, "authentication failed: the reply's authenticator is malformed"},
        {"cut by a word", changed([](std::string& r) { r.resize(r.size() - 4); }), V::Malformed,
         "the reply's extension fields are malformed"},
        {"cut inside the header", changed([](std::string& r) { r.resize(47); }), V::Malformed,
         "the reply's extension fields are malformed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        const std::string reply = c.reply(s);
        const ReplyCheck check =
            CheckReply(reply, s.uid, c.checkWithClientKey ? s.c2s : s.s2c, s.crypto());
        EXPECT_EQ(check.verdict, c.verdict);
        EXPECT_EQ(check.reason, c.reason);
        if (c.verdict == V::Ok) {
            EXPECT_EQ(check.cookies, c.cookies);
        }
    }
}

TEST(FakeNtsServer, KeyEstablishmentSwitchesReachTheClient) {
    using Server = testing::FakeNtsServer;
    struct Case {
        const char* name;
        std::function<void(Server&)> configure;
        std::string request;
        KeResult::State state;
        std::string reason;
    };
    const std::string request = BuildKeRequest();
    const std::vector<Case> cases{
        {"plain", [](Server&) {}, request, KeResult::State::Done, ""},
        {"server, port and a warning",
         [](Server& s) {
             s.server = "ntp.example";
             s.port = 4123;
             s.warning = 9;
         },
         request, KeResult::State::Done, ""},
        {"error", [](Server& s) { s.error = 2; }, request, KeResult::State::Failed,
         "the server refused: error 2 (internal server error)"},
        {"no cookies", [](Server& s) { s.cookiesPerKe = 0; }, request, KeResult::State::Failed,
         "the server sent no cookies"},
        {"no end of message", [](Server& s) { s.endOfMessage = false; }, request,
         KeResult::State::Incomplete, ""},
        {"a request without AES-SIV", [](Server&) {},
         EncodeRecords({{true, 1, std::string(2, '\0')}, {true, 0, ""}}), KeResult::State::Failed,
         "the server refused: error 1 (bad request)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::FakePlatform platform;
        Server server;
        server.ntp.platform = &platform;
        server.cookiesPerKe = 3;
        c.configure(server);
        platform.tlsPeers["nts.example"] = server.keScript();
        auto tls = platform.createTlsClient();
        tls->connect("nts.example", kKePort, kAlpn, "");
        platform.advance(5);
        ASSERT_TRUE(tls->write(c.request));
        platform.advance(5);
        const KeResult r = ParseKeResponse(tls->readAll(kMaxKeResponseBytes).value_or(""));
        EXPECT_EQ(r.state, c.state);
        EXPECT_EQ(r.reason, c.reason);
        if (r.state != KeResult::State::Done) continue;
        EXPECT_EQ(r.response.cookies.size(), 3u);
        EXPECT_EQ(r.response.ntpServer, server.server);
        EXPECT_EQ(r.response.ntpPort, server.port);
        EXPECT_EQ(r.response.warnings.size(), server.warning ? 1u : 0u);
    }
}

TEST(NtsFields, NoFlippedBitIsEverTrusted) {
    Session s;
    const std::string reply = s.ask();
    ASSERT_EQ(CheckReply(reply, s.uid, s.s2c, s.crypto()).verdict, V::Ok);
    for (std::size_t bit = 0; bit < reply.size() * 8; ++bit) {
        std::string tampered = reply;
        tampered[bit / 8] = static_cast<char>(tampered[bit / 8] ^ (1 << (bit % 8)));
        const ReplyCheck check = CheckReply(tampered, s.uid, s.s2c, s.crypto());
        EXPECT_NE(check.verdict, V::Ok) << "bit " << bit;
        EXPECT_FALSE(check.reason.empty()) << "bit " << bit;
        EXPECT_TRUE(check.cookies.empty()) << "bit " << bit;
        // The header is sealed too: a changed time is a forgery.
        if (bit < 48 * 8) {
            EXPECT_EQ(check.verdict, V::AuthFailed) << "bit " << bit;
        }
    }
}

}  // namespace
}  // namespace tempikon::core::nts
