#include "core/nts_ke.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tempikon::core::nts {
namespace {

std::string U16(std::uint16_t v) {
    return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}

Record R(std::uint16_t type, std::string body, bool critical = true) {
    return {critical, type, std::move(body)};
}

const Record kProtocol = R(1, U16(0));
const Record kAead = R(4, U16(15));
const Record kEnd = R(0, "");

Record Cookie(int n) {
    return R(5, "cookie-" + std::to_string(n), false);
}

// A good answer with `extra` records before the End of Message.
std::string Answer(const std::vector<Record>& extra) {
    std::vector<Record> records{kProtocol, kAead};
    records.insert(records.end(), extra.begin(), extra.end());
    records.push_back(kEnd);
    return EncodeRecords(records);
}

TEST(NtsKe, RequestAndExporterContextsAreTheRfcBytes) {
    // Next Protocol NTPv4 (critical), AEAD 15, End of Message (critical).
    EXPECT_EQ(BuildKeRequest(), std::string("\x80\x01\x00\x02\x00\x00"
                                            "\x00\x04\x00\x02\x00\x0f"
                                            "\x80\x00\x00\x00",
                                            16));
    EXPECT_EQ(ExporterContext(false), std::string("\x00\x00\x00\x0f\x00", 5));
    EXPECT_EQ(ExporterContext(true), std::string("\x00\x00\x00\x0f\x01", 5));
}

TEST(NtsKe, FailuresSayWhatTheUserCanActOn) {
    const std::string big(300, 'c');
    struct Case {
        const char* name;
        std::string bytes;
        std::string reason;
    };
    const std::vector<Case> cases{
        {"bad request", EncodeRecords({R(2, U16(1)), kEnd}),
         "the server refused: error 1 (bad request)"},
        {"unrecognized critical", EncodeRecords({R(2, U16(0)), kEnd}),
         "the server refused: error 0 (unrecognized critical record)"},
        {"internal error before the end", EncodeRecords({R(2, U16(2))}),
         "the server refused: error 2 (internal server error)"},
        {"unknown error code", EncodeRecords({kProtocol, R(2, U16(77)), kEnd}),
         "the server refused: error 77"},
        {"no next protocol", EncodeRecords({kAead, Cookie(1), kEnd}),
         "the server does not offer NTPv4"},
        {"another protocol", EncodeRecords({R(1, U16(0x8001)), kAead, Cookie(1), kEnd}),
         "the server does not offer NTPv4"},
        {"no protocol at all", EncodeRecords({R(1, ""), kAead, Cookie(1), kEnd}),
         "the server does not offer NTPv4"},
        {"two protocols", EncodeRecords({R(1, U16(0) + U16(1)), kAead, Cookie(1), kEnd}),
         "the server does not offer NTPv4"},
        {"no aead", EncodeRecords({kProtocol, Cookie(1), kEnd}),
         "the server does not offer AES-SIV-CMAC-256"},
        {"another aead", EncodeRecords({kProtocol, R(4, U16(16)), Cookie(1), kEnd}),
         "the server does not offer AES-SIV-CMAC-256"},
        {"no cookies", Answer({}), "the server sent no cookies"},
        {"unknown critical", Answer({Cookie(1), R(99, "x")}),
         "the server sent a critical record the program does not know (type 99)"},
        {"port of three bytes", Answer({Cookie(1), R(7, "\x01\x02\x03")}),
         "the answer is malformed: a Port record not of 2 bytes"},
        {"port zero", Answer({Cookie(1), R(7, U16(0))}),
         "the answer is malformed: the Port record names port 0"},
        {"empty server", Answer({Cookie(1), R(6, "")}),
         "the answer is malformed: an empty Server record"},
        {"server with a terminal escape", Answer({Cookie(1), R(6, "ntp\x1b[2J\"x\xff")}),
         "the answer is malformed: the Server record \"ntp\\x1b[2J\\\"x\\xff\" is not a host "
         "name or address"},
        {"server with a space", Answer({Cookie(1), R(6, "a b")}),
         "the answer is malformed: the Server record \"a b\" is not a host name or address"},
        {"empty cookie", Answer({Cookie(1), R(5, "", false)}),
         "the answer is malformed: an empty cookie"},
        {"huge cookie", Answer({R(5, big, false)}),
         "the answer is malformed: a cookie of 300 bytes, more than 256"},
        {"end with a body", EncodeRecords({kProtocol, kAead, Cookie(1), R(0, "xx")}),
         "the answer is malformed: an End of Message record with a body"},
        {"records after the end", Answer({Cookie(1)}) + EncodeRecords({Cookie(2)}),
         "the answer is malformed: records after End of Message"},
        {"half a record after the end", Answer({Cookie(1)}) + std::string(1, '\0'),
         "the answer is malformed: records after End of Message"},
        {"two next protocols", EncodeRecords({kProtocol, kProtocol, kAead, Cookie(1), kEnd}),
         "the answer is malformed: two Next Protocol records"},
        {"two ports", Answer({Cookie(1), R(7, U16(123)), R(7, U16(124))}),
         "the answer is malformed: two Port records"},
        {"odd aead",
         EncodeRecords({kProtocol, R(4, std::string("\x00\x0f\x00", 3)), Cookie(1), kEnd}),
         "the answer is malformed: an AEAD Algorithm record of odd length"},
        {"short error", EncodeRecords({R(2, "\x01"), kEnd}),
         "the answer is malformed: an Error record not of 2 bytes"},
        {"short warning", Answer({Cookie(1), R(3, "\x01\x02\x03")}),
         "the answer is malformed: a Warning record not of 2 bytes"},
        {"too large", std::string(kMaxKeResponseBytes + 1, '\0'),
         "the answer is larger than 65536 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const KeResult r = ParseKeResponse(c.bytes);
        EXPECT_EQ(r.state, KeResult::State::Failed);
        EXPECT_EQ(r.reason, c.reason);
        EXPECT_TRUE(r.response.cookies.empty());
    }
}

TEST(NtsKe, GoodAnswersGiveCookiesServerPortAndWarnings) {
    std::vector<Record> tenCookies;
    for (int i = 0; i < 10; ++i) tenCookies.push_back(Cookie(i));
    std::vector<std::string> firstEight;
    for (int i = 0; i < 8; ++i) firstEight.push_back("cookie-" + std::to_string(i));
    std::vector<Record> everything{
        R(3, U16(5)),    R(6, "ntp.example.net"),     Cookie(0),
        R(7, U16(1123)), R(0x4321, "ignored", false), R(3, U16(7), false)};

    // Warnings 0, 1, 2, 0, 1, 2, ... then 3 to 9 once each, then a cookie.
    std::vector<Record> thousandWarnings;
    for (int i = 0; i < 993; ++i) thousandWarnings.push_back(R(3, U16(i % 3)));
    for (int i = 3; i < 10; ++i) thousandWarnings.push_back(R(3, U16(i)));
    thousandWarnings.push_back(Cookie(0));
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::string> cookies;
        std::string server;
        std::optional<std::uint16_t> port;
        std::vector<std::string> warnings;
    };
    const std::vector<Case> cases{
        {"one cookie, nothing else", Answer({Cookie(3)}), {"cookie-3"}, "", std::nullopt, {}},
        {"cookies beyond eight dropped", Answer(tenCookies), firstEight, "", std::nullopt, {}},
        {"server, port, warnings, unknown non-critical",
         Answer(everything),
         {"cookie-0"},
         "ntp.example.net",
         1123,
         {"warning 5", "warning 7"}},
        {"a thousand warnings: each distinct one once, eight at most",
         Answer(thousandWarnings),
         {"cookie-0"},
         "",
         std::nullopt,
         {"warning 0", "warning 1", "warning 2", "warning 3", "warning 4", "warning 5", "warning 6",
          "warning 7"}},
        {"repeated warnings once each",
         Answer({R(3, U16(9)), Cookie(0), R(3, U16(9)), R(3, U16(2)), R(3, U16(9))}),
         {"cookie-0"},
         "",
         std::nullopt,
         {"warning 9", "warning 2"}},
        {"records in any order, critical cookie",
         EncodeRecords({R(5, "c", true), R(6, "192.0.2.1", false), kAead, kProtocol, kEnd}),
         {"c"},
         "192.0.2.1",
         std::nullopt,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const KeResult r = ParseKeResponse(c.bytes);
        ASSERT_EQ(r.state, KeResult::State::Done) << r.reason;
        EXPECT_EQ(r.response.cookies, c.cookies);
        EXPECT_EQ(r.response.ntpServer, c.server);
        EXPECT_EQ(r.response.ntpPort, c.port);
        EXPECT_EQ(r.response.warnings, c.warnings);
    }
}

TEST(NtsKe, AnswerInPiecesIsIncompleteUntilItsEnd) {
    // Every cut of the answer as received so far, at each byte.
    struct Case {
        const char* name;
        std::string bytes;
        std::size_t decidedAt;  // the shortest prefix that is no longer Incomplete
        KeResult::State state;
    };
    const std::string good = Answer({R(6, "ntp.example.net"), Cookie(1), Cookie(2)});
    const std::string refused = EncodeRecords({kProtocol, R(2, U16(1)), kEnd});
    const std::string noCookies = Answer({});
    const std::vector<Case> cases{
        {"good", good, good.size(), KeResult::State::Done},
        // The refusal counts once its record is whole, before the End of Message.
        {"refused", refused, refused.size() - 4, KeResult::State::Failed},
        {"no cookies", noCookies, noCookies.size(), KeResult::State::Failed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (std::size_t n = 0; n < c.decidedAt; ++n)
            EXPECT_EQ(ParseKeResponse(c.bytes.substr(0, n)).state, KeResult::State::Incomplete)
                << "after " << n << " bytes";
        const KeResult whole = ParseKeResponse(c.bytes.substr(0, c.decidedAt));
        EXPECT_EQ(whole.state, c.state);
        EXPECT_EQ(whole.state == KeResult::State::Failed, !whole.reason.empty());
    }
}

}  // namespace
}  // namespace tempikon::core::nts
