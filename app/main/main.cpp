// The program: help and version, /QUERY, else the main window and its event
// loop.
#include <iostream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/main_window.h"
#include "app/query_mode.h"
#include "tempikon_version.h"

#if defined(TEMPIKON_BACKEND_WIN32)
#include "platform/win32/win32_start.h"
#else
#include "platform/qt/qt_core_start.h"
#include "platform/qt/qt_early_text.h"
#include "platform/qt/qt_output.h"
#include "platform/qt/qt_window_part.h"
#endif

namespace {

// The usage in the user's language where the backend has translations;
// the Windows build answers in English.
std::string HelpText() {
#if defined(TEMPIKON_BACKEND_WIN32)
    return tempikon::app::UsageText();
#else
    return tempikon::qt::EarlyTranslated(tempikon::app::UsageText());
#endif
}

// Standard output may be a full pipe that nobody reads; the Qt build never
// waits for it.
void PrintEarly(const std::string& text) {
#if defined(TEMPIKON_BACKEND_WIN32)
    std::cout << text << std::flush;
#else
    tempikon::qt::WriteLinesWithoutWaiting(tempikon::qt::Stream::Output, text);
#endif
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tempikon;
    // Help and version come before any window system is touched.
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
#if defined(TEMPIKON_BACKEND_WIN32)
    if (app::EarlyRequestFor(arguments) != app::EarlyRequest::None)
        win32::AttachParentConsoleIfNoOutput();
#endif
    switch (app::EarlyRequestFor(arguments)) {
        case app::EarlyRequest::Help:
            PrintEarly(HelpText());
            return app::kExitOk;
        case app::EarlyRequest::Version:
            PrintEarly(app::VersionText() + "\n");
            return app::kExitOk;
        case app::EarlyRequest::None:
            break;
    }

#if defined(TEMPIKON_BACKEND_WIN32)
    auto start = win32::createPlatform(argc, argv);
    if (app::QueryModeRequested(start.platform->commandLine()))
        return app::RunQueryMode(*start.platform);
    return app::RunWithWindows(*start.platform, start.noDisplay);
#else
    // /QUERY only asks and prints: it loads no window system and no GUI
    // library. Everything else runs in the part with windows.
    std::string joined;
    for (const std::string& argument : arguments) joined += (joined.empty() ? "" : " ") + argument;
    if (!app::QueryModeRequested(joined)) return qt::RunWindowPart(argc, argv);
    auto start = qt::createWindowlessPlatform(argc, argv);
    return app::RunQueryMode(*start.platform);
#endif
}
