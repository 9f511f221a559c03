// Test entry of the Qt backend tests: prepares the environment, then
// creates the platform the way the program does.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "backend_env.h"
#include "platform/qt/qt_start.h"

namespace tempikon::qt::testing {

namespace {
QtStart* started = nullptr;
std::string home;
const char* const kArguments[] = {"/Server", "x  y", "-style", "fusion", nullptr};
}  // namespace

QtPlatform& platform() {
    return static_cast<QtPlatform&>(*started->platform);
}
bool startedWithoutDisplay() {
    return started->noDisplay;
}
const char* const* startArguments() {
    return kArguments;
}
const std::string& configHome() {
    return home;
}

}  // namespace tempikon::qt::testing

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    using namespace tempikon::qt::testing;

    char pattern[] = "/tmp/tempikon-backend-XXXXXX";
    if (!mkdtemp(pattern)) return 2;
    home = pattern;
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    setenv("XDG_STATE_HOME", home.c_str(), 1);
    // As on a machine without any display: createPlatform must choose the
    // offscreen platform by itself.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QT_QPA_PLATFORM");

    static std::string program = argv[0];
    static char* qtArgv[] = {program.data(),
                             const_cast<char*>(kArguments[0]),
                             const_cast<char*>(kArguments[1]),
                             const_cast<char*>(kArguments[2]),
                             const_cast<char*>(kArguments[3]),
                             nullptr};
    static int qtArgc = 5;
    static tempikon::qt::QtStart start = tempikon::qt::createPlatform(qtArgc, qtArgv);
    started = &start;

    const int result = RUN_ALL_TESTS();
    start.platform.reset();
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return result;
}
