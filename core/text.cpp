#include "core/text.h"

#include "platform/escape_text.h"

namespace tempikon::core {

std::string Latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string EscapeText(std::string_view text) {
    return platform::EscapeText(text);
}

std::string QuoteReply(std::string_view reply, std::size_t maxChars) {
    std::string out = '"' + EscapeText(reply.substr(0, maxChars));
    if (reply.size() > maxChars) out += "...";
    return out + '"';
}

}  // namespace tempikon::core
