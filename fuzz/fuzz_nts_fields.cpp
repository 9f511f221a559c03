// An NTP reply with NTS fields, checked with a fixed key and the real
// AES-SIV: whatever the bytes, nothing the fuzzer makes is authentic, and
// the fields it reads are the bytes it was given.
//
// Input: the reply's bytes. The unique identifier the check expects is the
// one in the seed corpus, so that the fuzzer reaches the authenticator.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/nts_fields.h"
#include "core/nts_ke.h"
#include "fuzz/fuzz_check.h"
#include "platform/gnutls/gnutls_crypto.h"

namespace {

using namespace tempikon::core::nts;

const std::string kUniqueId(kUniqueIdBytes, 'u');
const std::string kKey(32, 'k');

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::unique_ptr<tempikon::platform::Crypto> crypto =
        tempikon::platform::CreateGnutlsCrypto();
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const auto fields = ParseExtensionFields(bytes);
    if (fields) {
        std::string again(bytes.substr(0, 48));
        for (const ExtensionField& f : *fields) {
            FUZZ_CHECK(f.offset == again.size());
            FUZZ_CHECK(f.body.size() >= 12 && f.body.size() % 4 == 0);
            again += EncodeField(static_cast<FieldType>(f.type), f.body);
        }
        FUZZ_CHECK(again == bytes);
    } else {
        FUZZ_CHECK(size != 48);
    }

    const ReplyCheck check = CheckReply(bytes, kUniqueId, kKey, *crypto);
    // Sealing with the key is the only way to Ok; the fuzzer cannot do it.
    FUZZ_CHECK(check.verdict != ReplyCheck::Verdict::Ok);
    FUZZ_CHECK(!check.reason.empty() && check.cookies.empty());
    FUZZ_CHECK(fields.has_value() || check.verdict == ReplyCheck::Verdict::Malformed);

    // The same bytes as the sealed fields of a reply that is authentic: Ok
    // exactly when they tile, with their cookies.
    if (size > 1024) return 0;
    std::string reply(48, '\0');
    reply[0] = 0x24;  // version 4, server
    reply[1] = 2;
    reply += EncodeField(FieldType::UniqueIdentifier, kUniqueId);
    const std::string nonce(kNonceBytes, 'n');
    const auto sealed = crypto->sivSeal(kKey, nonce, reply, bytes);
    FUZZ_CHECK(sealed && sealed->size() == size + 16);
    const std::string lengths{0, static_cast<char>(kNonceBytes),
                              static_cast<char>(sealed->size() >> 8),
                              static_cast<char>(sealed->size() & 0xFF)};
    reply += EncodeField(FieldType::Authenticator, lengths + nonce + *sealed);
    const ReplyCheck inner = CheckReply(reply, kUniqueId, kKey, *crypto);
    const auto plain = ParseExtensionFields(std::string(48, '\0') + std::string(bytes));
    FUZZ_CHECK((inner.verdict == ReplyCheck::Verdict::Ok) == plain.has_value());
    if (!plain) {
        FUZZ_CHECK(inner.verdict == ReplyCheck::Verdict::Malformed);
        return 0;
    }
    std::size_t at = 0;
    for (const ExtensionField& f : *plain) {
        if (f.type != static_cast<std::uint16_t>(FieldType::Cookie) ||
            f.body.size() > kMaxCookieBytes)
            continue;
        if (at == kMaxCookies) break;
        FUZZ_CHECK(at < inner.cookies.size() && inner.cookies[at] == f.body);
        ++at;
    }
    FUZZ_CHECK(at == inner.cookies.size());
    return 0;
}
