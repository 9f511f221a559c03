#include "core/config.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <optional>
#include <string_view>
#include <system_error>
#include <variant>

#include "core/numbers.h"
#include "core/text.h"
#include "tempikon_version.h"

namespace tempikon::core {

namespace {

// The stored keys in the order they are written, each with its field; the
// defaults are the field initialisers of Config. A server's keys end in
// its place: Server, Server2.
struct Zone {
    ServerSpec* server;
};
using Field = std::variant<std::string*, float*, std::int32_t*, ProtocolSetting*, Zone>;
struct Key {
    const char* name;
    Field (*field)(Config&);
};
// A field of the server in place I: the primary or the backup.
template <int I, auto Member>
Field Of(Config& c) {
    return &(c.servers[I].*Member);
}
template <int I>
Field ZoneOf(Config& c) {
    return Zone{&c.servers[I]};
}
constexpr Key kKeys[] = {
    {"Server", Of<kPrimary, &ServerSpec::host>},
    {"Server2", Of<kBackup, &ServerSpec::host>},
    {"Offset", Of<kPrimary, &ServerSpec::offsetHours>},
    {"Offset2", Of<kBackup, &ServerSpec::offsetHours>},
    {"Timeout", [](Config& c) -> Field { return &c.timeout; }},
    {"Interval", [](Config& c) -> Field { return &c.interval; }},
    {"Zone", ZoneOf<kPrimary>},
    {"Zone2", ZoneOf<kBackup>},
    {"Protocol", Of<kPrimary, &ServerSpec::protocol>},
    {"Protocol2", Of<kBackup, &ServerSpec::protocol>},
    {"Step", [](Config& c) -> Field { return &c.step; }},
    {"TrustedCertificates", Of<kPrimary, &ServerSpec::trustFile>},
    {"TrustedCertificates2", Of<kBackup, &ServerSpec::trustFile>},
    {"MaxChange", [](Config& c) -> Field { return &c.maxChange; }},
};

// A stored number in plain form: blanks around, optional sign, digits with at
// most one decimal separator. Both '.' and ',' are taken as the separator, so
// a value written under another locale keeps its meaning ("5,5" is never 55).
// Returns the text rewritten for from_chars, or nullopt when it is no number.
std::optional<std::string> CleanStoredNumber(std::string_view stored) {
    const std::string text = Trim(stored);
    std::string clean;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') clean += '-';
        ++i;
    }
    bool digits = false;
    bool separator = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            clean += c;
            digits = true;
        } else if ((c == '.' || c == ',') && !separator) {
            if (!digits) clean += '0';
            clean += '.';
            separator = true;
        } else {
            return std::nullopt;
        }
    }
    if (!digits) return std::nullopt;
    if (clean.back() == '.') clean += '0';
    return clean;
}

std::optional<double> StoredNumber(std::string_view stored) {
    const auto clean = CleanStoredNumber(stored);
    if (!clean) return std::nullopt;
    double value = 0.0;
    const auto res = std::from_chars(clean->data(), clean->data() + clean->size(), value,
                                     std::chars_format::fixed);
    if (res.ec != std::errc() || res.ptr != clean->data() + clean->size()) return std::nullopt;
    return value;
}

// A field takes its stored text's meaning; text that means nothing leaves
// the field at its default.
void Convert(const std::string& stored, std::string* field) {
    *field = stored;
}
void Convert(const std::string& stored, ProtocolSetting* field) {
    *field = ProtocolSetting(stored);
}
void Convert(const std::string& stored, Zone zone) {
    zone.server->setZone(stored);
}
void Convert(const std::string& stored, float* field) {
    // Read as a float directly: a double rounded to float could differ in
    // its last bit from what was typed.
    const auto clean = CleanStoredNumber(stored);
    if (!clean) return;
    float value = 0.0f;
    const auto res = std::from_chars(clean->data(), clean->data() + clean->size(), value,
                                     std::chars_format::fixed);
    if (res.ec == std::errc() && res.ptr == clean->data() + clean->size()) *field = value;
}
void Convert(const std::string& stored, std::int32_t* field) {
    if (const auto value = StoredNumber(stored)) *field = RoundToInt32(*value).value_or(*field);
}

std::string StoredText(const std::string* value, char) {
    return *value;
}
std::string StoredText(const ProtocolSetting* value, char) {
    return value->text();
}
std::string StoredText(Zone zone, char) {
    return zone.server->zone();
}
std::string StoredText(const float* value, char separator) {
    std::string text = NumberText(*value);
    for (char& c : text) {
        if (c == '.') c = separator;
    }
    return text;
}
std::string StoredText(const std::int32_t* value, char) {
    return NumberText(*value);
}

bool SameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::optional<Protocol> ParseProtocol(std::string_view stored) {
    std::string name = Trim(stored);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (name.empty() || name == "DAYTIME") return Protocol::Daytime;
    if (name == "NTP") return Protocol::Ntp;
    if (name == "NTS") return Protocol::Nts;
    return std::nullopt;
}

const char* ProtocolName(Protocol protocol) {
    switch (protocol) {
        case Protocol::Ntp:
            return "NTP";
        case Protocol::Nts:
            return "NTS";
        case Protocol::Daytime:
            break;
    }
    return "Daytime";
}

std::string ProtocolProblem(std::string_view stored) {
    const std::optional<Protocol> protocol = ParseProtocol(stored);
    if (!protocol)
        return "the settings name an unknown protocol " + QuoteReply(stored) +
               " (Daytime, NTP or NTS)";
    return {};
}

bool IsUtcZone(std::string_view zone) {
    const std::string z = Trim(zone);
    return z.size() == 3 && (z[0] == 'U' || z[0] == 'u') && (z[1] == 'T' || z[1] == 't') &&
           (z[2] == 'C' || z[2] == 'c');
}

std::string ServerSpec::zone() const {
    if (IsUtcZone(zoneText) == utc) return zoneText;
    return utc ? "UTC" : "";
}

void ServerSpec::setZone(std::string stored) {
    utc = IsUtcZone(stored);
    zoneText = std::move(stored);
}

Config LoadConfig(platform::SettingsStore& store) {
    const std::map<std::string, std::string> stored =
        store.readSection(version::kProductName, kSection);
    Config config;
    for (const Key& key : kKeys) {
        auto it = stored.find(key.name);
        // Registry value names ignore case; a value typed by hand as
        // "server" has always been read.
        if (it == stored.end())
            it = std::find_if(stored.begin(), stored.end(), [&](const auto& entry) {
                return SameLetters(entry.first, key.name);
            });
        if (it == stored.end()) continue;
        std::visit([&](auto field) { Convert(it->second, field); }, key.field(config));
    }
    return config;
}

platform::StoreResult SaveConfig(platform::SettingsStore& store, const Config& config) {
    const char separator = store.decimalSeparator() == ',' ? ',' : '.';
    Config copy = config;
    for (const Key& key : kKeys) {
        std::visit(
            [&](auto field) {
                store.writeText(version::kProductName, kSection, key.name,
                                StoredText(field, separator));
            },
            key.field(copy));
    }
    return store.commit();
}

}  // namespace tempikon::core
