#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QRect>
#include <string>

#include "platform/geometry.h"
#include "platform/qt/qt_text.h"

namespace tempikon::qt {

// Logical dots per inch of the primary screen (96 without a screen).
double logicalDpiX();
double logicalDpiY();
int twipsToPixels(int twips, double dpi);
QRect toPixels(const platform::TwipsRect& rect);

// The palette role that stands for a system colour index (0x12 is the
// button text); unknown indices give the window text.
QPalette::ColorRole systemColourRole(unsigned index);
// A 0x00BBGGRR value, or the palette's colour for a system colour index.
QColor toQColor(platform::Colour colour, const QPalette& palette);

// The font for a control: the base font with the face, size and weight of
// the spec applied (an empty face or zero size keeps the base's).
QFont makeFont(const platform::FontSpec& spec, const QFont& base);
// Substitutes free look-alikes for faces the system lacks ("Comic Sans MS",
// "Courier New").
void installFontSubstitutions();

}  // namespace tempikon::qt
