#include "platform/qt/qt_message_box.h"

#include <QMessageBox>
#include <QPushButton>

#include "platform/platform.h"
#include "platform/qt/qt_convert.h"
#include "platform/qt/qt_translate.h"

namespace tempikon::qt {

namespace {

QMessageBox::Icon iconFor(int flags) {
    switch (flags & 0xF0) {
        case 16:
            return QMessageBox::Critical;
        case 32:
            return QMessageBox::Question;
        case 48:
            return QMessageBox::Warning;
        case 64:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

// The buttons' own texts: Qt's translations of them are not installed
// everywhere, and the box must speak one language.
const char* const kYes = QT_TRANSLATE_NOOP("Tempikon", "&Yes");
const char* const kNo = QT_TRANSLATE_NOOP("Tempikon", "&No");
const char* const kOk = QT_TRANSLATE_NOOP("Tempikon", "OK");

}  // namespace

int showMessageBox(const std::string& text, const std::string& title, int flags) {
    const bool yesNo = (flags & 0x0F) == platform::kMbYesNo;
    QMessageBox box;
    box.setWindowTitle(Translated(title));
    box.setTextFormat(Qt::PlainText);
    box.setText(Translated(text));
    box.setIcon(iconFor(flags));
    box.setWindowModality(Qt::ApplicationModal);
    if (yesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton((flags & platform::kMbDefaultButton2) != 0 ? QMessageBox::No
                                                                        : QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        box.button(QMessageBox::Yes)->setText(Translated(kYes));
        box.button(QMessageBox::No)->setText(Translated(kNo));
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        box.button(QMessageBox::Ok)->setText(Translated(kOk));
    }
    const int answer = box.exec();
    if (!yesNo) return platform::kIdOk;
    return answer == QMessageBox::Yes ? platform::kIdYes : platform::kIdNo;
}

}  // namespace tempikon::qt
