#include "core/nts_fields.h"

#include <algorithm>

#include "core/nts_ke.h"

namespace tempikon::core::nts {

namespace {

constexpr std::size_t kHeaderBytes = 48;
constexpr std::size_t kMinFieldBytes = 16;
constexpr std::size_t kTagBytes = platform::Crypto::kSivTagBytes;

void PutU16(std::string& out, std::size_t v) {
    out += static_cast<char>((v >> 8) & 0xFF);
    out += static_cast<char>(v & 0xFF);
}

std::size_t GetU16(std::string_view bytes, std::size_t at) {
    return (static_cast<std::size_t>(static_cast<unsigned char>(bytes[at])) << 8) |
           static_cast<unsigned char>(bytes[at + 1]);
}

std::size_t Padded(std::size_t n) {
    return (n + 3) / 4 * 4;
}

// Fields from `start` to the end of `bytes`, which they must tile exactly.
std::optional<std::vector<ExtensionField>> ParseFieldsFrom(std::string_view bytes,
                                                           std::size_t start) {
    std::vector<ExtensionField> fields;
    std::size_t at = start;
    while (at < bytes.size()) {
        if (bytes.size() - at < 4) return std::nullopt;
        const std::size_t length = GetU16(bytes, at + 2);
        if (length < kMinFieldBytes || length % 4 != 0 || length > bytes.size() - at)
            return std::nullopt;
        fields.push_back({static_cast<std::uint16_t>(GetU16(bytes, at)),
                          std::string(bytes.substr(at + 4, length - 4)), at});
        at += length;
    }
    return fields;
}

ReplyCheck Verdict(ReplyCheck::Verdict verdict, std::string reason) {
    ReplyCheck check;
    check.verdict = verdict;
    check.reason = std::move(reason);
    return check;
}

ReplyCheck AuthFailed(const std::string& why) {
    return Verdict(ReplyCheck::Verdict::AuthFailed, "authentication failed: " + why);
}

bool IsNak(std::string_view packet) {
    return packet[1] == 0 && packet.substr(12, 4) == "NTSN";
}

}  // namespace

std::string EncodeField(FieldType type, std::string_view body) {
    // At least 16 bytes in all, as every NTPv4 extension field must be.
    const std::size_t padded = std::max(Padded(body.size()), kMinFieldBytes - 4);
    std::string out;
    PutU16(out, static_cast<std::size_t>(type));
    PutU16(out, 4 + padded);
    out += body;
    out.append(padded - body.size(), '\0');
    return out;
}

std::optional<std::vector<ExtensionField>> ParseExtensionFields(std::string_view packet) {
    if (packet.size() < kHeaderBytes) return std::nullopt;
    return ParseFieldsFrom(packet, kHeaderBytes);
}

std::optional<std::string> BuildRequest(std::string_view header, std::string_view uniqueId,
                                        std::string_view cookie, int placeholders,
                                        std::string_view c2sKey, platform::Crypto& crypto) {
    if (header.size() != kHeaderBytes || uniqueId.empty() || cookie.empty() || placeholders < 0 ||
        placeholders >= static_cast<int>(kMaxCookies) || cookie.size() > kMaxCookieBytes)
        return std::nullopt;
    std::string packet(header);
    packet += EncodeField(FieldType::UniqueIdentifier, uniqueId);
    packet += EncodeField(FieldType::Cookie, cookie);
    const std::string zeros(cookie.size(), '\0');
    for (int i = 0; i < placeholders; ++i)
        packet += EncodeField(FieldType::CookiePlaceholder, zeros);

    const std::string nonce = crypto.randomBytes(kNonceBytes);
    const auto sealed = crypto.sivSeal(c2sKey, nonce, packet, "");
    if (!sealed || sealed->size() != kTagBytes) return std::nullopt;
    std::string body;
    PutU16(body, nonce.size());
    PutU16(body, sealed->size());
    body += nonce;
    body.append(Padded(nonce.size()) - nonce.size(), '\0');
    body += *sealed;
    body.append(Padded(sealed->size()) - sealed->size(), '\0');
    return packet + EncodeField(FieldType::Authenticator, body);
}

ReplyCheck CheckReply(std::string_view packet, std::string_view uniqueId, std::string_view s2cKey,
                      platform::Crypto& crypto) {
    using V = ReplyCheck::Verdict;
    const auto fields = ParseExtensionFields(packet);
    if (!fields) return Verdict(V::Malformed, "the reply's extension fields are malformed");

    // Every unique identifier must be ours: anything else answers another
    // request, perhaps an earlier one replayed.
    bool ours = false;
    for (const ExtensionField& f : *fields) {
        if (f.type != static_cast<std::uint16_t>(FieldType::UniqueIdentifier)) continue;
        if (f.body != uniqueId)
            return Verdict(V::WrongId, "the reply answers another request (unique identifier)");
        ours = true;
    }
    if (!ours) return Verdict(V::WrongId, "the reply carries no NTS unique identifier");

    // A NAK carries no authenticator by design; it only tells us to fetch
    // new cookies, so believing a forged one costs a key establishment.
    if (IsNak(packet)) return Verdict(V::Nak, "the server did not accept the cookie (NTS NAK)");

    const auto auth = std::find_if(fields->begin(), fields->end(), [](const ExtensionField& f) {
        return f.type == static_cast<std::uint16_t>(FieldType::Authenticator);
    });
    if (auth == fields->end()) return AuthFailed("the reply has no authenticator");
    if (auth + 1 != fields->end()) return AuthFailed("the authenticator is not the last field");

    const std::string_view body = auth->body;
    if (body.size() < 4) return AuthFailed("the reply's authenticator is malformed");
    const std::size_t nonceLength = GetU16(body, 0);
    const std::size_t sealedLength = GetU16(body, 2);
    // Like careful servers and clients: a nonce of at least one byte in room
    // for sixteen, and the tag at least.
    if (nonceLength < 1 || sealedLength < kTagBytes ||
        4 + std::max(Padded(nonceLength), kNonceBytes) + Padded(sealedLength) > body.size())
        return AuthFailed("the reply's authenticator is malformed");
    const std::string_view nonce = body.substr(4, nonceLength);
    const std::string_view sealed = body.substr(4 + Padded(nonceLength), sealedLength);

    const auto plaintext = crypto.sivOpen(s2cKey, nonce, packet.substr(0, auth->offset), sealed);
    if (!plaintext) return AuthFailed("the reply's authenticator does not verify");

    const auto inner = ParseFieldsFrom(*plaintext, 0);
    if (!inner) return Verdict(V::Malformed, "the reply's encrypted fields are malformed");
    ReplyCheck ok;
    ok.verdict = V::Ok;
    for (const ExtensionField& f : *inner) {
        if (f.type != static_cast<std::uint16_t>(FieldType::Cookie)) continue;
        if (f.body.size() > kMaxCookieBytes || ok.cookies.size() >= kMaxCookies) continue;
        ok.cookies.push_back(f.body);
    }
    return ok;
}

}  // namespace tempikon::core::nts
