// Entry of the Qt hardening tests: the platform as the program makes it,
// offscreen, with settings in a folder of this process's own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/qt/qt_start.h"
#include "tests/hardening/qt_env.h"

namespace tempikon::hardening {
namespace {
qt::QtStart* started = nullptr;
}  // namespace

platform::Platform& qtPlatform() {
    return *started->platform;
}

}  // namespace tempikon::hardening

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    char pattern[] = "/tmp/tempikon-hardening-XXXXXX";
    if (!mkdtemp(pattern)) return 2;
    const std::string home = pattern;
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    setenv("XDG_STATE_HOME", home.c_str(), 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QT_QPA_PLATFORM");

    static char program[] = "hardening";
    static char* qtArgv[] = {program, nullptr};
    static int qtArgc = 1;
    static tempikon::qt::QtStart start = tempikon::qt::createPlatform(qtArgc, qtArgv);
    tempikon::hardening::started = &start;

    const int result = RUN_ALL_TESTS();
    start.platform.reset();
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return result;
}
