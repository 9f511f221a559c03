#include "platform/qt/qt_core_start.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QtGlobal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/qt/qt_core_platform.h"
#include "platform/qt/qt_output.h"
#if defined(__linux__)
#include <sys/auxv.h>
#include <unistd.h>

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
bool SecureExecution() {
    return ::getauxval(AT_SECURE) != 0;
}

// Under secure execution (file capabilities, setuid, setgid) the user who
// starts the program is not the one it runs as. The C library then ignores
// LD_PRELOAD, but Qt would still load plugins and read files from paths in
// the environment; they go before Qt starts. Every QT_ and QML variable goes
// except the plugin report on standard error, and the platform's name when
// it is one of Qt's own plain ones; so do those that make GTK, GIO or the GL
// loader take code from elsewhere, and SNAP, which asks for the portal theme.
void ScrubForSecureExecution() {
    static const char* const kNamed[] = {"GTK_PATH",
                                         "GTK_MODULES",
                                         "GTK3_MODULES",
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
                                         "DBUS_SESSION_BUS_ADDRESS",
                                         "SNAP"};
    for (const char* name : kNamed) ::unsetenv(name);
    const std::optional<std::string> platformName =
        platformForSecureRun(environment("QT_QPA_PLATFORM"));
    std::vector<std::string> qtNames;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        if ((name.rfind("QT_", 0) == 0 || name.rfind("QML", 0) == 0) && name != "QT_DEBUG_PLUGINS")
            qtNames.push_back(name);
    }
    for (const std::string& name : qtNames) ::unsetenv(name.c_str());
    if (platformName) ::setenv("QT_QPA_PLATFORM", platformName->c_str(), 1);
}
#endif

bool headlessRun = false;

// Qt's own handler writes to standard error and waits while nobody reads it.
// Remarks of the offscreen platform (about window features it lacks) and of a
// session without a runtime folder mean nothing to a run without a display,
// and would mix with what such a run reports on standard error.
void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (headlessRun && type == QtWarningMsg &&
        (message.startsWith(QLatin1String("This plugin does not support")) ||
         message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))) {
        return;
    }
    WriteLinesWithoutWaiting(Stream::Error,
                             qFormatLogMessage(type, context, message).toStdString());
}

}  // namespace

StartArguments PrepareStart(int& argc, char** argv, bool windowless) {
    StartArguments start;
#if defined(__linux__)
    start.secure = SecureExecution();
    if (start.secure) ScrubForSecureExecution();
    DropClockRight();
#endif
    // Taken before QApplication removes its own options from argv.
    start.commandLine = joinArguments(argc, argv);
    // Under secure execution Qt sees the program's name only: its own
    // options (-platform, -platformpluginpath, -platformtheme, -style ...)
    // would let the user who starts a privileged copy choose code for it.
    // The program reads its switches from commandLine. Qt keeps a reference
    // to the count for the whole run.
    static int secureArgc = 1;
    static char* secureArgv[] = {nullptr, nullptr};
    start.argc = &argc;
    start.argv = argv;
    if (start.secure) {
        secureArgv[0] = argc > 0 ? argv[0] : nullptr;
        secureArgc = secureArgv[0] ? 1 : 0;
        start.argc = &secureArgc;
        start.argv = secureArgv;
    }
    if (!windowless) {
        std::optional<std::string> chosen = environment("QT_QPA_PLATFORM");
        if (hasPlatformArgument(*start.argc, start.argv)) chosen = "chosen on the command line";
        start.noDisplay =
            needsOffscreen(environment("DISPLAY"), environment("WAYLAND_DISPLAY"), chosen);
        if (start.noDisplay) qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const QByteArray qpa = qgetenv("QT_QPA_PLATFORM");
    headlessRun = windowless || qpa.startsWith("offscreen") || qpa.startsWith("minimal");
    qInstallMessageHandler(messageHandler);
    return start;
}

QtStart createWindowlessPlatform(int& argc, char** argv) {
    StartArguments start = PrepareStart(argc, argv, true);
    QtStart result;
    result.platform =
        std::make_unique<QtCorePlatform>(*start.argc, start.argv, std::move(start.commandLine));
    return result;
}

}  // namespace tempikon::qt
