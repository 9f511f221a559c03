// Hostile and broken Daytime servers against the real Qt backend, on
// 127.0.0.130-199 port 13: a whole setting of the clock each time, with the
// status line, whether the clock was set and how long the query took
// against its time-out. The clock is a recording one: nothing is set.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/query/server_query.h"
#include "core/set_clock.h"
#include "tests/hardening/memory.h"
#include "tests/hardening/qt_env.h"
#include "tests/support/ask.h"
#include "tests/support/daytime_server.h"
#include "tests/support/recording_platform.h"
#include "tests/support/setting_run.h"

namespace tempikon::hardening {
namespace {

using testsupport::DaytimeServer;
using testsupport::RecordingPlatform;
using testsupport::ServerMode;
using testsupport::ServerOptions;

constexpr const char* kUnreachable = "Couldn't reach timeserver(s)";
constexpr const char* kInvalid = "Invalid data received";

// A clock setting as the main window runs it, with real Qt labels,
// timer and socket.
struct Setting {
    RecordingPlatform platform{qtPlatform()};
    core::Config config;
    std::unique_ptr<platform::Window> window = platform.createWindow({});
    platform::Label& serverLine = window->addLabel({0, 0, 3855, 255}, "");
    platform::Label& outcomeLine = window->addLabel({0, 240, 3855, 255}, "");
    core::ServerQuery query{platform};
    // The query's own timer and socket.
    platform::Timer* queryTimer = &query.daytime().timer();
    platform::TcpClient* querySocket = &query.daytime().socket();
    core::ClockSetter setter{platform, query};
    core::SetOutcome runSetting() {
        return tempikon::testing::RunSetting(setter, config, platform, serverLine, outcomeLine);
    }
    double seconds = 0;

    Setting(const std::string& host, int timeoutSeconds) {
        config.server = host;
        config.timeout = timeoutSeconds;
    }
    core::SetOutcome run() {
        const auto start = std::chrono::steady_clock::now();
        const core::SetOutcome outcome = runSetting();
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return outcome;
    }
    std::vector<int> settings() {
        std::vector<int> out;
        for (const auto& s : platform.recordingClock().settings) out.push_back(s.secondsOfDay);
        return out;
    }
};

struct Case {
    const char* name;
    std::string host;
    std::optional<ServerOptions> server;  // none: nothing is started
    std::string outcomeLine;              // the status line
    std::optional<int> setTo;             // seconds of the day the clock is set to
    bool endsBeforeTheTimeOut;            // by data or an error, not by the timer
};

ServerOptions mode(ServerMode m, std::string text = "Sun Dec  6 14:03:27 2026\r\n") {
    ServerOptions o;
    o.mode = m;
    o.text = std::move(text);
    return o;
}

constexpr int kAt140327 = 14 * 3600 + 3 * 60 + 27;

std::vector<Case> Cases() {
    using M = ServerMode;
    const std::string blanks = "127.0.0.139 127.0.0.139";
    std::string longName;
    while (longName.size() < 300) longName += "abcdefghij.";
    longName.resize(300);
    return {
        {"refused", "127.0.0.130", mode(M::Refused), kUnreachable, std::nullopt, true},
        {"reset_before_the_colon", "127.0.0.131", mode(M::ResetMidReply, "Sun Dec  6 1"),
         kUnreachable, std::nullopt, true},
        {"reset_after_the_time", "127.0.0.132", mode(M::ResetMidReply, "Sun Dec  6 14:03:27 20"),
         "", kAt140327, true},
        {"silent", "127.0.0.133", mode(M::Silent), kUnreachable, std::nullopt, false},
        {"closed_without_sending", "127.0.0.134", mode(M::CloseWithoutSending), kUnreachable,
         std::nullopt, false},
        // Read on until the time is whole (about 1.9 s), then set later by
        // the time since the first byte.
        {"drip_one_byte_per_100ms", "127.0.0.135", mode(M::Drip), "", kAt140327, true},
        {"nul_and_high_bytes_around", "127.0.0.136",
         mode(M::Reply, std::string("\0\xff\xfe 14:03:27 \x80\0\r\n", 16)), "", kAt140327, true},
        {"high_bytes_touching_the_time", "127.0.0.137",
         mode(M::Reply, std::string("\xe9\xe8\x00"
                                    "14:03:27\xa0\x00",
                                    13)),
         "", kAt140327, true},
        {"high_byte_inside_the_time", "127.0.0.138",
         mode(M::Reply, std::string("\x00"
                                    "1\xb4:03:27\r\n",
                                    11)),
         kInvalid, std::nullopt, true},
        {"only_a_line_feed", "127.0.0.140", mode(M::Reply, "\n"), kUnreachable, std::nullopt, true},
        {"name_that_does_not_resolve", "tempikon-no-such-host.invalid", std::nullopt, kUnreachable,
         std::nullopt, true},
        {"name_with_blanks", blanks, std::nullopt, kUnreachable, std::nullopt, true},
        {"name_of_300_characters", longName, std::nullopt, kUnreachable, std::nullopt, true},
        // The resolver would read the name only up to the NUL and ask the
        // server that listens there.
        {"name_with_a_nul", std::string("127.0.0.143\0.evil.example", 25), mode(M::Reply),
         kUnreachable, std::nullopt, true},
    };
}

class HostileServer : public ::testing::TestWithParam<Case> {};

TEST_P(HostileServer, StatusClockAndTimeOut) {
    const Case& c = GetParam();
    // Queries that end by data or an error get a long time-out, so that
    // ending by it would show; those that must wait it out get a short one.
    const int timeout = c.endsBeforeTheTimeOut ? 20 : 2;
    std::unique_ptr<DaytimeServer> server;
    if (c.server) server = std::make_unique<DaytimeServer>(c.host, *c.server);
    Setting s(c.host, timeout);

    const core::SetOutcome outcome = s.run();

    EXPECT_EQ(s.serverLine.text(), c.host);
    if (c.setTo) {
        EXPECT_EQ(outcome, core::SetOutcome::Set);
        ASSERT_EQ(s.settings().size(), 1u);
        // Aimed into the reported second, and later by the time the reply
        // took to come whole.
        EXPECT_GE(s.settings()[0], *c.setTo);
        EXPECT_LE(s.settings()[0], *c.setTo + 3);
        EXPECT_EQ(
            s.outcomeLine.text().rfind("Time set to " + core::FormatTimeOfDay(*c.setTo) + " d=", 0),
            0u)
            << s.outcomeLine.text();
    } else {
        EXPECT_EQ(s.outcomeLine.text(), c.outcomeLine);
        EXPECT_TRUE(s.settings().empty());
    }
    EXPECT_EQ(s.platform.output,
              std::vector<std::string>{s.outcomeLine.text() + (c.setTo ? " (step)" : "")});
    // The query is over and has let go of its timer and socket.
    EXPECT_FALSE(s.query.isBusy());
    EXPECT_FALSE(s.querySocket->isOpen());
    EXPECT_FALSE(s.queryTimer->isEnabled());
    EXPECT_LE(s.query.lastAnswer().reply.size(), core::kMaxReplyBytes);
    // Functional bounds, generous: within the time-out, and well before it
    // where data or an error ends the query.
    EXPECT_LE(s.seconds, timeout + 3.0);
    if (c.endsBeforeTheTimeOut) {
        EXPECT_LT(s.seconds, timeout / 2.0);
    }
    RecordProperty("seconds", std::to_string(s.seconds));
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileServer, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- a 20 MB flood --------------------------------------------------------------

TEST(HostileFlood, TwentyMegabytesKeepMemoryBounded) {
    constexpr std::size_t kFlood = 20u << 20;
    ServerOptions options;
    options.mode = ServerMode::Flood;
    options.floodBytes = kFlood;
    DaytimeServer server("127.0.0.141", options);
    Setting s("127.0.0.141", 20);
    // Warm up the sockets' and Qt's own first allocations.
    Setting("127.0.0.142", 1).run();

    const bool peakReset = ResetPeak();
    const long long before = StatusKiB("VmRSS");
    const core::SetOutcome outcome = s.run();
    const long long peak = StatusKiB("VmHWM");

    // Only x's: no time of day in them.
    EXPECT_EQ(outcome, core::SetOutcome::Unreachable);
    EXPECT_EQ(s.outcomeLine.text(), kUnreachable);
    EXPECT_TRUE(s.settings().empty());
    EXPECT_GT(s.query.lastAnswer().reply.size(), 0u);
    EXPECT_LE(s.query.lastAnswer().reply.size(), core::kMaxReplyBytes);
    EXPECT_EQ(s.query.lastAnswer().reply.find_first_not_of('x'), std::string::npos);
    EXPECT_FALSE(s.querySocket->isOpen());
    EXPECT_LT(s.seconds, 10.0);
    // The rest was never read: the server could not send it all.
    server.stop();
    EXPECT_LT(server.bytesSent(), kFlood);
    if (!peakReset || before < 0 || peak < 0) GTEST_SKIP() << "no peak memory figures";
    const long long growthKiB = peak - before;
    RecordProperty("peak_growth_kib", std::to_string(growthKiB));
    EXPECT_LT(growthKiB, 4 * 1024) << "peak grew by " << growthKiB << " KiB";
}

}  // namespace
}  // namespace tempikon::hardening
