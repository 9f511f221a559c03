#include "platform/qt/qt_start.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "platform/qt/qt_platform.h"
#if defined(__linux__)
#include <sys/auxv.h>
#include <unistd.h>

#include <vector>

#include "platform/qt/qt_capability.h"
#endif
#include "platform/qt/qt_start_rules.h"

namespace tempikon::qt {

namespace {

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

bool hasPlatformArgument(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (argv[i] &&
            (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0))
            return true;
    }
    return false;
}

#if defined(__linux__)
// Under secure execution (file capabilities, setuid, setgid) the user who
// starts the program is not the one it runs as. The C library then ignores
// LD_PRELOAD, but Qt would still load plugins and read files from paths in
// the environment; they go before Qt starts. Every QT_ and QML variable goes
// except the platform's name, which is looked up in Qt's own folder only
// once the paths are gone, and the plugin report on standard error; so do those that make GTK, GIO
// or the GL loader take code from elsewhere.
void ScrubForSecureExecution() {
    if (::getauxval(AT_SECURE) == 0) return;
    static const char* const kNamed[] = {"GTK_PATH",
                                         "GTK_MODULES",
                                         "GTK_EXE_PREFIX",
                                         "GTK_IM_MODULE_FILE",
                                         "GIO_EXTRA_MODULES",
                                         "GDK_PIXBUF_MODULE_FILE",
                                         "LIBGL_DRIVERS_PATH",
                                         "__EGL_VENDOR_LIBRARY_DIRS",
                                         "__EGL_VENDOR_LIBRARY_FILENAMES",
                                         "XDG_DATA_DIRS",
                                         "XDG_CONFIG_DIRS",
                                         "XCURSOR_PATH",
                                         "XLOCALEDIR",
                                         "FONTCONFIG_FILE",
                                         "FONTCONFIG_PATH",
                                         "XKB_CONFIG_ROOT",
                                         "DBUS_SESSION_BUS_ADDRESS"};
    for (const char* name : kNamed) ::unsetenv(name);
    std::vector<std::string> qtNames;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        if ((name.rfind("QT_", 0) == 0 || name.rfind("QML", 0) == 0) && name != "QT_QPA_PLATFORM" &&
            name != "QT_DEBUG_PLUGINS")
            qtNames.push_back(name);
    }
    for (const std::string& name : qtNames) ::unsetenv(name.c_str());
}
#endif

QtMessageHandler previousHandler = nullptr;

// Remarks of the offscreen platform (about window features it lacks) and of a
// session without a runtime folder mean nothing to a run without a display,
// and would mix with what such a run reports on standard error.
void headlessMessageHandler(QtMsgType type, const QMessageLogContext& context,
                            const QString& message) {
    if (type == QtWarningMsg &&
        (message.startsWith(QLatin1String("This plugin does not support")) ||
         message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))) {
        return;
    }
    if (previousHandler) {
        previousHandler(type, context, message);
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    }
}

}  // namespace

QtStart createPlatform(int& argc, char** argv) {
#if defined(__linux__)
    ScrubForSecureExecution();
    DropClockRight();
#endif
    // Taken before QApplication removes its own options from argv.
    std::string commandLine = joinArguments(argc, argv);
    std::optional<std::string> chosen = environment("QT_QPA_PLATFORM");
    if (hasPlatformArgument(argc, argv)) chosen = "chosen on the command line";
    const bool noDisplay =
        needsOffscreen(environment("DISPLAY"), environment("WAYLAND_DISPLAY"), chosen);
    if (noDisplay) qputenv("QT_QPA_PLATFORM", "offscreen");
    const QByteArray qpa = qgetenv("QT_QPA_PLATFORM");
    if (qpa.startsWith("offscreen") || qpa.startsWith("minimal")) {
        previousHandler = qInstallMessageHandler(headlessMessageHandler);
    }
    QtStart start;
    start.platform = std::make_unique<QtPlatform>(argc, argv, std::move(commandLine));
    start.noDisplay = noDisplay;
    return start;
}

}  // namespace tempikon::qt
