// Stored settings texts, as a hand-edited or damaged store may hold them:
// loading them, what the program then derives from the values, and saving
// and loading them again.
//
// Input: one byte whose bits 0-5 say which of the six keys exist, bit 6
// whether the locale's decimal separator is a comma and bit 7 whether the
// rest is a whole settings file; then either that file, or the texts of the
// keys in store order, separated by line feeds. Either way the texts go
// through the settings file and must come back unchanged.
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/config.h"
#include "core/numbers.h"
#include "core/plan.h"
#include "core/query/server_query.h"
#include "core/set_clock.h"
#include "fuzz/fuzz_check.h"
#include "platform/ini/ini_text.h"

namespace {

using namespace tempikon;
using fuzz::IsBlankByte;
using fuzz::IsDigitByte;

const char* const kKeys[6] = {"Server", "Server2", "Offset", "Offset2", "Timeout", "Interval"};

class MapStore : public platform::SettingsStore {
public:
    std::string readText(const std::string& app, const std::string& section, const std::string& key,
                         const std::string& defaultValue) override {
        FUZZ_CHECK(app == "Tempikon" && section == "CONFIG");
        const auto it = values.find(key);
        return it == values.end() ? defaultValue : it->second;
    }
    std::map<std::string, std::string> readSection(const std::string& app,
                                                   const std::string& section) override {
        FUZZ_CHECK(app == "Tempikon" && section == "CONFIG");
        return values;
    }
    void writeText(const std::string& app, const std::string& section, const std::string& key,
                   const std::string& value) override {
        FUZZ_CHECK(app == "Tempikon" && section == "CONFIG");
        written.push_back(key);
        values[key] = value;
    }
    platform::StoreResult commit() override {
        ++commits;
        return {};
    }
    char decimalSeparator() const override { return separator; }
    std::string locationOf(const std::string& app) const override { return app; }
    std::optional<std::string> unreadableReason(const std::string&) const override {
        return std::nullopt;
    }

    std::map<std::string, std::string> values;
    std::vector<std::string> written;
    int commits = 0;
    char separator = '.';
};

// A stored number by another route: blanks around, a sign, digits with at
// most one '.' or ',' as the separator; the value by strtod. nullopt when
// the text is no such number.
std::optional<double> StoredNumber(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && IsBlankByte(text[b])) ++b;
    while (e > b && IsBlankByte(text[e - 1])) --e;
    std::string plain;
    std::size_t i = b;
    if (i < e && (text[i] == '+' || text[i] == '-')) plain += text[i++];
    bool digit = false, separator = false;
    for (; i < e; ++i) {
        if (IsDigitByte(text[i])) {
            digit = true;
            plain += text[i];
        } else if ((text[i] == '.' || text[i] == ',') && !separator) {
            separator = true;
            plain += '.';
        } else {
            return std::nullopt;
        }
    }
    if (!digit) return std::nullopt;
    return std::strtod(plain.c_str(), nullptr);
}

bool SameRecord(const core::Config& a, const core::Config& b) {
    return a.primary().host == b.primary().host && a.backup().host == b.backup().host &&
           a.primary().offsetHours == b.primary().offsetHours &&
           a.backup().offsetHours == b.backup().offsetHours && a.timeout == b.timeout &&
           a.interval == b.interval;
}

void CheckOffset(const std::optional<std::string>& stored, float offset) {
    FUZZ_CHECK(std::isfinite(offset));
    const std::optional<double> number = StoredNumber(stored.value_or("0"));
    if (!number) {
        FUZZ_CHECK(offset == 0.0f);
        return;
    }
    // The nearest float; numbers beyond the float range, or too small for a
    // normal float, may give the default instead.
    const double error = std::fabs(double(offset) - *number);
    const bool inRange = std::fabs(*number) <= FLT_MAX && std::fabs(*number) >= FLT_MIN;
    FUZZ_CHECK(error <= std::fabs(*number) * 1.2e-7 || (!inRange && offset == 0.0f) ||
               (std::fabs(*number) < FLT_MIN && error <= FLT_MIN));
}

void CheckWhole(const std::optional<std::string>& stored, std::int32_t value,
                std::int32_t fallback) {
    const std::optional<double> number = StoredNumber(stored.value_or(std::to_string(fallback)));
    if (!number) {
        FUZZ_CHECK(value == fallback);
        return;
    }
    const std::optional<std::int32_t> rounded = core::RoundToInt32(*number);
    // Halfway cases of a double that strtod rounded differently from the
    // program's own reading are not this check's business.
    if (rounded) {
        FUZZ_CHECK(std::fabs(double(value) - *number) <= 0.5000001);
    } else {
        FUZZ_CHECK(value == fallback || std::fabs(*number) >= 2147483647.0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t flags = data[0];
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::optional<std::string> stored[6];
    MapStore store;
    store.separator = (flags & 0x40) ? ',' : '.';
    const bool wholeFile = (flags & 0x80) != 0;
    for (int k = 0; k < 6; ++k) {
        if (wholeFile) {
            // Never anything but text, however deep a "@Variant(...)" nests.
            stored[k] = ini::ReadText(rest, "CONFIG", kKeys[k]);
        } else {
            const std::size_t end = rest.find('\n');
            const std::string_view text = rest.substr(0, end);
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
            if (flags & (1u << k)) stored[k] = std::string(text);
        }
        if (stored[k]) store.values[kKeys[k]] = *stored[k];
    }
    // Into the file (a fresh one, or the fuzzed one) and back, unchanged.
    std::vector<ini::Value> texts;
    for (int k = 0; k < 6; ++k) {
        if (stored[k]) texts.push_back({"CONFIG", kKeys[k], *stored[k]});
    }
    const std::string file = ini::WriteTexts(wholeFile ? rest : std::string_view(), texts);
    for (int k = 0; k < 6; ++k) {
        if (stored[k]) FUZZ_CHECK(ini::ReadText(file, "CONFIG", kKeys[k]) == stored[k]);
    }

    core::Config config;
    config = core::LoadConfig(store);
    // Host names exactly as stored.
    FUZZ_CHECK(config.primary().host == stored[0].value_or(""));
    FUZZ_CHECK(config.backup().host == stored[1].value_or(""));
    CheckOffset(stored[2], config.primary().offsetHours);
    CheckOffset(stored[3], config.backup().offsetHours);
    CheckWhole(stored[4], config.timeout, 3);
    CheckWhole(stored[5], config.interval, 30);

    // What the program derives from the values stays in range.
    const int timeoutMs = core::TimeoutMilliseconds(config.timeout);
    FUZZ_CHECK(timeoutMs >= 1000 && timeoutMs <= 2'147'483'000);
    for (const float offset : {config.primary().offsetHours, config.backup().offsetHours}) {
        const long long minutes = core::OffsetMinutes(offset);
        FUZZ_CHECK(minutes >= -1'000'000'000'000LL && minutes <= 1'000'000'000'000LL);
        FUZZ_CHECK(std::llabs(minutes) <= std::llround(std::fabs(double(offset)) * 60.0) + 1 ||
                   std::fabs(double(offset)) * 60.0 > 1e12);
        // The dialog shows it without trouble.
        FUZZ_CHECK(!core::NumberText(offset).empty());
    }

    // Saved and loaded again: every key in order, one commit; the texts
    // are stable from the first save on.
    MapStore second;
    second.separator = store.separator;
    FUZZ_CHECK(core::SaveConfig(second, config).ok);
    std::vector<std::string> order(std::begin(kKeys), std::end(kKeys));
    order.insert(order.end(), {"Zone", "Zone2", "Protocol", "Protocol2", "Step",
                               "TrustedCertificates", "TrustedCertificates2", "MaxChange"});
    FUZZ_CHECK(second.written == order);
    FUZZ_CHECK(second.commits == 1);
    core::Config again;
    again = core::LoadConfig(second);
    FUZZ_CHECK(again.primary().host == config.primary().host &&
               again.backup().host == config.backup().host);
    FUZZ_CHECK(again.timeout == config.timeout && again.interval == config.interval);
    FUZZ_CHECK(core::NumberText(again.primary().offsetHours) ==
               core::NumberText(config.primary().offsetHours));
    FUZZ_CHECK(core::NumberText(again.backup().offsetHours) ==
               core::NumberText(config.backup().offsetHours));
    MapStore third;
    third.separator = store.separator;
    core::SaveConfig(third, again);
    FUZZ_CHECK(third.values == second.values);
    core::Config once_more;
    once_more = core::LoadConfig(third);
    FUZZ_CHECK(SameRecord(once_more, again));
    return 0;
}
