#pragma once

#include <QString>
#include <string>
#include <vector>

namespace tempikon::qt {

// The text as the user's language writes it: the translation of the whole
// text, else of the pattern it was built from (a pattern's pieces are
// translated in turn), else the text as it is.
QString Translated(const std::string& text);

// Loads the program's translation for the system's locale from the first
// folder that holds one ("tempikon_de.qm"), and Qt's own for its buttons.
// False when there is none: the program stays English.
bool LoadTranslations(const std::vector<std::string>& folders);

}  // namespace tempikon::qt
