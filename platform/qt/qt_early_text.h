#pragma once

#include <string>

namespace tempikon::qt {

// The text in the system locale's language, for what the program answers
// before the platform exists (--help): no application object, no display.
// The text as it is when there is no translation.
std::string EarlyTranslated(const std::string& text);

}  // namespace tempikon::qt
