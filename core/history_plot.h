#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/history.h"
#include "platform/controls.h"

namespace tempikon::core {

enum class HistoryRange { Day, Week, Everything };

struct Tick {
    double value = 0;  // ms on the offset axis, or microseconds UTC on the time axis
    std::string label;
};

// Round steps of 1, 2 or 5 times a power of ten covering [low, high] with
// at most maxTicks ticks; the range widened to whole steps.
struct NiceAxis {
    double low = 0;
    double high = 1;
    double step = 1;
    std::vector<double> ticks;
};
NiceAxis NiceTicks(double low, double high, int maxTicks);

// What the plot shows: the time span, the offset span (ms) and their ticks.
// Times are UTC microseconds; tick labels are in local time, utcOffsetSeconds
// ahead of UTC.
struct PlotScale {
    std::int64_t fromMicros = 0;
    std::int64_t toMicros = 0;
    double lowMs = -1;
    double highMs = 1;
    std::vector<Tick> offsetTicks;
    std::vector<Tick> timeTicks;
};
// The last day or week up to nowMicros, or everything recorded (at least an
// hour). The offset span holds zero and every offset in the time span.
PlotScale ComputeScale(const std::vector<HistoryRecord>& records, HistoryRange range,
                       std::int64_t nowMicros, int utcOffsetSeconds);

// Where the plot's parts lie on a canvas of width × height pixels.
struct PlotFrame {
    int left = 0, top = 0, right = 0, bottom = 0;  // the plotting area
    PlotScale scale;
    int xOf(std::int64_t micros) const;
    int yOf(double ms) const;
};
PlotFrame FrameFor(const PlotScale& scale, int width, int height);

// The records within the time span, by index into records.
std::vector<int> VisibleRecords(const std::vector<HistoryRecord>& records, const PlotScale& scale);

// The drawing: grid, ticks, the zero line, a line through the offsets, steps
// as discs, slews as rings, failures as crosses on the time axis, the
// selected record framed.
platform::Drawing DrawHistory(const std::vector<HistoryRecord>& records, const PlotFrame& frame,
                              int selected);

// The visible record nearest the pointer along the time axis, within
// maxDistance pixels; -1 when none.
int RecordNear(const std::vector<HistoryRecord>& records, const std::vector<int>& visible,
               const PlotFrame& frame, int x, int maxDistance);

}  // namespace tempikon::core
