#include "core/public_stuff.h"

#include <charconv>
#include <optional>
#include <string_view>
#include <system_error>

#include "core/numbers.h"

namespace tempikon::core {

namespace {

constexpr const char* kDefaultOffset = "0";
constexpr const char* kDefaultTimeout = "3";
constexpr const char* kDefaultInterval = "30";

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

float ReadSingle(platform::SettingsStore& store, const char* key, float fallback) {
    const auto clean = CleanStoredNumber(store.readText(kAppName, kSection, key, kDefaultOffset));
    if (!clean) return fallback;
    float value = 0.0f;
    const auto res = std::from_chars(clean->data(), clean->data() + clean->size(), value,
                                     std::chars_format::fixed);
    if (res.ec != std::errc() || res.ptr != clean->data() + clean->size()) return fallback;
    return value;
}

std::int32_t ReadInt32(platform::SettingsStore& store, const char* key, const char* defaultText,
                       std::int32_t fallback) {
    const auto clean = CleanStoredNumber(store.readText(kAppName, kSection, key, defaultText));
    if (!clean) return fallback;
    double value = 0.0;
    const auto res = std::from_chars(clean->data(), clean->data() + clean->size(), value,
                                     std::chars_format::fixed);
    if (res.ec != std::errc() || res.ptr != clean->data() + clean->size()) return fallback;
    return RoundToInt32(value).value_or(fallback);
}

std::string StoredSingle(float value, char separator) {
    std::string text = NumberText(value);
    for (char& c : text) {
        if (c == '.') c = separator;
    }
    return text;
}

}  // namespace

void LoadConfig(platform::SettingsStore& store, ConfigRecord& config) {
    config.Server = store.readText(kAppName, kSection, "Server", "");
    config.Server2 = store.readText(kAppName, kSection, "Server2", "");
    config.Offset = ReadSingle(store, "Offset", 0.0f);
    config.Offset2 = ReadSingle(store, "Offset2", 0.0f);
    config.Timeout = ReadInt32(store, "Timeout", kDefaultTimeout, 3);
    config.Interval = ReadInt32(store, "Interval", kDefaultInterval, 30);
}

platform::StoreResult SaveConfig(platform::SettingsStore& store, const ConfigRecord& config) {
    const char separator = store.decimalSeparator() == ',' ? ',' : '.';
    store.writeText(kAppName, kSection, "Server", config.Server);
    store.writeText(kAppName, kSection, "Server2", config.Server2);
    store.writeText(kAppName, kSection, "Offset", StoredSingle(config.Offset, separator));
    store.writeText(kAppName, kSection, "Offset2", StoredSingle(config.Offset2, separator));
    store.writeText(kAppName, kSection, "Timeout", NumberText(config.Timeout));
    store.writeText(kAppName, kSection, "Interval", NumberText(config.Interval));
    return store.commit();
}

}  // namespace tempikon::core
