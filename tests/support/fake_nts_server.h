#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/nts_fields.h"
#include "core/nts_ke.h"
#include "tests/fake/fake_platform.h"
#include "tests/support/fake_ntp_server.h"

namespace tempikon::testing {

// A scripted NTS server on the fake platform. keScript() is its key
// establishment: a TLS peer that hands out cookies bound to the session's
// keys. responder() is its NTP side: it takes a request whose cookie it
// issued and whose authenticator verifies, and answers with the header of
// `ntp`, the echoed unique identifier and new cookies sealed with the
// server-to-client key. The server must outlive the platform's use of both.
struct FakeNtsServer {
    // ---- key establishment
    int cookiesPerKe = 8;
    std::size_t cookieBytes = 100;
    std::string server;                    // a Server record when not empty
    std::optional<std::uint16_t> port;     // a Port record
    std::optional<std::uint16_t> error;    // an Error record instead of the answer
    std::optional<std::uint16_t> warning;  // a Warning record with the answer...
    int warningRepeats = 1;                // ...this many times
    bool endOfMessage = true;              // false: the answer stops short of it
    int keSessions = 0;                    // well-formed requests answered
    std::vector<std::string> keRequests;   // what each client wrote

    // ---- NTP side
    FakeNtpServer ntp;  // set ntp.platform; its crypto seals the replies
    enum class Spoil {
        None,
        FlipBit,          // flip bit `flipBit` of the reply
        Nak,              // answer with an NTS NAK
        OtherId,          // echo another unique identifier (sealed all the same)
        NoAuthenticator,  // leave the authenticator out
        Replay,           // send the previous reply again
        NoCookies,        // seal no new cookies
    };
    Spoil spoil = Spoil::None;
    // An attacker on the path: an unauthenticated NAK reaches the client
    // 1 ms ahead of each genuine reply.
    bool forgedNakAhead = false;
    // Unknown cookies get no answer at all, not a NAK (ntpsec after its
    // keys change).
    bool dropUnknownCookies = false;
    int dropped = 0;               // requests left unanswered for that
    std::size_t flipBit = 40 * 8;  // in the transmit timestamp
    int requests = 0;
    int rejected = 0;                      // dropped: the authenticator did not verify
    int naks = 0;                          // answered with a NAK (unknown cookie or Spoil::Nak)
    std::vector<std::string> cookiesSeen;  // each request's cookie, in order
    int reusedCookies = 0;                 // requests with a cookie seen before

    fake::TlsPeerScript keScript(const std::string& secret = "fake session") {
        fake::TlsPeerScript script;
        script.secret = secret;
        script.respond = [this, secret](const std::string& written) {
            keRequests.push_back(written);
            return keAnswer(written, secret);
        };
        return script;
    }

    fake::UdpResponder responder() {
        return [this](const std::string& request) { return answer(request); };
    }

    // The keys a session with this secret exports.
    static std::string ClientKey(const std::string& secret) {
        return fake::FakeExportedKey(secret, core::nts::kExporterLabel,
                                     core::nts::ExporterContext(false), core::nts::kKeyBytes);
    }
    static std::string ServerKey(const std::string& secret) {
        return fake::FakeExportedKey(secret, core::nts::kExporterLabel,
                                     core::nts::ExporterContext(true), core::nts::kKeyBytes);
    }

    // New keys: every cookie handed out so far is unknown from now on.
    void forgetCookies() { issued_.clear(); }

    // A cookie as the key establishment hands it out, bound to `secret`.
    std::string issueCookie(const std::string& secret) {
        std::string cookie = "cookie " + std::to_string(nextCookie_++) + " ";
        cookie.resize(cookieBytes, '.');
        issued_[cookie] = secret;
        return cookie;
    }

private:
    using Rec = core::nts::Record;
    using RT = core::nts::RecordType;
    using FT = core::nts::FieldType;

    static std::string U16(std::uint16_t v) {
        return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
    }
    static std::uint16_t GetU16(std::string_view s, std::size_t at) {
        return static_cast<std::uint16_t>((static_cast<unsigned char>(s[at]) << 8) |
                                          static_cast<unsigned char>(s[at + 1]));
    }
    static Rec R(RT type, std::string body, bool critical = true) {
        return {critical, static_cast<std::uint16_t>(type), std::move(body)};
    }

    // A well-formed request offers NTPv4 and AES-SIV-CMAC-256 and ends with
    // End of Message.
    static bool WellFormedKeRequest(std::string_view w) {
        bool ntp = false, aead = false;
        std::size_t at = 0;
        while (at + 4 <= w.size()) {
            const std::uint16_t type = GetU16(w, at) & 0x7FFF;
            const std::size_t length = GetU16(w, at + 2);
            if (at + 4 + length > w.size()) return false;
            for (std::size_t i = at + 4; i + 1 < at + 4 + length; i += 2) {
                if (type == 1 && GetU16(w, i) == core::nts::kNextProtocolNtpV4) ntp = true;
                if (type == 4 && GetU16(w, i) == core::nts::kAeadAesSivCmac256) aead = true;
            }
            at += 4 + length;
            if (type == 0) return at == w.size() && ntp && aead;
        }
        return false;
    }

    std::string keAnswer(const std::string& written, const std::string& secret) {
        std::vector<Rec> records;
        if (!WellFormedKeRequest(written)) {
            records = {R(RT::Error, U16(1)), R(RT::EndOfMessage, "")};
            return core::nts::EncodeRecords(records);
        }
        ++keSessions;
        if (error) {
            records = {R(RT::Error, U16(*error)), R(RT::EndOfMessage, "")};
            return core::nts::EncodeRecords(records);
        }
        records.push_back(R(RT::NextProtocol, U16(core::nts::kNextProtocolNtpV4)));
        records.push_back(R(RT::AeadAlgorithm, U16(core::nts::kAeadAesSivCmac256)));
        for (int i = 0; warning && i < warningRepeats; ++i)
            records.push_back(R(RT::Warning, U16(static_cast<std::uint16_t>(*warning + i % 3))));
        if (!server.empty()) records.push_back(R(RT::Server, server));
        if (port) records.push_back(R(RT::Port, U16(*port)));
        for (int i = 0; i < cookiesPerKe; ++i)
            records.push_back(R(RT::NewCookie, issueCookie(secret), false));
        if (endOfMessage) records.push_back(R(RT::EndOfMessage, ""));
        return core::nts::EncodeRecords(records);
    }

    // A field padded with zeros to a multiple of 4, and to 16 bytes at least.
    static std::string Field(FT type, std::string_view body) {
        std::string padded(body);
        padded.resize(std::max<std::size_t>((body.size() + 3) / 4 * 4, 12), '\0');
        return U16(static_cast<std::uint16_t>(type)) +
               U16(static_cast<std::uint16_t>(4 + padded.size())) + padded;
    }

    // The authenticator field over `before`, sealing `plaintext`.
    std::string authenticator(const std::string& before, const std::string& key,
                              const std::string& plaintext) {
        platform::Crypto& crypto = *ntp.platform->crypto();
        const std::string nonce = crypto.randomBytes(16);
        std::string sealed = *crypto.sivSeal(key, nonce, before, plaintext);
        const auto length = static_cast<std::uint16_t>(sealed.size());
        sealed.resize((sealed.size() + 3) / 4 * 4, '\0');
        return Field(FT::Authenticator, U16(16) + U16(length) + nonce + sealed);
    }

    std::vector<fake::UdpReply> answer(const std::string& request) {
        ++requests;
        const auto fields = core::nts::ParseExtensionFields(request);
        if (!fields || fields->empty()) return {};
        std::string uid, cookie;
        int placeholders = 0;
        for (const auto& f : *fields) {
            if (f.type == static_cast<std::uint16_t>(FT::UniqueIdentifier)) uid = f.body;
            if (f.type == static_cast<std::uint16_t>(FT::Cookie)) cookie = f.body;
            if (f.type == static_cast<std::uint16_t>(FT::CookiePlaceholder)) ++placeholders;
        }
        // The cookie's own bytes, without the field's zero padding.
        while (!cookie.empty() && cookie.back() == '\0') cookie.pop_back();
        cookiesSeen.push_back(cookie);
        if (!used_.insert(cookie).second) ++reusedCookies;

        std::vector<fake::UdpReply> replies = ntp.responder()(request);
        std::string header = replies.at(0).bytes.substr(0, 48);
        const auto issued = issued_.find(cookie);
        if (issued == issued_.end() && dropUnknownCookies) {
            ++dropped;
            return {};
        }
        if (issued == issued_.end() || spoil == Spoil::Nak) {
            ++naks;
            header[1] = 0;
            header.replace(12, 4, "NTSN");
            replies[0].bytes = header + Field(FT::UniqueIdentifier, uid);
            return replies;
        }

        // The request's authenticator, with the client-to-server key.
        const auto& auth = fields->back();
        const std::string_view body = auth.body;
        if (auth.type != static_cast<std::uint16_t>(FT::Authenticator) || body.size() < 4) {
            ++rejected;
            return {};
        }
        const std::size_t nonceLength = GetU16(body, 0), sealedLength = GetU16(body, 2);
        const std::size_t sealedAt = 4 + (nonceLength + 3) / 4 * 4;
        if (sealedAt + sealedLength > body.size() ||
            !ntp.platform->crypto()->sivOpen(ClientKey(issued->second), body.substr(4, nonceLength),
                                             std::string_view(request).substr(0, auth.offset),
                                             body.substr(sealedAt, sealedLength))) {
            ++rejected;
            return {};
        }

        if (spoil == Spoil::Replay && !lastReply_.empty()) {
            replies[0].bytes = lastReply_;
            return replies;
        }
        std::string reply = header;
        reply += Field(FT::UniqueIdentifier,
                       spoil == Spoil::OtherId ? std::string(uid.size(), 'x') : uid);
        std::string plaintext;
        if (spoil != Spoil::NoCookies) {
            for (int i = 0; i <= placeholders; ++i)
                plaintext += Field(FT::Cookie, issueCookie(issued->second));
        }
        if (spoil != Spoil::NoAuthenticator)
            reply += authenticator(reply, ServerKey(issued->second), plaintext);
        if (spoil == Spoil::FlipBit && flipBit / 8 < reply.size())
            reply[flipBit / 8] = static_cast<char>(reply[flipBit / 8] ^ (1 << (flipBit % 8)));
        lastReply_ = reply;
        replies[0].bytes = reply;
        if (forgedNakAhead) {
            std::string nak = header;
            nak[1] = 0;
            nak.replace(12, 4, "NTSN");
            nak += Field(FT::UniqueIdentifier, uid);
            replies.insert(replies.begin(),
                           fake::UdpReply{std::max(0LL, replies[0].atMs - 1), nak, true});
        }
        return replies;
    }

    std::map<std::string, std::string> issued_;  // cookie -> its session's secret
    std::set<std::string> used_;
    std::string lastReply_;
    int nextCookie_ = 0;
};

}  // namespace tempikon::testing
