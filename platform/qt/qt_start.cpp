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
