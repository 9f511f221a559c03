#include "core/report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fake/fake_platform.h"

namespace tempikon::core {
namespace {

struct ReportCase {
    std::int64_t change;  // the plan's instant minus the clock's reading
    std::int64_t roundTrip;
    std::string line;
};

// The /QUERY line: the planned local time, and the change with one decimal
// cut toward zero (no "-0.0").
TEST(QueryReportLine, ShowsThePlannedTimeAndTheChangeCutTowardZero) {
    const std::int64_t now = 1'780'000'000'000'000;
    const std::vector<ReportCase> cases = {
        {12'345'678, 34'600, "s: 14:03:27 -> 15:03:27 d=12.3s rtt=35ms"},
        {-1'299'999, 0, "s: 14:03:27 -> 15:03:27 d=-1.2s rtt=0ms"},
        {-99'999, 499, "s: 14:03:27 -> 15:03:27 d=0.0s rtt=0ms"},
        {-86'399'900'000, -1, "s: 14:03:27 -> 15:03:27 d=-86399.9s rtt=?ms"},
    };
    for (const auto& c : cases) {
        const ClockPlan plan{now + c.change, 0, 15 * 3600 + 3 * 60 + 27};
        EXPECT_EQ(QueryReportLine("s", " 14:03:27", plan, now, c.roundTrip), c.line);
    }
}

}  // namespace
}  // namespace tempikon::core
