#include "core/query/nts_client.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/ntp_packet.h"
#include "tests/fake/fake_platform.h"

namespace tempikon::core {
namespace {

TEST(CookieStash, GivesTheOldestFirstKeepsNoMoreThanItHoldsAndCountsWhatIsMissing) {
    CookieStash stash(3);
    EXPECT_TRUE(stash.empty());
    EXPECT_EQ(stash.missing(), 2u);  // a request asks for the rest beyond its own
    EXPECT_EQ(stash.take(), std::nullopt);
    EXPECT_TRUE(stash.store("a"));
    EXPECT_TRUE(stash.store("b"));
    EXPECT_EQ(stash.missing(), 0u);
    EXPECT_TRUE(stash.store("c"));
    EXPECT_FALSE(stash.store("d"));  // full: a surplus cookie is dropped
    EXPECT_EQ(stash.size(), 3u);
    EXPECT_EQ(stash.take(), "a");
    EXPECT_EQ(stash.take(), "b");
    EXPECT_EQ(stash.missing(), 1u);
    EXPECT_TRUE(stash.store("e"));
    EXPECT_EQ(stash.take(), "c");
    EXPECT_EQ(stash.take(), "e");
    EXPECT_TRUE(stash.empty());

    CookieStash full;  // as many as one key establishment gives
    for (std::size_t i = 0; i < nts::kMaxCookies; ++i) EXPECT_TRUE(full.store(std::to_string(i)));
    EXPECT_FALSE(full.store("over"));
}

TEST(NtsBurstHooks, AnEmptyStashSendsNothingAndSpendsTheSession) {
    fake::FakePlatform p;
    ASSERT_NE(p.crypto(), nullptr);
    NtsSession session;
    session.c2sKey = std::string(nts::kKeyBytes, 'c');
    session.s2cKey = std::string(nts::kKeyBytes, 's');
    NtsBurstHooks hooks(session, *p.crypto());
    const std::optional<QueryFailure> refused = hooks.prepare();
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->kind, FailureKind::Unauthenticated);
    EXPECT_EQ(refused->reason, "no NTS cookies are left");
    EXPECT_TRUE(hooks.sessionSpent());

    // With a cookie the request is sealed and the cookie gone; a plain
    // reply, which echoes no identifier of ours, is never used.
    session.cookies.store(std::string(100, 'k'));
    NtsBurstHooks fresh(session, *p.crypto());
    EXPECT_EQ(fresh.prepare(), std::nullopt);
    QueryFailure failure;
    const std::string plain = ntp::BuildRequest(ntp::Timestamp::fromRaw(1));
    const std::optional<std::string> sealed = fresh.seal(plain, failure);
    ASSERT_TRUE(sealed.has_value()) << failure.reason;
    EXPECT_GT(sealed->size(), plain.size());
    EXPECT_EQ(sealed->substr(0, plain.size()), plain);
    EXPECT_TRUE(session.cookies.empty());
    const BurstHooks::Opened opened = fresh.open(plain);
    EXPECT_EQ(opened.verdict, BurstHooks::Opened::Verdict::Ignored);
    EXPECT_EQ(opened.failure.kind, FailureKind::Rejected);
    EXPECT_FALSE(fresh.sessionSpent());
}

}  // namespace
}  // namespace tempikon::core
