#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// NTS key establishment (RFC 8915, section 4): the records a client sends
// and reads over TLS. Bytes in, verdicts out; no sockets, no TLS.
namespace tempikon::core::nts {

inline constexpr std::uint16_t kKePort = 4460;
inline constexpr char kAlpn[] = "ntske/1";
inline constexpr char kExporterLabel[] = "EXPORTER-network-time-security";
inline constexpr std::uint16_t kNextProtocolNtpV4 = 0;
inline constexpr std::uint16_t kAeadAesSivCmac256 = 15;
inline constexpr std::size_t kKeyBytes = 32;
// A client keeps at most this many cookies.
inline constexpr std::size_t kMaxCookies = 8;
// A longer cookie is refused: eight of them must fit one datagram.
inline constexpr std::size_t kMaxCookieBytes = 256;
// Distinct warnings kept from one answer; the rest are dropped.
inline constexpr std::size_t kMaxWarnings = 8;
// A key-establishment answer larger than this is refused unread.
inline constexpr std::size_t kMaxKeResponseBytes = 64 * 1024;

enum class RecordType : std::uint16_t {
    EndOfMessage = 0,
    NextProtocol = 1,
    Error = 2,
    Warning = 3,
    AeadAlgorithm = 4,
    NewCookie = 5,
    Server = 6,
    Port = 7,
};

struct Record {
    bool critical = false;
    std::uint16_t type = 0;
    std::string body;
};

// Records as bytes (the critical bit is the type's top bit).
std::string EncodeRecords(const std::vector<Record>& records);

// The client's request: Next Protocol NTPv4 (critical), AEAD algorithm
// AEAD_AES_SIV_CMAC_256, End of Message (critical).
std::string BuildKeRequest();

// The exporter context of the client-to-server key (serverToClient false)
// or the server-to-client key: protocol NTPv4, AEAD 15, direction.
std::string ExporterContext(bool serverToClient);

struct KeResponse {
    std::vector<std::string> cookies;      // at most kMaxCookies, in order
    std::string ntpServer;                 // empty: the key-establishment host
    std::optional<std::uint16_t> ntpPort;  // unset: 123
    // Warning records, as a user reads them ("warning 3"): each distinct
    // one once, at most kMaxWarnings, so that a server cannot flood the output.
    std::vector<std::string> warnings;
};

struct KeResult {
    enum class State { Incomplete, Done, Failed };
    State state = State::Incomplete;
    KeResponse response;  // Done
    // Failed: what a user reads, e.g. "the server refused: error 1 (bad
    // request)", "the server sent no cookies", "the server does not offer
    // NTPv4", "the server does not offer AES-SIV-CMAC-256", "the answer is
    // malformed: ...". Text from the server is escaped.
    std::string reason;
};

// Reads the server's answer received so far: Incomplete until End of
// Message (or more than kMaxKeResponseBytes: Failed).
KeResult ParseKeResponse(std::string_view bytes);

}  // namespace tempikon::core::nts
