#include "core/history_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unordered_set>

#include "platform/clock.h"
#include "platform/translate.h"

namespace tempikon::core {

namespace {

constexpr std::int64_t kMicros = platform::kMicrosPerSecond;
constexpr std::int64_t kHour = 3600 * kMicros;
constexpr std::int64_t kDay = 24 * kHour;

// Colours, 0x00BBGGRR.
constexpr platform::Colour kInk = 0x00202020;
constexpr platform::Colour kGrid = 0x00E4E4E4;
constexpr platform::Colour kZero = 0x00808080;
constexpr platform::Colour kTrace = 0x00C08040;
constexpr platform::Colour kStep = 0x00A05010;
constexpr platform::Colour kSlew = 0x00208020;
constexpr platform::Colour kFailed = 0x002020D0;
constexpr platform::Colour kSelected = 0x00000000;

std::string FormatMs(double value, double step) {
    char buf[32];
    const int decimals = step >= 1 ? 0 : step >= 0.1 ? 1 : step >= 0.01 ? 2 : 3;
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    std::string text = buf;
    if (text == "-0" || text.rfind("-0.", 0) == 0) {
        // "-0.0" is zero.
        if (std::strtod(text.c_str(), nullptr) == 0) text.erase(0, 1);
    }
    return text;
}

std::string TimeLabel(std::int64_t localMicros, std::int64_t step) {
    const platform::LocalDateTime t = platform::CivilFromMicros(localMicros);
    char buf[32];
    if (step < kDay)
        std::snprintf(buf, sizeof buf, "%02d:%02d", t.hour, t.minute);
    else if (step < 28 * kDay)
        std::snprintf(buf, sizeof buf, "%02d-%02d", t.month, t.day);
    else
        std::snprintf(buf, sizeof buf, "%04d-%02d", t.year, t.month);
    return buf;
}

// Ticks on whole local hours, days or months, at most maxTicks.
std::vector<Tick> TimeTicks(std::int64_t from, std::int64_t to, int utcOffsetSeconds,
                            int maxTicks) {
    static constexpr std::int64_t kSteps[] = {
        kHour / 4, kHour / 2, kHour,    2 * kHour, 3 * kHour, 6 * kHour, 12 * kHour,
        kDay,      2 * kDay,  7 * kDay, 14 * kDay, 30 * kDay, 91 * kDay, 365 * kDay};
    const std::int64_t span = std::max<std::int64_t>(to - from, 1);
    std::int64_t step = kSteps[std::size(kSteps) - 1];
    for (const std::int64_t s : kSteps) {
        if (span / s < maxTicks) {
            step = s;
            break;
        }
    }
    while (span / step >= maxTicks) step *= 2;
    const std::int64_t shift = static_cast<std::int64_t>(utcOffsetSeconds) * kMicros;
    std::vector<Tick> ticks;
    const std::int64_t localFrom = from + shift;
    if (step >= 30 * kDay) {
        // Whole months (or years) in local time, counted from year 0.
        const platform::LocalDateTime t = platform::CivilFromMicros(localFrom);
        const std::int64_t months =
            step >= 365 * kDay ? 12 * (step / (365 * kDay)) : step / (30 * kDay);
        const std::int64_t start = std::int64_t{t.year} * 12 + (t.month - 1);
        for (std::int64_t m = (start / months + 1) * months;; m += months) {
            const std::int64_t local =
                platform::DaysFromCivil(static_cast<int>(m / 12), static_cast<int>(m % 12) + 1, 1) *
                kDay;
            if (local - shift > to) break;
            ticks.push_back({static_cast<double>(local - shift), TimeLabel(local, step)});
        }
        return ticks;
    }
    std::int64_t local = localFrom - ((localFrom % step) + step) % step;
    if (step == 7 * kDay || step == 14 * kDay) {
        // Weeks start on Monday (1970-01-01 was a Thursday: day 4 is Monday).
        const std::int64_t sinceMonday = ((local / kDay - 4) % 7 + 7) % 7;
        local -= sinceMonday * kDay;
    }
    for (; local - shift <= to; local += step) {
        if (local - shift < from) continue;
        ticks.push_back({static_cast<double>(local - shift), TimeLabel(local, step)});
    }
    return ticks;
}

}  // namespace

NiceAxis NiceTicks(double low, double high, int maxTicks) {
    NiceAxis axis;
    if (!(high > low)) {
        const double pad = std::max(std::fabs(low) * 0.1, 1.0);
        low -= pad;
        high += pad;
    }
    maxTicks = std::max(maxTicks, 2);
    const double rough = (high - low) / (maxTicks - 1);
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power * 10;
    for (const double f : {1.0, 2.0, 5.0, 10.0}) {
        if (f * power >= rough) {
            step = f * power;
            break;
        }
    }
    axis.step = step;
    // A bound that is a whole step already stays, whatever the last bit of
    // the division says.
    // The product may land a last bit inside the range: the range wins.
    axis.low = std::min(std::floor(low / step + 1e-9) * step, low);
    axis.high = std::max(std::ceil(high / step - 1e-9) * step, high);
    const int count = static_cast<int>(std::llround((axis.high - axis.low) / step));
    for (int i = 0; i <= count; ++i) axis.ticks.push_back(axis.low + i * step);
    return axis;
}

PlotScale ComputeScale(const std::vector<HistoryRecord>& records, HistoryRange range,
                       std::int64_t nowMicros, int utcOffsetSeconds) {
    PlotScale scale;
    scale.toMicros = nowMicros;
    switch (range) {
        case HistoryRange::Day:
            scale.fromMicros = nowMicros - kDay;
            break;
        case HistoryRange::Week:
            scale.fromMicros = nowMicros - 7 * kDay;
            break;
        case HistoryRange::Everything:
            scale.fromMicros = nowMicros - kHour;
            if (!records.empty()) {
                scale.fromMicros = std::min(scale.fromMicros, records.front().atMicros);
                scale.toMicros = std::max(nowMicros, records.back().atMicros);
            }
            break;
    }
    double low = 0;
    double high = 0;
    for (const HistoryRecord& r : records) {
        if (!r.offsetMicros || r.atMicros < scale.fromMicros || r.atMicros > scale.toMicros)
            continue;
        const double ms = static_cast<double>(*r.offsetMicros) / 1000.0;
        low = std::min(low, ms);
        high = std::max(high, ms);
    }
    // A little room, so that no mark sits on the frame; zero stays an edge.
    const double pad = (high - low) * 0.04;
    if (low < 0) low -= pad;
    if (high > 0) high += pad;
    const NiceAxis axis = NiceTicks(low, high, 7);
    scale.lowMs = axis.low;
    scale.highMs = axis.high;
    for (const double v : axis.ticks) scale.offsetTicks.push_back({v, FormatMs(v, axis.step)});
    scale.timeTicks = TimeTicks(scale.fromMicros, scale.toMicros, utcOffsetSeconds, 8);
    return scale;
}

int PlotFrame::xOf(std::int64_t micros) const {
    const double span =
        static_cast<double>(std::max<std::int64_t>(scale.toMicros - scale.fromMicros, 1));
    return left + static_cast<int>(std::lround(
                      (right - left) * static_cast<double>(micros - scale.fromMicros) / span));
}

int PlotFrame::yOf(double ms) const {
    const double span = scale.highMs - scale.lowMs;
    if (!(span > 0)) return (top + bottom) / 2;
    return bottom - static_cast<int>(std::lround((bottom - top) * (ms - scale.lowMs) / span));
}

PlotFrame FrameFor(const PlotScale& scale, int width, int height) {
    PlotFrame frame;
    frame.scale = scale;
    // Room for the offset labels on the left, the time labels below.
    frame.left = std::min(72, width / 4);
    frame.right = std::max(frame.left + 1, width - 16);
    frame.top = 28;
    frame.bottom = std::max(frame.top + 1, height - 28);
    return frame;
}

std::vector<int> VisibleRecords(const std::vector<HistoryRecord>& records, const PlotScale& scale) {
    std::vector<int> visible;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].atMicros >= scale.fromMicros && records[i].atMicros <= scale.toMicros)
            visible.push_back(static_cast<int>(i));
    }
    return visible;
}

platform::Drawing DrawHistory(const std::vector<HistoryRecord>& records, const PlotFrame& f,
                              int selected) {
    platform::Drawing d;
    using platform::Drawing;
    const PlotScale& s = f.scale;
    for (const Tick& t : s.offsetTicks) {
        const int y = f.yOf(t.value);
        d.lines.push_back({f.left, y, f.right, y, kGrid, 1, false});
        d.texts.push_back({f.left - 6, y, t.label, kInk, Drawing::Anchor::Right});
    }
    for (const Tick& t : s.timeTicks) {
        const int x = f.xOf(static_cast<std::int64_t>(t.value));
        d.lines.push_back({x, f.top, x, f.bottom, kGrid, 1, false});
        d.lines.push_back({x, f.bottom, x, f.bottom + 4, kInk, 1, false});
        d.texts.push_back({x, f.bottom + 14, t.label, kInk, Drawing::Anchor::Centre});
    }
    // The unit above the offsets, and what the marks mean above the plot.
    const int legendY = f.top / 2;
    d.texts.push_back({f.left - 6, legendY, "ms", kInk, Drawing::Anchor::Right});
    const struct {
        Drawing::Shape shape;
        platform::Colour colour;
        const char* text;
    } legend[] = {
        {Drawing::Shape::Disc, kStep, QT_TRANSLATE_NOOP("Tempikon", "Stepped")},
        {Drawing::Shape::Ring, kSlew, QT_TRANSLATE_NOOP("Tempikon", "Slewed")},
        {Drawing::Shape::Cross, kFailed, QT_TRANSLATE_NOOP("Tempikon", "Failed")},
    };
    int legendX = f.left + 8;
    for (const auto& item : legend) {
        d.marks.push_back({legendX, legendY, item.shape, item.colour, 7});
        d.texts.push_back({legendX + 9, legendY, item.text, kInk, Drawing::Anchor::Left});
        legendX += 120;
    }
    // The frame, and zero: where a perfect clock would be.
    d.lines.push_back({f.left, f.top, f.left, f.bottom, kInk, 1, false});
    d.lines.push_back({f.left, f.bottom, f.right, f.bottom, kInk, 1, false});
    const int zero = f.yOf(0);
    d.lines.push_back({f.left, zero, f.right, zero, kZero, 1, true});

    const std::vector<int> visible = VisibleRecords(records, s);
    // Thousands of settings share a few hundred pixels: the line is one
    // stroke per column (from where it enters to where it leaves, through
    // its lowest and highest point), and a mark already drawn at the same
    // pixel is not drawn again.
    struct Column {
        int x = 0, first = 0, low = 0, high = 0, last = 0;
    };
    std::vector<Column> columns;
    for (const int i : visible) {
        const HistoryRecord& r = records[i];
        if (!r.offsetMicros) continue;
        const int x = f.xOf(r.atMicros);
        const int y = f.yOf(static_cast<double>(*r.offsetMicros) / 1000.0);
        if (!columns.empty() && columns.back().x == x) {
            Column& c = columns.back();
            c.low = std::min(c.low, y);
            c.high = std::max(c.high, y);
            c.last = y;
        } else {
            columns.push_back({x, y, y, y, y});
        }
    }
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const Column& c = columns[i];
        if (c.low != c.high) d.lines.push_back({c.x, c.low, c.x, c.high, kTrace, 1, false});
        if (i > 0) {
            const Column& p = columns[i - 1];
            d.lines.push_back({p.x, p.last, c.x, c.first, kTrace, 1, false});
        }
    }
    std::unordered_set<std::uint64_t> marked;
    auto mark = [&](int x, int y, Drawing::Shape shape, platform::Colour colour, int size) {
        const std::uint64_t key =
            (static_cast<std::uint64_t>(static_cast<std::uint32_t>(x)) << 32) ^
            (static_cast<std::uint64_t>(static_cast<std::uint32_t>(y)) << 3) ^
            static_cast<std::uint64_t>(shape);
        if (marked.insert(key).second) d.marks.push_back({x, y, shape, colour, size});
    };
    for (const int i : visible) {
        const HistoryRecord& r = records[i];
        const int x = f.xOf(r.atMicros);
        if (!r.set) {
            // On the time axis, whether a time was measured or not.
            mark(x, f.bottom, Drawing::Shape::Cross, kFailed, 9);
            if (r.offsetMicros)
                mark(x, f.yOf(static_cast<double>(*r.offsetMicros) / 1000.0), Drawing::Shape::Cross,
                     kFailed, 7);
            continue;
        }
        if (!r.offsetMicros) continue;
        const int y = f.yOf(static_cast<double>(*r.offsetMicros) / 1000.0);
        if (r.correction == "slew")
            mark(x, y, Drawing::Shape::Ring, kSlew, 7);
        else
            mark(x, y, Drawing::Shape::Disc, kStep, 7);
    }
    // A selection outside the time span is not drawn (it would lie off the canvas).
    if (selected >= 0 && selected < static_cast<int>(records.size()) &&
        records[selected].atMicros >= s.fromMicros && records[selected].atMicros <= s.toMicros) {
        const HistoryRecord& r = records[selected];
        const int x = f.xOf(r.atMicros);
        const int y =
            r.offsetMicros ? f.yOf(static_cast<double>(*r.offsetMicros) / 1000.0) : f.bottom;
        d.lines.push_back({x, f.top, x, f.bottom, kSelected, 1, true});
        d.marks.push_back({x, y, Drawing::Shape::Square, kSelected, 13});
    }
    return d;
}

int RecordNear(const std::vector<HistoryRecord>& records, const std::vector<int>& visible,
               const PlotFrame& frame, int x, int maxDistance) {
    int best = -1;
    int bestDistance = maxDistance + 1;
    for (const int i : visible) {
        const int distance = std::abs(frame.xOf(records[i].atMicros) - x);
        // The later of equals: the newest record under the pointer.
        if (distance <= bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return bestDistance <= maxDistance ? best : -1;
}

}  // namespace tempikon::core
