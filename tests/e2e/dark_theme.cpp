// Preloaded into the real program (LD_PRELOAD) for screenshots and by-hand
// checks: gives the application a dark palette, as a dark desktop theme does,
// before any window is made.
#include <QApplication>
#include <QColor>
#include <QPalette>

namespace {

void darken() {
    QPalette dark;
    const QColor window(0x2b, 0x2b, 0x2b);
    const QColor text(0xee, 0xee, 0xee);
    for (auto role : {QPalette::Window, QPalette::Button, QPalette::AlternateBase})
        dark.setColor(role, window);
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText,
                      QPalette::ToolTipText, QPalette::BrightText})
        dark.setColor(role, text);
    dark.setColor(QPalette::ToolTipBase, window);
    dark.setColor(QPalette::Highlight, QColor(0x3d, 0x6e, 0xb4));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    QApplication::setPalette(dark);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(darken)
