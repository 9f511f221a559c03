#include "platform/qt/qt_early_text.h"

#include <QLocale>
#include <QString>
#include <QTranslator>
#include <filesystem>
#include <system_error>

#include "platform/qt/qt_start_rules.h"

namespace tempikon::qt {

std::string EarlyTranslated(const std::string& text) {
    // Without an application object there is no applicationDirPath(); the
    // kernel names the program's own file.
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::string executableDir = error ? std::string() : self.parent_path().string();
    const QLocale locale = QLocale::system();
    QTranslator translator;
    for (const std::string& folder : dataDirectoriesFor(executableDir, TEMPIKON_DATADIR)) {
        if (!translator.load(locale, QStringLiteral("tempikon"), QStringLiteral("_"),
                             QString::fromStdString(folder + "/translations")))
            continue;
        const QString translated = translator.translate("Tempikon", text.c_str());
        return translated.isEmpty() ? text : translated.toStdString();
    }
    return text;
}

}  // namespace tempikon::qt
