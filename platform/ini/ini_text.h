#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The INI text of the settings file, read and written without Qt: the values
// are plain text, and QSettings would turn "@Variant(...)" into objects of any
// depth. Reads what QSettings wrote (its escapes, quotes, "@@" and
// "@String(...)") and writes what QSettings reads. Standard library only.
namespace tempikon::ini {

struct Value {
    std::string section;
    std::string key;
    std::string text;
};

// The text of section/key as the program stores it, or nullopt when the key
// is absent or holds something other than text (a "@Variant(...)" and the
// like).
std::optional<std::string> ReadText(std::string_view file, std::string_view section,
                                    std::string_view key);

// Every text value of a section (keys of groups below it left out), by key.
std::map<std::string, std::string> ReadSection(std::string_view file, std::string_view section);

// The file with the values put in: existing keys replaced in place, new ones
// added to their section; other sections and keys kept as they were.
std::string WriteTexts(std::string_view file, const std::vector<Value>& values);

// A text as a value on the right of '='.
std::string EscapeText(std::string_view text);

}  // namespace tempikon::ini
