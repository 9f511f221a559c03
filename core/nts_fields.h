#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto.h"

// NTS in NTP packets (RFC 8915, section 5): the extension fields after the
// 48-byte header, and the authenticator that seals them. The AEAD comes
// from the platform; the rest is bytes in, verdicts out.
namespace tempikon::core::nts {

inline constexpr std::size_t kUniqueIdBytes = 32;
inline constexpr std::size_t kNonceBytes = 16;

enum class FieldType : std::uint16_t {
    UniqueIdentifier = 0x0104,
    Cookie = 0x0204,
    CookiePlaceholder = 0x0304,
    Authenticator = 0x0404,
};

struct ExtensionField {
    std::uint16_t type = 0;
    std::string body;        // without the 4-byte type and length
    std::size_t offset = 0;  // of the field's first byte in the packet
};

// One field, its body padded with zeros to a multiple of 4 bytes.
std::string EncodeField(FieldType type, std::string_view body);

// The extension fields after the header; nullopt when the packet is
// shorter than the header or the fields do not tile the rest exactly
// (each at least 16 bytes, a multiple of 4).
std::optional<std::vector<ExtensionField>> ParseExtensionFields(std::string_view packet);

// An NTS request: `header` (48 bytes) followed by the unique identifier,
// the cookie, `placeholders` placeholders as long as the cookie, and the
// authenticator: a fresh nonce and the AEAD over everything before it with
// the client-to-server key (no encrypted fields). nullopt when the AEAD
// fails, the header is not 48 bytes, the cookie is empty or longer than
// kMaxCookieBytes, or placeholders is outside 0 ... kMaxCookies - 1.
std::optional<std::string> BuildRequest(std::string_view header, std::string_view uniqueId,
                                        std::string_view cookie, int placeholders,
                                        std::string_view c2sKey, platform::Crypto& crypto);

struct ReplyCheck {
    enum class Verdict {
        Ok,          // authenticated, unique identifier ours
        Nak,         // an NTS NAK (kiss code NTSN) for our unique identifier
        WrongId,     // not an answer to this request (another unique identifier, or none)
        AuthFailed,  // no authenticator, a malformed one, or it does not verify
        Malformed,   // extension fields that do not parse
    };
    Verdict verdict = Verdict::Malformed;
    // Ok: the new cookies from the encrypted fields, in order (at most
    // kMaxCookies; longer than kMaxCookieBytes skipped). May be empty: the
    // time is still authentic.
    std::vector<std::string> cookies;
    // What a user reads for anything but Ok, e.g. "authentication failed:
    // the reply's authenticator does not verify".
    std::string reason;
};

// Checks a reply to the request that carried uniqueId. The authenticator
// must be the last field and verify with the server-to-client key over
// everything before it; only what it seals is trusted.
ReplyCheck CheckReply(std::string_view packet, std::string_view uniqueId, std::string_view s2cKey,
                      platform::Crypto& crypto);

}  // namespace tempikon::core::nts
