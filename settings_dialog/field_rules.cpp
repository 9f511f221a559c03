#include "settings_dialog/field_rules.h"

#include <cmath>

#include "core/numbers.h"
#include "settings_dialog/server_list.h"

namespace tempikon::settings_dialog {

namespace {

double FieldNumber(std::string_view text) {
    return core::LeadingNumber(core::Trim(text));
}

// A time-out or interval: above 0 before and after rounding, within 32 bits.
std::optional<std::int32_t> PositiveWholeNumber(std::string_view text) {
    const double value = FieldNumber(text);
    if (!(value > 0.0)) return std::nullopt;
    const std::optional<std::int32_t> rounded = core::RoundToInt32(value);
    if (!rounded || *rounded <= 0) return std::nullopt;
    return rounded;
}

std::optional<float> Offset(std::string_view text) {
    const double value = FieldNumber(text);
    if (value < -kOffsetLimit || value > kOffsetLimit) return std::nullopt;
    return core::ToSingle(value);
}

std::string TwoCharacters(std::string_view text, std::size_t from) {
    if (from >= text.size()) return {};
    return std::string(text.substr(from, 2));
}

}  // namespace

std::string NoAnswerWarning(const std::string& host) {
    return "WARNING: The selected server '" + host +
           "' didn't answer within the selected timeout. Do you want to use this server anyway?";
}

std::optional<std::int32_t> TimeoutFromField(std::string_view text) {
    return PositiveWholeNumber(text);
}

std::optional<core::Config> ValidatedConfig(const FieldTexts& fields, const core::Config& kept) {
    const std::string server = core::Trim(fields.server);
    const auto timeout = PositiveWholeNumber(fields.timeout);
    const auto interval = PositiveWholeNumber(fields.interval);
    const auto offset = Offset(fields.offset);
    const auto offset2 = Offset(fields.offset2);
    if (server.empty() || !timeout || !interval || !offset || !offset2) return std::nullopt;

    core::Config config = kept;
    config.primary().host = server;
    config.backup().host = core::Trim(fields.server2);
    config.primary().offsetHours = *offset;
    config.backup().offsetHours = *offset2;
    config.timeout = *timeout;
    config.interval = *interval;
    config.primary().setZone(fields.utc ? kUtcZone : "");
    config.backup().setZone(fields.utc2 ? kUtcZone : "");
    config.primary().protocol = core::ProtocolSetting(fields.protocol);
    config.backup().protocol = core::ProtocolSetting(fields.protocol2);
    config.primary().trustFile = core::Trim(fields.trust);
    config.backup().trustFile = core::Trim(fields.trust2);
    return config;
}

float EstimateOffset(int localHour, int localMinute, std::string_view timeText) {
    const double local = localHour * 60.0 + localMinute;
    const double hours = core::LeadingNumber(TwoCharacters(timeText, 0));
    const double minutes = core::LeadingNumber(TwoCharacters(timeText, 3));
    const double server = hours * 60.0 + minutes;
    const double halfHours = (local - server) / 60.0 * 2.0;
    return static_cast<float>(core::RoundHalfEven(halfHours) / 2.0);
}

Adoption ChooseAdoption(std::string_view reply, std::string_view timeText, bool listedUtc,
                        int localHour, int localMinute, int utcOffsetSeconds) {
    if (timeText.empty()) return {0.0f, listedUtc};
    const float estimate = EstimateOffset(localHour, localMinute, timeText);
    // Within a quarter hour: the estimate is the offset to the half hour,
    // which also lets zones such as UTC+5:45 take UTC.
    const double apart = std::abs(estimate * 3600.0 - utcOffsetSeconds);
    if ((listedUtc || NamesUtc(reply)) && apart <= 15 * 60) return {0.0f, true};
    return {estimate, false};
}

std::string FileUrl(const std::string& absolutePath) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string path = absolutePath;
    std::string url = "file://";
    // A drive path (C:\x) becomes file:///C:/x.
    if (path.size() >= 2 && path[1] == ':') {
        url += '/';
        for (char& c : path)
            if (c == '\\') c = '/';
    }
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                           c == '/' || c == ':';
        if (plain) {
            url += ch;
        } else {
            url += '%';
            url += kHex[c >> 4];
            url += kHex[c & 0x0F];
        }
    }
    return url;
}

std::string HelpAddress(platform::Platform& platform) {
    for (const std::string& dir : platform.dataDirectories()) {
        const std::string path = JoinPath(dir, kHelpFile);
        // Only an absolute path makes a usable file:// address.
        const bool absolute =
            (!path.empty() && path.front() == '/') ||
            (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/'));
        if (absolute && platform.readFile(path)) return FileUrl(path);
    }
    return kHelpWebAddress;
}

}  // namespace tempikon::settings_dialog
