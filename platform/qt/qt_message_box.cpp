#include "platform/qt/qt_message_box.h"

#include <QMessageBox>

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
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
    }
    const int answer = box.exec();
    if (!yesNo) return platform::kIdOk;
    return answer == QMessageBox::Yes ? platform::kIdYes : platform::kIdNo;
}

}  // namespace tempikon::qt
