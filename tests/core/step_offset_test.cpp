// A step reaches the clock as the change from the reading it was planned
// at, never as an instant: the clock moves on between the two.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/set_clock.h"
#include "tests/fake/fake_platform.h"
#include "tests/support/fake_ntp_server.h"

namespace tempikon::core {
namespace {

constexpr std::int64_t kMs = 1000;
constexpr std::int64_t kDay = 86'400'000'000;

TEST(StepOffset, EveryStepIsHandedOverAsAnOffsetFromTheClock) {
    struct Case {
        const char* what;
        const char* protocol;
        std::int64_t aheadMicros;  // NTP: the server's clock ahead of ours
        const char* step;
        bool refuseSlew;
        std::string status;
    };
    const Case cases[] = {
        {"NTP, 2.5 s ahead", "NTP", 2'500 * kMs, "", false, "Time set to 12:00:02 d=3s"},
        {"NTP, a day and 7 us behind", "NTP", -kDay - 7, "", false,
         "Time set to 11:59:59 d=-86400s"},
        {"NTP, 100 ms, Step=always", "NTP", 100 * kMs, "always", false,
         "Time set to 12:00:00 d=0s"},
        {"NTP, 100 ms, slew refused", "NTP", 100 * kMs, "", true, "Time set to 12:00:00 d=0s"},
        {"Daytime, 3 min 27 s ahead", "Daytime", 0, "", false, "Time set to 12:03:27 d=207s"},
    };
    for (const Case& c : cases) {
        fake::FakePlatform p;
        p.fakeClock().setNow(2026, 12, 7, 12, 0, 0);
        p.fakeClock().slewable = true;
        if (c.refuseSlew) p.fakeClock().refuseSlewWith = "Operation not permitted";
        const std::int64_t start = p.clock().nowMicros();
        testing::FakeNtpServer server;
        server.platform = &p;
        server.aheadMicros = c.aheadMicros;
        p.scriptUdp("server", server.responder());
        p.script("server", fake::PeerScript().reply(100, "12:03:27\r\n"));
        Config config;
        config.primary().host = "server";
        config.primary().protocol = ProtocolSetting(c.protocol);
        config.timeout = 3;
        config.step = c.step;
        // A day's step would otherwise need a second opinion.
        config.maxChange = 0;
        ServerQuery query{p};
        ClockSetter setter{p, query};

        const SetResult result = setter.run(config, [](const std::string&) {});

        EXPECT_EQ(result.status, c.status) << c.what;
        const fake::FakeClock& clock = p.fakeClock();
        ASSERT_EQ(clock.steps.size(), 1u) << c.what;
        ASSERT_EQ(clock.settings.size(), 1u) << c.what;
        // The offset is the change the setting made to the clock as it stood.
        const std::int64_t before = start + clock.settings[0].atMs * kMs;
        EXPECT_EQ(clock.steps[0], clock.settings[0].micros - before) << c.what;
        if (c.protocol == std::string("NTP")) {
            EXPECT_EQ(clock.steps[0], c.aheadMicros) << c.what;
        }
    }
}

}  // namespace
}  // namespace tempikon::core
