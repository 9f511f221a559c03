// A server's reply: cutting the time of day out of it, the validity test of
// that text, and the reply shown as text.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/query/daytime_exchange.h"
#include "core/set_clock.h"
#include "core/text.h"
#include "fuzz/fuzz_check.h"
#include "settings_dialog/field_rules.h"

namespace {

using namespace tempikon;
using fuzz::IsBlankByte;
using fuzz::IsDigitByte;

// The validity rule written another way: the trimmed text split at colons
// into two or three fields of one or two digits, within 23, 59 and 59.
std::optional<int> ReferenceSeconds(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && IsBlankByte(text[b])) ++b;
    while (e > b && IsBlankByte(text[e - 1])) --e;
    std::vector<std::string_view> fields;
    std::size_t start = b;
    for (std::size_t i = b; i <= e; ++i) {
        if (i == e || text[i] == ':') {
            fields.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    if (fields.size() != 2 && fields.size() != 3) return std::nullopt;
    int values[3] = {0, 0, 0};
    const int limits[3] = {23, 59, 59};
    for (std::size_t k = 0; k < fields.size(); ++k) {
        const std::string_view f = fields[k];
        if (f.empty() || f.size() > 2) return std::nullopt;
        for (char c : f)
            if (!IsDigitByte(c)) return std::nullopt;
        values[k] = f.size() == 1 ? f[0] - '0' : (f[0] - '0') * 10 + (f[1] - '0');
        if (values[k] > limits[k]) return std::nullopt;
    }
    return values[0] * 3600 + values[1] * 60 + values[2];
}

void CheckValidity(std::string_view text) {
    const std::optional<int> seconds = core::ParseTimeOfDay(text);
    FUZZ_CHECK(seconds == ReferenceSeconds(text));
    if (!seconds) return;
    FUZZ_CHECK(*seconds >= 0 && *seconds < 86'400);
    // What the status line shows reads back as the same time.
    const std::string shown = core::FormatTimeOfDay(*seconds);
    FUZZ_CHECK(shown.size() == 8);
    FUZZ_CHECK(core::ParseTimeOfDay(shown) == seconds);
}

// The offset estimated when a listed server is adopted: whole half hours;
// for a valid time of day the nearest half hour to local minus server
// (rounded by the FPU's default, halves to even), within +-24.
void CheckEstimate(std::string_view timeText) {
    const std::optional<int> seconds = core::ParseTimeOfDay(timeText);
    for (const int local : {0, 12 * 60 + 34, 23 * 60 + 59}) {
        const float offset = settings_dialog::EstimateOffset(local / 60, local % 60, timeText);
        FUZZ_CHECK(std::isfinite(offset));
        FUZZ_CHECK(std::floor(offset * 2.0f) == offset * 2.0f);
        if (!seconds) continue;
        const int server = *seconds / 60;
        FUZZ_CHECK(offset == static_cast<float>(std::nearbyint((local - server) / 30.0) / 2.0));
        FUZZ_CHECK(offset >= -24.0f && offset <= 24.0f);
    }
}

void CheckCut(std::string_view reply) {
    const std::string cut = core::CutTimeText(reply);
    std::size_t colon = std::string_view::npos;
    for (std::size_t i = 0; i < reply.size(); ++i) {
        if (reply[i] == ':') {
            colon = i;
            break;
        }
    }
    if (colon == std::string_view::npos || colon < 2) {
        FUZZ_CHECK(cut.empty());
        return;
    }
    // Two characters before the first colon, then up to six more.
    FUZZ_CHECK(cut.size() == std::min<std::size_t>(8, reply.size() - (colon - 2)));
    FUZZ_CHECK(cut[2] == ':');
    FUZZ_CHECK(cut[0] != ':' && cut[1] != ':');
    FUZZ_CHECK(reply.substr(colon - 2, cut.size()) == cut);
    CheckValidity(cut);
    CheckEstimate(cut);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    CheckCut(reply);
    // The validity test on any text, not only on cut ones.
    if (size <= 64) CheckValidity(reply);

    // The reply as shown in a control: UTF-8 with one character per byte.
    const std::string shown = core::Latin1ToUtf8(reply);
    FUZZ_CHECK(fuzz::IsValidUtf8(shown));
    FUZZ_CHECK(shown.size() >= size && shown.size() <= 2 * size);
    std::size_t characters = 0;
    for (char c : shown)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
    FUZZ_CHECK(characters == size);
    return 0;
}
