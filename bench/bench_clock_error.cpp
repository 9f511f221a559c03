// How far from the real time a clock setting lands: 20 settings from a
// loopback Daytime server (127.0.13.1) that sends the real local time, each
// at its own moment within the second, spread evenly over it (the error of
// a whole-second reply depends on that moment alone). The clock is a recording one:
// nothing is set. The error is the instant asked for minus the real time at
// the call. "Before" is the whole reported second, as the clock used to be
// set; "after" is the middle of that second plus half the round trip.
// Prints figures; asserts nothing.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include "core/config.h"
#include "core/query/server_query.h"
#include "core/set_clock.h"
#include "platform/qt/qt_start.h"
#include "tests/support/daytime_server.h"
#include "tests/support/recording_platform.h"

namespace {

struct Figures {
    double mean = 0, worst = 0;
};

Figures summarise(const std::vector<double>& errors) {
    Figures f;
    for (const double e : errors) {
        f.mean += e / static_cast<double>(errors.size());
        if (std::fabs(e) > std::fabs(f.worst)) f.worst = e;
    }
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tempikon;
    int settings = 20;
    if (argc > 1) settings = std::max(1, std::atoi(argv[1]));

    int qtArgc = 1;
    qt::QtStart start = qt::createPlatform(qtArgc, argv);
    testsupport::RecordingPlatform p(*start.platform);

    const std::string host = "127.0.13.1";
    testsupport::ServerOptions options;
    options.mode = testsupport::ServerMode::RealTime;
    testsupport::DaytimeServer server(host, options);

    core::Config config;
    config.server = host;
    config.timeout = 3;
    core::ServerQuery query(p);
    core::ClockSetter setter(p, query);

    std::vector<double> before, after, roundTrips;
    for (int i = 0; i < settings; ++i) {
        const std::int64_t phase = (2 * i + 1) * 500'000LL / settings;  // microseconds
        const std::int64_t now = p.clock().nowMicros();
        std::int64_t wait = phase - now % 1'000'000;
        if (wait < 0) wait += 1'000'000;
        std::this_thread::sleep_for(std::chrono::microseconds(wait));
        const core::SetResult result = setter.run(config, [](const std::string&) {});
        if (result.outcome != core::SetOutcome::Set) {
            std::printf("setting %d failed: %s\n", i, result.status.c_str());
            continue;
        }
        const auto& r = p.recordingClock().settings.back();
        // The reported second: the instant less the half second and the
        // round trip's half (well under half a second on loopback).
        const std::int64_t second = (r.micros - 500'000) / 1'000'000 * 1'000'000;
        before.push_back(static_cast<double>(second - r.realMicros) / 1e6);
        after.push_back(static_cast<double>(r.micros - r.realMicros) / 1e6);
        roundTrips.push_back(static_cast<double>(query.lastAnswer().roundTripMicros) / 1e3);
    }
    if (after.empty()) return 1;
    const Figures b = summarise(before);
    const Figures a = summarise(after);
    std::sort(roundTrips.begin(), roundTrips.end());
    std::printf("Clock setting error over %zu settings on loopback (s, set minus real time)\n",
                after.size());
    std::printf("  before (whole reported second): mean %+.3f  worst %+.3f\n", b.mean, b.worst);
    std::printf("  after (middle + half round trip): mean %+.3f  worst %+.3f\n", a.mean, a.worst);
    std::printf("  round trip median %.3f ms\n", roundTrips[roundTrips.size() / 2]);
    return 0;
}
