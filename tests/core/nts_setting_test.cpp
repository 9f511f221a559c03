// NTS settings on the fake platform: the key establishment over the fake
// TLS client, the burst with GnuTLS's real AES-SIV, the cookies' lifecycle.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/nts_ke.h"
#include "core/query/server_query.h"
#include "core/set_clock.h"
#include "tests/fake/fake_platform.h"
#include "tests/support/ask.h"
#include "tests/support/fake_nts_server.h"
#include "tests/support/setting_fixture.h"

namespace tempikon::core {
namespace {

constexpr std::int64_t kMs = 1000;

class NtsSettingTest : public testsupport::SettingFixture {
protected:
    NtsSettingTest() : SettingFixture("nts.example", "NTS") {
        config.step = "always";
        server.ntp.platform = &p;
        server.ntp.aheadMicros = 90 * 1'000'000;
        server.ntp.delaysMs = {{3, 1}};
        p.tlsPeers["nts.example"] = server.keScript();
        p.scriptUdp("nts.example", server.responder());
    }

    SetResult run() { return runSetting(); }
    std::string reasons(const SetResult& r) const {
        std::string all;
        for (const auto& f : r.failures) all += f + "\n";
        return all;
    }
    std::int64_t lastError() { return errorAgainst(server.ntp.aheadMicros); }

    testing::FakeNtsServer server;
};

TEST_F(NtsSettingTest, SetsFromAuthenticatedRepliesAndKeepsItsCookiesAcrossSettings) {
    if (!p.crypto()) GTEST_SKIP() << "no NTS in this build";
    const SetResult first = run();
    ASSERT_EQ(first.outcome, SetOutcome::Set) << reasons(first);
    // The key server was asked over TLS with the NTS protocol, on 4460.
    ASSERT_EQ(p.tlsConnections.size(), 1u);
    EXPECT_EQ(p.tlsConnections[0].port, nts::kKePort);
    EXPECT_EQ(p.tlsConnections[0].alpn, "ntske/1");
    // Out 3 ms, back 1 ms: the sample errs by 1 ms.
    EXPECT_EQ(lastError(), 1 * kMs);
    EXPECT_EQ(query.lastAnswer().ntsSubject, "CN=fake.example");
    // The setting says it was authenticated, and by whom.
    EXPECT_NE(first.status.find(", authenticated (NTS)"), std::string::npos) << first.status;
    EXPECT_EQ(first.authenticatedBy, "CN=fake.example");

    // Resident settings reuse the cookies: no second key establishment
    // until they run out, and no cookie goes out twice.
    for (int i = 0; i < 5; ++i) {
        p.advance(60'000);
        ASSERT_EQ(run().outcome, SetOutcome::Set);
    }
    EXPECT_EQ(server.keSessions, 1);
    EXPECT_EQ(query.ntsKeyExchanges(), 1);
    EXPECT_EQ(server.requests, 6 * 4);
    EXPECT_EQ(server.reusedCookies, 0);
}

TEST_F(NtsSettingTest, RepliesThatDoNotProveThemselvesNeverSetTheClock) {
    if (!p.crypto()) GTEST_SKIP() << "no NTS in this build";
    using Spoil = testing::FakeNtsServer::Spoil;
    struct Case {
        Spoil spoil;
        const char* reasonHas;
    };
    const Case cases[] = {
        {Spoil::FlipBit, "authentication failed"},
        {Spoil::NoAuthenticator, "authentication failed"},
        {Spoil::OtherId, ""},
        {Spoil::Replay, ""},
    };
    for (const Case& c : cases) {
        fake::FakePlatform platform;
        testing::FakeNtsServer bad;
        bad.ntp.platform = &platform;
        platform.tlsPeers["nts.example"] = bad.keScript();
        platform.scriptUdp("nts.example", bad.responder());
        ServerQuery q{platform};
        ClockSetter s{platform, q};
        const auto spoilAfterFirst = [&] { bad.spoil = c.spoil; };
        // A replay needs an earlier reply: the first setting is clean.
        if (c.spoil == Spoil::Replay) {
            ASSERT_EQ(s.run(config, [](const std::string&) {}).outcome, SetOutcome::Set);
            platform.advance(60'000);
        }
        spoilAfterFirst();
        const std::size_t setBefore = platform.fakeClock().settings.size();
        const SetResult result = s.run(config, [](const std::string&) {});
        const int which = static_cast<int>(c.spoil);
        EXPECT_EQ(result.outcome, SetOutcome::Unreachable) << which;
        EXPECT_EQ(platform.fakeClock().settings.size(), setBefore) << which;
        ASSERT_EQ(result.failures.size(), 1u) << which;
        EXPECT_NE(result.failures[0].find(c.reasonHas), std::string::npos)
            << which << ": " << result.failures[0];
    }
}

TEST_F(NtsSettingTest, ANakOrSpentCookiesLeadToOneNewKeyEstablishment) {
    if (!p.crypto()) GTEST_SKIP() << "no NTS in this build";
    ASSERT_EQ(run().outcome, SetOutcome::Set);
    // The server forgot its keys: one NAK, one new key establishment, a
    // setting from the new cookies.
    server.spoil = testing::FakeNtsServer::Spoil::Nak;
    int naksLeft = 1;
    p.scriptUdp("nts.example", [&](const std::string& request) {
        if (naksLeft-- <= 0) server.spoil = testing::FakeNtsServer::Spoil::None;
        return server.responder()(request);
    });
    p.advance(60'000);
    SetResult r = run();
    EXPECT_EQ(r.outcome, SetOutcome::Set) << reasons(r);
    EXPECT_EQ(server.keSessions, 2);

    // A server that keeps answering NAK: one new key establishment per
    // setting, then the failure.
    p.scriptUdp("nts.example", server.responder());
    server.spoil = testing::FakeNtsServer::Spoil::Nak;
    p.advance(60'000);
    r = run();
    EXPECT_EQ(r.outcome, SetOutcome::Unreachable);
    EXPECT_EQ(server.keSessions, 3);

    // Replies without new cookies: the eight run out, then fresh ones come.
    server.spoil = testing::FakeNtsServer::Spoil::NoCookies;
    server.keSessions = 0;
    // Four requests per setting: two settings spend the eight.
    for (int i = 0; i < 3; ++i) {
        p.advance(60'000);
        r = run();
        EXPECT_EQ(r.outcome, SetOutcome::Set) << i << reasons(r);
        EXPECT_EQ(server.keSessions, i < 2 ? 1 : 2) << i;
    }
    EXPECT_EQ(server.reusedCookies, 0);
}

TEST_F(NtsSettingTest, AForgedNakAheadOfTheRealReplyChangesNothing) {
    if (!p.crypto()) GTEST_SKIP() << "no NTS in this build";
    server.forgedNakAhead = true;
    for (int i = 0; i < 3; ++i) {
        const SetResult r = run();
        ASSERT_EQ(r.outcome, SetOutcome::Set) << i << reasons(r);
        EXPECT_EQ(lastError(), 1 * kMs) << i;
        p.advance(60'000);
    }
    // The cookies were kept: no new key establishment, none sent twice.
    EXPECT_EQ(server.keSessions, 1);
    EXPECT_EQ(server.naks, 0);
    EXPECT_EQ(server.reusedCookies, 0);
}

TEST_F(NtsSettingTest, CookiesDroppedSilentlyLeadToNewKeysWithinTheSameSetting) {
    if (!p.crypto()) GTEST_SKIP() << "no NTS in this build";
    ASSERT_EQ(run().outcome, SetOutcome::Set);
    // The server changed its keys and ignores the old cookies, without a NAK.
    server.forgetCookies();
    server.dropUnknownCookies = true;
    p.advance(60'000);
    SetResult r = run();
    ASSERT_EQ(r.outcome, SetOutcome::Set) << reasons(r);
    EXPECT_EQ(server.dropped, 1);
    EXPECT_EQ(server.keSessions, 2);
    // A server silent whatever the cookie: one new key establishment per
    // setting, then the failure says so.
    p.scriptUdp("nts.example", [](const std::string&) { return std::vector<fake::UdpReply>{}; });
    p.advance(60'000);
    r = run();
    EXPECT_EQ(r.outcome, SetOutcome::Unreachable);
    EXPECT_EQ(server.keSessions, 3);
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(r.failures[0], "nts.example: no answer within 3 s");
    p.advance(60'000);
    r = run();
    EXPECT_EQ(server.keSessions, 4);
}

TEST_F(NtsSettingTest, AnAuthenticatedRatePausesTheNtpServerItCameFrom) {
    if (!p.crypto()) GTEST_SKIP() << "no NTS in this build";
    server.ntp.change = [](ntp::Packet& r) {
        r.stratum = 0;
        r.referenceId = 0x52415445;  // RATE
    };
    SetResult r = run();
    EXPECT_EQ(r.outcome, SetOutcome::Unreachable);
    EXPECT_NE(reasons(r).find("not asked again for 64 s"), std::string::npos) << reasons(r);
    const std::size_t asked = p.udpRequests.size();
    p.advance(10'000);
    r = run();
    EXPECT_EQ(p.udpRequests.size(), asked);
    EXPECT_NE(reasons(r).find("not asked for another 54 s"), std::string::npos) << reasons(r);
    // The keys were kept: the pause is the NTP server's, not a failure of NTS.
    EXPECT_EQ(server.keSessions, 1);
    server.ntp.change = nullptr;
    p.advance(54'000);
    EXPECT_EQ(run().outcome, SetOutcome::Set);
}

TEST_F(NtsSettingTest, KeyEstablishmentFailuresSayWhatToDo) {
    if (!p.crypto()) GTEST_SKIP() << "no NTS in this build";
    struct Case {
        const char* name;
        std::function<void(fake::TlsPeerScript&, testing::FakeNtsServer&)> spoil;
        const char* reasonHas;
    };
    const Case cases[] = {
        {"untrusted",
         [](fake::TlsPeerScript& s, testing::FakeNtsServer&) {
             s.tlsError = {platform::TlsErrorKind::NotTrusted,
                           "the server's certificate is not trusted: CN=x, issued by CN=x"};
         },
         "not trusted: CN=x"},
        {"refused",
         [](fake::TlsPeerScript& s, testing::FakeNtsServer&) {
             s.socketError = {platform::SocketErrorKind::Refused, "Connection refused"};
         },
         "connection refused"},
        {"error record",
         [](fake::TlsPeerScript&, testing::FakeNtsServer& server) { server.error = 2; },
         "the server refused"},
        {"cut short",
         [](fake::TlsPeerScript&, testing::FakeNtsServer& server) { server.endOfMessage = false; },
         "before its answer was whole"},
        {"no cookies",
         [](fake::TlsPeerScript&, testing::FakeNtsServer& server) { server.cookiesPerKe = 0; },
         "no cookies"},
        {"silent", [](fake::TlsPeerScript& s, testing::FakeNtsServer&) { s.respond = nullptr; },
         "no keys from the key server within 3 s"},
    };
    for (const Case& c : cases) {
        fake::FakePlatform platform;
        testing::FakeNtsServer bad;
        bad.ntp.platform = &platform;
        fake::TlsPeerScript script = bad.keScript();
        c.spoil(script, bad);
        platform.tlsPeers["nts.example"] = script;
        platform.scriptUdp("nts.example", bad.responder());
        ServerQuery q{platform};
        ClockSetter s{platform, q};
        const SetResult result = s.run(config, [](const std::string&) {});
        EXPECT_EQ(result.outcome, SetOutcome::Unreachable) << c.name;
        EXPECT_TRUE(platform.udpRequests.empty()) << c.name;
        ASSERT_EQ(result.failures.size(), 1u) << c.name;
        EXPECT_NE(result.failures[0].find(c.reasonHas), std::string::npos)
            << c.name << ": " << result.failures[0];
    }
}

TEST_F(NtsSettingTest, TheKeyServerChoosesTheNtpServerAndWarnsAndTheTrustFileIsPassedOn) {
    if (!p.crypto()) GTEST_SKIP() << "no NTS in this build";
    server.server = "time.example";
    server.port = 1123;
    p.scriptUdp("time.example", server.responder());
    config.primary().host = "nts.example:4461";
    config.primary().trustFile = "/etc/private-ca.pem";
    server.warning = 7;
    const SetResult r = run();
    ASSERT_EQ(r.outcome, SetOutcome::Set);
    // A warning does not stop the setting, but it is reported.
    EXPECT_EQ(r.failures,
              std::vector<std::string>{"nts.example:4461: the key server warns: warning 7"});
    ASSERT_EQ(p.tlsConnections.size(), 1u);
    EXPECT_EQ(p.tlsConnections[0].port, 4461);
    EXPECT_EQ(p.tlsConnections[0].extraTrust, "/etc/private-ca.pem");
    ASSERT_FALSE(p.udpRequests.empty());
    EXPECT_EQ(p.udpRequests[0].host, "time.example");
    EXPECT_EQ(p.udpRequests[0].port, 1123);
}

TEST_F(NtsSettingTest, AThousandWarningsAreReportedEachOnce) {
    if (!p.crypto()) GTEST_SKIP() << "no NTS in this build";
    server.warning = 7;  // 7, 8, 9, 7, 8, 9, ...
    server.warningRepeats = 1000;
    const SetResult r = run();
    ASSERT_EQ(r.outcome, SetOutcome::Set) << reasons(r);
    EXPECT_EQ(r.failures,
              (std::vector<std::string>{"nts.example: the key server warns: warning 7",
                                        "nts.example: the key server warns: warning 8",
                                        "nts.example: the key server warns: warning 9"}));
}

TEST_F(NtsSettingTest, AFailureAfterARedirectNamesTheNtpServerAsked) {
    if (!p.crypto()) GTEST_SKIP() << "no NTS in this build";
    // The key server sends us to a port where nothing answers.
    server.server = "time.example";
    server.port = 1123;
    const SetResult r = run();
    EXPECT_EQ(r.outcome, SetOutcome::Unreachable);
    EXPECT_EQ(r.failures, std::vector<std::string>{"nts.example: NTP server time.example:1123 "
                                                   "(named by the key server): no answer within "
                                                   "3 s"});
    // An IPv6 address goes in brackets.
    server.server = "2001:db8::7";
    server.port = std::nullopt;
    p.advance(60'000);
    EXPECT_EQ(run().failures.at(0),
              "nts.example: NTP server [2001:db8::7]:123 (named by the key server): no answer "
              "within 3 s");
}

TEST_F(NtsSettingTest, WithoutNtsOnTheSystemTheSettingSaysWhy) {
    p.ntsUnavailable = "NTS is not offered on Windows: the system's cryptography has no AES-SIV";
    const SetResult r = run();
    EXPECT_EQ(r.outcome, SetOutcome::Unreachable);
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(r.failures[0], "nts.example: " + p.ntsUnavailable);
    EXPECT_TRUE(p.tlsConnections.empty());
}

}  // namespace
}  // namespace tempikon::core
