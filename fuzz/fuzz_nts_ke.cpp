// A key-establishment server's answer: whatever is read as a whole answer
// must be written back and read the same, and a verdict once given must
// hold for the bytes before it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/nts_ke.h"
#include "fuzz/fuzz_check.h"

namespace {

using namespace tempikon::core::nts;

std::string U16(std::uint16_t v) {
    return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}

Record R(RecordType type, std::string body, bool critical = true) {
    return {critical, static_cast<std::uint16_t>(type), std::move(body)};
}

// The records of a parsed answer.
std::string Reencode(const KeResponse& r) {
    std::vector<Record> records{R(RecordType::NextProtocol, U16(kNextProtocolNtpV4)),
                                R(RecordType::AeadAlgorithm, U16(kAeadAesSivCmac256))};
    for (const std::string& w : r.warnings) {
        FUZZ_CHECK(w.rfind("warning ", 0) == 0);
        records.push_back(
            R(RecordType::Warning, U16(static_cast<std::uint16_t>(std::stoul(w.substr(8))))));
    }
    if (!r.ntpServer.empty()) records.push_back(R(RecordType::Server, r.ntpServer));
    if (r.ntpPort) records.push_back(R(RecordType::Port, U16(*r.ntpPort)));
    for (const std::string& c : r.cookies) records.push_back(R(RecordType::NewCookie, c, false));
    records.push_back(R(RecordType::EndOfMessage, ""));
    return EncodeRecords(records);
}

bool SameResponse(const KeResponse& a, const KeResponse& b) {
    return a.cookies == b.cookies && a.ntpServer == b.ntpServer && a.ntpPort == b.ntpPort &&
           a.warnings == b.warnings;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const KeResult r = ParseKeResponse(bytes);
    FUZZ_CHECK(r.reason.empty() == (r.state != KeResult::State::Failed));
    for (const char c : r.reason) FUZZ_CHECK(c >= 0x20 && c < 0x7F);

    if (r.state == KeResult::State::Done) {
        FUZZ_CHECK(!r.response.cookies.empty() && r.response.cookies.size() <= kMaxCookies);
        for (const std::string& c : r.response.cookies)
            FUZZ_CHECK(!c.empty() && c.size() <= kMaxCookieBytes);
        FUZZ_CHECK(!r.response.ntpPort || *r.response.ntpPort != 0);
        const KeResult again = ParseKeResponse(Reencode(r.response));
        FUZZ_CHECK(again.state == KeResult::State::Done);
        FUZZ_CHECK(SameResponse(again.response, r.response));
    }
    // End of Message is the last byte of a whole answer, so one byte less
    // is not one; a refusal stands whatever follows it.
    if (size > 0 && r.state == KeResult::State::Done)
        FUZZ_CHECK(ParseKeResponse(bytes.substr(0, size - 1)).state != KeResult::State::Done);
    if (size > 0 && r.state == KeResult::State::Incomplete)
        FUZZ_CHECK(ParseKeResponse(bytes.substr(0, size - 1)).state == KeResult::State::Incomplete);
    if (r.state == KeResult::State::Failed)
        FUZZ_CHECK(ParseKeResponse(std::string(bytes) + '\0').state == KeResult::State::Failed);
    return 0;
}
