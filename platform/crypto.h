#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tempikon::platform {

// The cryptography NTS needs, from a well-kept library, never written here:
// AEAD_AES_SIV_CMAC_256 (RFC 5297, RFC 5116 interface: the nonce is the last
// associated-data component) and random bytes.
class Crypto {
public:
    static constexpr std::size_t kSivKeyBytes = 32;
    static constexpr std::size_t kSivTagBytes = 16;

    virtual ~Crypto() = default;
    // The synthetic IV (16 bytes) followed by the encrypted text; nullopt
    // when the key is not 32 bytes, the nonce is empty or the library
    // fails. The plaintext may be empty.
    virtual std::optional<std::string> sivSeal(std::string_view key, std::string_view nonce,
                                               std::string_view associated,
                                               std::string_view plaintext) = 0;
    // The plaintext, or nullopt when the sealed text does not verify under
    // this key, nonce and associated data (altered or forged).
    virtual std::optional<std::string> sivOpen(std::string_view key, std::string_view nonce,
                                               std::string_view associated,
                                               std::string_view sealed) = 0;
    // Bytes from the library's cryptographic random generator.
    virtual std::string randomBytes(std::size_t count) = 0;
};

}  // namespace tempikon::platform
