#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tempikon::core {

// Bytes with control characters, quotes, backslashes and bytes beyond ASCII
// escaped (\x1b, \n, \"), so that a hostile reply or host name cannot drive
// the terminal it is shown on.
std::string EscapeText(std::string_view text);

// The first maxChars bytes of a reply, escaped, in quotes.
std::string QuoteReply(std::string_view reply, std::size_t maxChars = 60);

// Reply bytes (one byte per character) as UTF-8, for showing them in a control.
std::string Latin1ToUtf8(std::string_view bytes);

}  // namespace tempikon::core
