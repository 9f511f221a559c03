#include "platform/qt/qt_file_chooser.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>
#include <QWidget>

#include "platform/qt/qt_convert.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/qt_translate.h"
#include "platform/translate.h"

namespace tempikon::qt {

namespace {

const char* const kAllFiles = QT_TRANSLATE_NOOP("Tempikon", "All files");

}  // namespace

std::optional<std::string> showFileChooser(const platform::FileChoice& choice, QWidget* parent) {
    QFileDialog dialog(parent, Translated(choice.title));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setWindowModality(Qt::ApplicationModal);
    QStringList filters;
    if (!choice.patterns.empty()) {
        QStringList patterns;
        for (const std::string& pattern : choice.patterns) patterns << toQString(pattern);
        filters << Translated(choice.filterName) + QStringLiteral(" (") +
                       patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    filters << Translated(kAllFiles) + QStringLiteral(" (*)");
    dialog.setNameFilters(filters);
    if (choice.current.empty()) {
        dialog.setDirectory(QDir::homePath());
    } else {
        // The file chosen so far, in its folder.
        const QFileInfo current(toQString(choice.current));
        dialog.setDirectory(current.absolutePath());
        if (current.exists()) dialog.selectFile(current.absoluteFilePath());
    }
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    return toStdString(QDir::toNativeSeparators(chosen.front()));
}

std::optional<std::string> QtPlatform::chooseFile(const platform::FileChoice& choice,
                                                  platform::NativeHandle owner) {
    // Nobody could answer.
    if (isHeadless()) return std::nullopt;
    QWidget* parent = owner ? QWidget::find(static_cast<WId>(owner)) : QApplication::activeWindow();
    return showFileChooser(choice, parent);
}

}  // namespace tempikon::qt
