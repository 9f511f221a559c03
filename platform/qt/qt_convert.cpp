#include "platform/qt/qt_convert.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace tempikon::qt {

namespace {
constexpr double kTwipsPerInch = 1440.0;
constexpr double kFallbackDpi = 96.0;

bool hasFamily(const QStringList& families, const QString& name) {
    return families.contains(name, Qt::CaseInsensitive);
}
}  // namespace

double logicalDpiX() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInchX() : kFallbackDpi;
}

double logicalDpiY() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInchY() : kFallbackDpi;
}

int twipsToPixels(int twips, double dpi) {
    return static_cast<int>(std::lround(twips * dpi / kTwipsPerInch));
}

QRect toPixels(const platform::TwipsRect& rect) {
    const double dx = logicalDpiX();
    const double dy = logicalDpiY();
    return QRect(twipsToPixels(rect.left, dx), twipsToPixels(rect.top, dy),
                 twipsToPixels(rect.width, dx), twipsToPixels(rect.height, dy));
}

QPalette::ColorRole systemColourRole(unsigned index) {
    // Indices as the Windows system colours number them.
    switch (index) {
        case 0x01:
            return QPalette::Window;  // desktop
        case 0x04:
            return QPalette::Window;  // menu
        case 0x05:
            return QPalette::Base;  // window background
        case 0x07:
            return QPalette::WindowText;  // menu text
        case 0x08:
            return QPalette::WindowText;  // window text
        case 0x0D:
            return QPalette::Highlight;
        case 0x0E:
            return QPalette::HighlightedText;
        case 0x0F:
            return QPalette::Button;  // button face
        case 0x10:
            return QPalette::Dark;  // button shadow
        case 0x11:
            return QPalette::PlaceholderText;  // grey text
        case 0x12:
            return QPalette::ButtonText;
        case 0x14:
            return QPalette::Light;  // button highlight
        case 0x15:
            return QPalette::Shadow;  // dark shadow
        case 0x16:
            return QPalette::Midlight;  // 3D light
        case 0x17:
            return QPalette::ToolTipText;  // info text
        case 0x18:
            return QPalette::ToolTipBase;  // info background
        default:
            return QPalette::WindowText;
    }
}

QColor toQColor(platform::Colour colour, const QPalette& palette) {
    if (colour & platform::kSystemColourFlag) {
        return palette.color(QPalette::Active, systemColourRole(colour & 0xFFu));
    }
    return QColor(static_cast<int>(colour & 0xFFu), static_cast<int>((colour >> 8) & 0xFFu),
                  static_cast<int>((colour >> 16) & 0xFFu));
}

QFont makeFont(const platform::FontSpec& spec, const QFont& base) {
    QFont font = base;
    if (!spec.face.empty()) font.setFamilies({toQString(spec.face)});
    if (spec.points > 0.0) font.setPointSizeF(spec.points);
    if (!spec.face.empty() || spec.points > 0.0 || spec.bold) font.setBold(spec.bold);
    return font;
}

void installFontSubstitutions() {
    const QStringList families = QFontDatabase::families();
    if (!hasFamily(families, QStringLiteral("Comic Sans MS")) &&
        hasFamily(families, QStringLiteral("Comic Neue"))) {
        QFont::insertSubstitution(QStringLiteral("Comic Sans MS"), QStringLiteral("Comic Neue"));
    }
    if (!hasFamily(families, QStringLiteral("Courier New"))) {
        QStringList monospace;
        for (const char* name : {"Liberation Mono", "DejaVu Sans Mono", "Noto Sans Mono"}) {
            if (hasFamily(families, QString::fromLatin1(name)))
                monospace << QString::fromLatin1(name);
        }
        monospace << QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
        QFont::insertSubstitutions(QStringLiteral("Courier New"), monospace);
    }
}

}  // namespace tempikon::qt
