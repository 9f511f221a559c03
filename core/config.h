#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/settings_store.h"

namespace tempikon::core {

inline constexpr const char* kSection = "CONFIG";

enum class Protocol { Daytime, Ntp, Nts };

// The protocol a stored value names: case and blanks around do not matter,
// empty means Daytime; nullopt for anything else.
std::optional<Protocol> ParseProtocol(std::string_view stored);
// The name the settings and the dialog use: "Daytime", "NTP", "NTS".
const char* ProtocolName(Protocol protocol);
// Why a stored protocol cannot be used, for "<server>: <reason>"; empty
// when it can. (Whether the system offers NTS, the query says.)
std::string ProtocolProblem(std::string_view stored);

// A server's zone setting names UTC (blanks around and case ignored); any
// other text, empty included, means the offset alone says the local time.
bool IsUtcZone(std::string_view zone);

// A protocol setting, parsed once: what it names, and the text as stored,
// kept so that a value naming none (or spelt otherwise) is written back as
// it was and reported, never replaced.
class ProtocolSetting {
public:
    ProtocolSetting() = default;  // empty: Daytime
    explicit ProtocolSetting(std::string stored)
        : text_(std::move(stored)), kind_(ParseProtocol(text_)) {}
    explicit ProtocolSetting(Protocol protocol) : text_(ProtocolName(protocol)), kind_(protocol) {}
    const std::string& text() const { return text_; }
    // nullopt: the text names no protocol.
    std::optional<Protocol> kind() const { return kind_; }
    bool operator==(const ProtocolSetting&) const = default;

private:
    std::string text_;
    std::optional<Protocol> kind_ = Protocol::Daytime;
};

// One server to ask and how to read its answer.
struct ServerSpec {
    std::string host;  // empty: not configured (the backup: none)
    ProtocolSetting protocol;
    float offsetHours = 0.0f;  // added to its time
    // Its time of day is UTC and the zone's rules give the local time; else
    // the offset alone does (Daytime).
    bool utc = false;
    // NTS: a PEM file of certificates trusted for it besides the system's
    // (a private server's own); empty: the system's alone.
    std::string trustFile{};
    // The zone as stored ("UTC", blanks and case aside), written back while
    // it says what utc says.
    std::string zoneText{};

    // The zone as the settings hold it, and setting both from such a text.
    std::string zone() const;
    void setZone(std::string stored);

    bool operator==(const ServerSpec&) const = default;
};

inline constexpr int kPrimary = 0;
inline constexpr int kBackup = 1;

// The configuration: what the program stores under one section of its
// settings. A plain value; whoever holds the one in force says so.
struct Config {
    // The primary, asked first; the backup, asked when the primary gave no
    // answer.
    std::array<ServerSpec, 2> servers{};
    std::int32_t timeout = 3;    // seconds
    std::int32_t interval = 30;  // minutes
    // "auto" (also when empty): small corrections are slewed; "always":
    // every setting steps the clock.
    std::string step{};
    // Seconds an NTP or NTS server alone may move the clock (ntpd's panic
    // threshold); a larger change needs the other server to agree. 0: no
    // limit.
    std::int32_t maxChange = 1000;

    ServerSpec& primary() { return servers[kPrimary]; }
    const ServerSpec& primary() const { return servers[kPrimary]; }
    ServerSpec& backup() { return servers[kBackup]; }
    const ServerSpec& backup() const { return servers[kBackup]; }

    bool operator==(const Config&) const = default;
};

// Reads every key; a key that is missing, or whose text is no number where
// a number belongs, gives its default (the value in a new Config).
Config LoadConfig(platform::SettingsStore& store);
// Writes every key and commits them in one atomic step.
platform::StoreResult SaveConfig(platform::SettingsStore& store, const Config& config);

}  // namespace tempikon::core
