#include "platform/qt/qt_start.h"

#include <QGuiApplication>

#include "platform/qt/qt_platform.h"

namespace tempikon::qt {

QtStart createPlatform(int& argc, char** argv) {
    StartArguments start = PrepareStart(argc, argv, false);
    // Without it Qt picks the desktop's theme; GNOME's loads GTK, which
    // loads the modules named in the user's GTK settings. Qt's built-in
    // theme and style load nothing.
    if (start.secure) QGuiApplication::setDesktopSettingsAware(false);
    QtStart result;
    result.platform =
        std::make_unique<QtPlatform>(*start.argc, start.argv, std::move(start.commandLine));
    result.noDisplay = start.noDisplay;
    return result;
}

}  // namespace tempikon::qt
