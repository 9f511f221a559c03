#include "core/server_address.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tempikon::core {
namespace {

TEST(ParseServerAddress, SplitsHostAndPort) {
    struct Case {
        const char* text;
        std::string host;
        std::uint16_t port;
    };
    const std::vector<Case> cases = {
        {"pool.ntp.example", "pool.ntp.example", 123},
        {"  time.example:4123\t", "time.example", 4123},
        {"192.0.2.1:1", "192.0.2.1", 1},
        {"192.0.2.1", "192.0.2.1", 123},
        {"host:65535", "host", 65535},
        {"host:000123", "host", 123},
        {"[2001:db8::1]:65535", "2001:db8::1", 65535},
        {"[::1]", "::1", 123},
        {" [fe80::1%eth0]:1234 ", "fe80::1%eth0", 1234},
        {"2001:db8::1", "2001:db8::1", 123},
        {"::1", "::1", 123},
        // Two colons make an address, never a port.
        {"2001:db8::123", "2001:db8::123", 123},
        {"\thost\t", "host", 123},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseServerAddress(c.text, 123), (ServerAddress{c.host, c.port})) << c.text;
    }
    EXPECT_EQ(ParseServerAddress("host", 13), (ServerAddress{"host", 13}));
    EXPECT_EQ(ParseServerAddress("[::1]", 13), (ServerAddress{"::1", 13}));
}

TEST(ParseServerAddress, RefusesBadPortsEmptyHostsAndOpenBrackets) {
    const std::vector<const char*> bad = {
        "host:0",   "host:65536", "host:99999999999999999999",
        "host:12a", "host:abc",   "host:",
        "host:-1",  "host:+5",    "host: 5",
        "[::1]:",   "[::1]:0",    "[::1]:65536",
        "[::1]:x",  "[::1]x",     "[::1]:80:90",
        "[::1",     "[",          "[]",
        "[]:123",   ":123",       "",
        "   ",      "\t \t",
    };
    for (const char* text : bad) EXPECT_EQ(ParseServerAddress(text, 123), std::nullopt) << text;
}

}  // namespace
}  // namespace tempikon::core
