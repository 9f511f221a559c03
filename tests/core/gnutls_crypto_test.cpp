// The platform's AES-SIV (GnuTLS behind the fake platform's Crypto) against
// an independent implementation's results.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/crypto.h"
#include "tests/fake/fake_platform.h"

namespace tempikon {
namespace {

std::string Hex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

TEST(GnutlsCrypto, MatchesAnIndependentAesSivAndRefusesWhatItMustNot) {
    fake::FakePlatform platform;
    ASSERT_NE(platform.crypto(), nullptr);
    platform::Crypto& crypto = *platform.crypto();
    // Python's `cryptography` AESSIV, with the associated data and the nonce
    // as its two components (RFC 5297 A.1 and A.2 keys and inputs).
    struct Case {
        const char* name;
        std::string key, nonce, associated, plaintext, sealed;
    };
    const std::vector<Case> cases{
        {"A.1 key and data, a nonce",
         Hex("fffefdfcfbfaf9f8f7f6f5f4f3f2f1f0f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff"),
         Hex("a0a1a2a3a4a5a6a7a8a9aaabacadaeaf"),
         Hex("101112131415161718191a1b1c1d1e1f2021222324252627"),
         Hex("112233445566778899aabbccddee"),
         Hex("94018842d2dfc615085ccc34e0b34fdf392a90cf79224c103d80e791f8fa")},
        {"A.1 key and data, no plaintext",
         Hex("fffefdfcfbfaf9f8f7f6f5f4f3f2f1f0f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff"),
         Hex("a0a1a2a3a4a5a6a7a8a9aaabacadaeaf"),
         Hex("101112131415161718191a1b1c1d1e1f2021222324252627"), "",
         Hex("9f5bade1f9a4bc470f816b99b3f72b93")},
        {"A.2 key, first header and nonce",
         Hex("7f7e7d7c7b7a79787776757473727170404142434445464748494a4b4c4d4e4f"),
         Hex("09f911029d74e35bd84156c5635688c0"),
         Hex("00112233445566778899aabbccddeeffdeaddadadeaddadaffeeddccbbaa99887766554433221100"),
         Hex("7468697320697320736f6d6520706c61696e7465787420746f20656e6372797074207573696e6720"
             "5349562d414553"),
         Hex("85825e22e90cf2ddda2c548dc7c1b6310dcdaca0cebf9dc6cb90583f5bf1506e02cd48832b00e4e5"
             "98b2b22a53e6199d4df0c1666a35a0433b250dc134d776")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(crypto.sivSeal(c.key, c.nonce, c.associated, c.plaintext), c.sealed);
        EXPECT_EQ(crypto.sivOpen(c.key, c.nonce, c.associated, c.sealed), c.plaintext);
        for (std::size_t bit = 0; bit < c.sealed.size() * 8; ++bit) {
            std::string tampered = c.sealed;
            tampered[bit / 8] = static_cast<char>(tampered[bit / 8] ^ (1 << (bit % 8)));
            EXPECT_FALSE(crypto.sivOpen(c.key, c.nonce, c.associated, tampered)) << "bit " << bit;
        }
        EXPECT_FALSE(crypto.sivOpen(c.key, c.nonce, c.associated + "x", c.sealed));
        EXPECT_FALSE(crypto.sivOpen(c.key, c.nonce.substr(1), c.associated, c.sealed));
        // nettle aborts the process on an empty nonce; the call must refuse.
        EXPECT_FALSE(crypto.sivSeal(c.key, "", c.associated, c.plaintext));
        EXPECT_FALSE(crypto.sivOpen(c.key, "", c.associated, c.sealed));
        EXPECT_FALSE(crypto.sivSeal(c.key.substr(1), c.nonce, c.associated, c.plaintext));
    }
}

}  // namespace
}  // namespace tempikon
