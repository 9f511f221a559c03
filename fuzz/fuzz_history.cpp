// The history file as read back (anyone may have written it), and records
// with any server name and reason: every record read writes back as a line
// that reads as the same record, texts stay in their field, the bound
// holds, and the plot and the drift stay within their frame and finite.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/history.h"
#include "core/history_plot.h"
#include "fuzz/fuzz_check.h"

namespace {

using namespace tempikon;

void CheckRecordsRoundTrip(const core::ParsedHistory& parsed) {
    for (std::size_t i = 1; i < parsed.records.size(); ++i)
        FUZZ_CHECK(parsed.records[i - 1].atMicros <= parsed.records[i].atMicros);
    for (const core::HistoryRecord& r : parsed.records) {
        const std::string line = core::FormatHistoryLine(r);
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
        const auto back = core::ParseHistoryLine(line);
        FUZZ_CHECK(back.has_value());
        // Texts read from a file may hold what a line of ours never does
        // (control characters, more than fits): written again they are
        // cleaned once, and from then on stay as they are.
        const std::string again = core::FormatHistoryLine(*back);
        FUZZ_CHECK(core::ParseHistoryLine(again) == back);
        FUZZ_CHECK(back->atMicros == r.atMicros && back->offsetMicros == r.offsetMicros &&
                   back->roundTripMicros == r.roundTripMicros && back->set == r.set &&
                   back->correction == r.correction);
    }
}

void CheckTextsStayInTheirField(std::string_view data) {
    // Server and reason from the input, split at its first zero byte.
    const std::size_t cut = std::min(data.find('\0'), data.size());
    core::HistoryRecord r;
    r.atMicros = 1'765'152'000'000'000;
    r.server = std::string(data.substr(0, cut));
    r.reason = std::string(data.substr(std::min(cut + 1, data.size())));
    r.protocol = "NTP";
    const std::string line = core::FormatHistoryLine(r);
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
    const auto back = core::ParseHistoryLine(line);
    FUZZ_CHECK(back.has_value());
    FUZZ_CHECK(back->atMicros == r.atMicros && back->protocol == "NTP" && !back->set);
    FUZZ_CHECK(back->server.size() <= r.server.size() + 1);
    // Within the length kept, a text without control characters comes back whole.
    const bool plain = std::none_of(r.server.begin(), r.server.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    });
    if (plain && r.server.size() <= 200) FUZZ_CHECK(back->server == r.server);
}

void CheckPlot(const core::ParsedHistory& parsed) {
    if (parsed.records.empty()) return;
    const std::int64_t now = parsed.records.back().atMicros;
    for (const core::HistoryRange range :
         {core::HistoryRange::Day, core::HistoryRange::Everything}) {
        const core::PlotScale scale = core::ComputeScale(parsed.records, range, now, 3600);
        FUZZ_CHECK(std::isfinite(scale.lowMs) && std::isfinite(scale.highMs));
        FUZZ_CHECK(scale.lowMs <= 0 && scale.highMs >= 0 && scale.lowMs < scale.highMs);
        FUZZ_CHECK(scale.timeTicks.size() <= 64);
        const core::PlotFrame frame = core::FrameFor(scale, 584, 300);
        const platform::Drawing d = core::DrawHistory(parsed.records, frame, 0);
        for (const auto& m : d.marks) {
            FUZZ_CHECK(m.x >= 0 && m.x <= 584);
            FUZZ_CHECK(m.y >= 0 && m.y <= 300);
        }
    }
    if (const auto drift = core::ComputeDrift(parsed.records)) {
        FUZZ_CHECK(std::isfinite(drift->secondsPerDay) && std::isfinite(drift->ppm));
        FUZZ_CHECK(!core::DriftSentence(*drift).empty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const core::ParsedHistory parsed = core::ParseHistory(text);
    CheckRecordsRoundTrip(parsed);
    CheckTextsStayInTheirField(text);
    CheckPlot(parsed);
    if (const auto bounded = core::BoundedHistory(text)) {
        const auto lines = std::count(bounded->begin(), bounded->end(), '\n');
        FUZZ_CHECK(static_cast<std::size_t>(lines) <= core::kHistoryKeep + 1);
    }
    return 0;
}
