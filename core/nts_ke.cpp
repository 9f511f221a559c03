#include "core/nts_ke.h"

#include <algorithm>

#include "core/text.h"

namespace tempikon::core::nts {

namespace {

constexpr std::uint16_t kCriticalBit = 0x8000;

void PutU16(std::string& out, std::uint16_t v) {
    out += static_cast<char>(v >> 8);
    out += static_cast<char>(v & 0xFF);
}

std::uint16_t GetU16(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint16_t>((static_cast<unsigned char>(bytes[at]) << 8) |
                                      static_cast<unsigned char>(bytes[at + 1]));
}

std::string U16Body(std::uint16_t v) {
    std::string s;
    PutU16(s, v);
    return s;
}

KeResult Fail(std::string reason) {
    KeResult r;
    r.state = KeResult::State::Failed;
    r.reason = std::move(reason);
    return r;
}

KeResult Malformed(const std::string& what) {
    return Fail("the answer is malformed: " + what);
}

std::string ErrorText(std::uint16_t code) {
    switch (code) {
        case 0:
            return "error 0 (unrecognized critical record)";
        case 1:
            return "error 1 (bad request)";
        case 2:
            return "error 2 (internal server error)";
        default:
            return "error " + std::to_string(code);
    }
}

// A Server record names a host or an address for the NTP requests; it must
// be something a resolver could take, not arbitrary bytes.
bool IsPrintableAscii(std::string_view s) {
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F) return false;
    }
    return true;
}

}  // namespace

std::string EncodeRecords(const std::vector<Record>& records) {
    std::string out;
    for (const Record& r : records) {
        PutU16(out, static_cast<std::uint16_t>((r.type & ~kCriticalBit) |
                                               (r.critical ? kCriticalBit : 0)));
        PutU16(out, static_cast<std::uint16_t>(r.body.size()));
        out += r.body;
    }
    return out;
}

std::string BuildKeRequest() {
    return EncodeRecords({
        {true, static_cast<std::uint16_t>(RecordType::NextProtocol), U16Body(kNextProtocolNtpV4)},
        {false, static_cast<std::uint16_t>(RecordType::AeadAlgorithm), U16Body(kAeadAesSivCmac256)},
        {true, static_cast<std::uint16_t>(RecordType::EndOfMessage), {}},
    });
}

std::string ExporterContext(bool serverToClient) {
    std::string context;
    PutU16(context, kNextProtocolNtpV4);
    PutU16(context, kAeadAesSivCmac256);
    context += static_cast<char>(serverToClient ? 1 : 0);
    return context;
}

KeResult ParseKeResponse(std::string_view bytes) {
    if (bytes.size() > kMaxKeResponseBytes)
        return Fail("the answer is larger than " + std::to_string(kMaxKeResponseBytes) + " bytes");

    KeResponse response;
    bool sawProtocol = false;
    bool sawAead = false;
    bool sawServer = false;
    bool sawPort = false;
    std::size_t at = 0;
    // Each whole record is judged as it arrives, so that a refusal is
    // reported even when the server closes before its End of Message.
    while (at + 4 <= bytes.size()) {
        const std::uint16_t rawType = GetU16(bytes, at);
        const std::size_t length = GetU16(bytes, at + 2);
        if (at + 4 + length > bytes.size()) break;
        const bool critical = (rawType & kCriticalBit) != 0;
        const std::uint16_t type = rawType & ~kCriticalBit;
        const std::string_view body = bytes.substr(at + 4, length);
        at += 4 + length;

        switch (static_cast<RecordType>(type)) {
            case RecordType::EndOfMessage: {
                if (!body.empty()) return Malformed("an End of Message record with a body");
                if (at != bytes.size()) return Malformed("records after End of Message");
                if (!sawProtocol) return Fail("the server does not offer NTPv4");
                if (!sawAead) return Fail("the server does not offer AES-SIV-CMAC-256");
                if (response.cookies.empty()) return Fail("the server sent no cookies");
                KeResult done;
                done.state = KeResult::State::Done;
                done.response = std::move(response);
                return done;
            }
            case RecordType::NextProtocol:
                if (sawProtocol) return Malformed("two Next Protocol records");
                if (body.size() % 2 != 0) return Malformed("a Next Protocol record of odd length");
                // The server names the one protocol it agreed to.
                if (body.size() != 2 || GetU16(body, 0) != kNextProtocolNtpV4)
                    return Fail("the server does not offer NTPv4");
                sawProtocol = true;
                break;
            case RecordType::Error:
                if (body.size() != 2) return Malformed("an Error record not of 2 bytes");
                return Fail("the server refused: " + ErrorText(GetU16(body, 0)));
            case RecordType::Warning: {
                if (body.size() != 2) return Malformed("a Warning record not of 2 bytes");
                std::string warning = "warning " + std::to_string(GetU16(body, 0));
                if (response.warnings.size() < kMaxWarnings &&
                    std::find(response.warnings.begin(), response.warnings.end(), warning) ==
                        response.warnings.end())
                    response.warnings.push_back(std::move(warning));
                break;
            }
            case RecordType::AeadAlgorithm:
                if (sawAead) return Malformed("two AEAD Algorithm records");
                if (body.size() % 2 != 0)
                    return Malformed("an AEAD Algorithm record of odd length");
                if (body.size() != 2 || GetU16(body, 0) != kAeadAesSivCmac256)
                    return Fail("the server does not offer AES-SIV-CMAC-256");
                sawAead = true;
                break;
            case RecordType::NewCookie:
                if (body.empty()) return Malformed("an empty cookie");
                if (body.size() > kMaxCookieBytes)
                    return Malformed("a cookie of " + std::to_string(body.size()) +
                                     " bytes, more than " + std::to_string(kMaxCookieBytes));
                if (response.cookies.size() < kMaxCookies) response.cookies.emplace_back(body);
                break;
            case RecordType::Server:
                if (sawServer) return Malformed("two Server records");
                if (body.empty()) return Malformed("an empty Server record");
                if (!IsPrintableAscii(body))
                    return Malformed("the Server record \"" + EscapeText(body) +
                                     "\" is not a host name or address");
                response.ntpServer = std::string(body);
                sawServer = true;
                break;
            case RecordType::Port:
                if (sawPort) return Malformed("two Port records");
                if (body.size() != 2) return Malformed("a Port record not of 2 bytes");
                if (GetU16(body, 0) == 0) return Malformed("the Port record names port 0");
                response.ntpPort = GetU16(body, 0);
                sawPort = true;
                break;
            default:
                if (critical)
                    return Fail(
                        "the server sent a critical record the program does not know (type " +
                        std::to_string(type) + ")");
                break;
        }
    }
    return {};
}

}  // namespace tempikon::core::nts
