// Test entry of the time service tests. They drive the program's real clock,
// so they refuse to run where the kernel would let it set the machine's clock.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/qt/qt_start.h"
#include "tests/dbus/dbus_env.h"

namespace tempikon::dbustest {

namespace {
qt::QtStart* started = nullptr;

bool maySetClock() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) return true;  // unknown: assume the worst
    return (data[CAP_TO_INDEX(CAP_SYS_TIME)].effective & CAP_TO_MASK(CAP_SYS_TIME)) != 0;
}
}  // namespace

platform::Platform& platform() {
    return *started->platform;
}

}  // namespace tempikon::dbustest

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (tempikon::dbustest::maySetClock()) {
        std::fprintf(stderr,
                     "Refusing to run with CAP_SYS_TIME: start me under "
                     "capsh --drop=cap_sys_time --\n");
        return 1;
    }
    // Never the machine's bus, even before a test starts its own.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/tempikon-dbus-tests", 1);
    char pattern[] = "/tmp/tempikon-dbus-XXXXXX";
    if (!mkdtemp(pattern)) return 2;
    setenv("XDG_CONFIG_HOME", pattern, 1);
    setenv("XDG_STATE_HOME", pattern, 1);

    static int qtArgc = 1;
    static char* qtArgv[] = {argv[0], nullptr};
    static tempikon::qt::QtStart start = tempikon::qt::createPlatform(qtArgc, qtArgv);
    tempikon::dbustest::started = &start;

    const int result = RUN_ALL_TESTS();
    start.platform.reset();
    std::error_code ignored;
    std::filesystem::remove_all(pattern, ignored);
    return result;
}
