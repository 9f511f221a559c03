#pragma once

#include <string>
#include <string_view>

namespace tempikon::platform {

// Bytes with control characters, quotes, backslashes and bytes beyond ASCII
// escaped (\x1b, \n, \"), so that what a server or a certificate says
// cannot drive the terminal it is shown on or forge a line. One rule for
// the logic and the backends alike.
inline std::string EscapeText(std::string_view text) {
    static const char* const kHex = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c >= 0x7F) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += ch;
        }
    }
    return out;
}

}  // namespace tempikon::platform
