// The program: the platform, the main window and its event loop.
#include <iostream>
#include <string>

#include "app/main_window.h"

#if defined(TEMPIKON_BACKEND_WIN32)
#include "platform/win32/win32_start.h"
namespace backend = tempikon::win32;
#else
#include "platform/qt/qt_start.h"
namespace backend = tempikon::qt;
#endif

int main(int argc, char** argv) {
    using namespace tempikon;
    auto start = backend::createPlatform(argc, argv);
    platform::Platform& platform = *start.platform;

    // Only the one-shot and resident modes can do their work unseen.
    if (start.noDisplay) {
        const std::string commandLine = platform.commandLine();
        if (!app::SwitchPresent(commandLine, "/RUNONCE") &&
            !app::SwitchPresent(commandLine, "/SERVER")) {
            std::cerr << "tempikon: no display found; the configuration window needs one.\n"
                         "Run with /RUNONCE or /SERVER to set the clock without a display.\n";
            return app::kExitNotConfigured;
        }
    }

    int exitCode = app::kExitOk;
    {
        app::MainWindow window(platform);
        window.start();
        exitCode = window.hasEnded() ? window.exitCode() : platform.run();
    }
    return exitCode;
}
