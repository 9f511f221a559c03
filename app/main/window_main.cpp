// The part of the program with windows, loaded by main() for every mode but
// /QUERY: it alone links Qt's GUI libraries.
#include "app/main_window.h"
#include "platform/qt/qt_start.h"
#include "platform/qt/qt_window_part.h"

extern "C" __attribute__((visibility("default"))) int tempikon_window_main(int* argc, char** argv) {
    using namespace tempikon;
    auto start = qt::createPlatform(*argc, argv);
    return app::RunWithWindows(*start.platform, start.noDisplay);
}
