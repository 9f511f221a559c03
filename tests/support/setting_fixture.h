#pragma once

// One fake server, the configuration that names it, and the query and the
// setter on the fake platform with virtual time, as the setting tests of
// each protocol use them.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "core/config.h"
#include "core/query/server_query.h"
#include "core/set_clock.h"
#include "tests/fake/fake_platform.h"

namespace tempikon::testsupport {

class SettingFixture : public ::testing::Test {
protected:
    SettingFixture(const std::string& host, const char* protocol) {
        config.primary().host = host;
        config.primary().protocol = core::ProtocolSetting(protocol);
        config.timeout = 3;
        p.fakeClock().setNow(2026, 12, 7, 12, 0, 0);
        startMicros = p.clock().nowMicros();
    }

    core::SetResult runSetting() {
        return setter.run(config, [](const std::string&) {});
    }
    // The error of the last setting against a server aheadMicros ahead of
    // the start, at the moment of the call.
    std::int64_t errorAgainst(std::int64_t aheadMicros) {
        const auto& s = p.fakeClock().settings.back();
        return s.micros - (startMicros + s.atMs * 1000 + aheadMicros);
    }

    fake::FakePlatform p;
    core::Config config;
    std::int64_t startMicros = 0;
    core::ServerQuery query{p};
    core::ClockSetter setter{p, query};
};

}  // namespace tempikon::testsupport
