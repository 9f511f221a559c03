#include "settings_dialog/server_list.h"

#include <algorithm>
#include <cstdio>

#include "core/time_text.h"

namespace tempikon::settings_dialog {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

std::u32string FirstColumns(std::string_view entry, std::size_t n) {
    std::u32string text = DecodeLenient(entry);
    if (text.size() > n) text.resize(n);
    return text;
}

}  // namespace

std::u32string DecodeLenient(std::string_view bytes) {
    std::u32string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            out += static_cast<char32_t>(lead);
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if ((lead & 0xE0) == 0xC0) {
            length = 2;
            cp = lead & 0x1F;
            min = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            cp = lead & 0x0F;
            min = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            cp = lead & 0x07;
            min = 0x10000;
        }
        bool valid = length != 0 && i + length <= bytes.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto c = static_cast<unsigned char>(bytes[i + k]);
            if (!IsContinuation(c)) valid = false;
            cp = (cp << 6) | (c & 0x3F);
        }
        // Overlong forms, surrogates and values beyond Unicode are not text.
        if (valid && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) valid = false;
        if (valid) {
            out += cp;
            i += length;
        } else {
            out += kReplacement;
            ++i;
        }
    }
    return out;
}

std::string EncodeUtf8(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t cp : text) {
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::vector<std::string> ServerListEntries(std::string_view fileBytes) {
    const std::u32string text = DecodeLenient(fileBytes);
    std::vector<std::string> entries;
    auto addLine = [&](std::size_t begin, std::size_t end) {
        std::u32string line = text.substr(begin, std::min(end - begin, kEntryColumns));
        line.resize(kEntryColumns, U' ');
        entries.push_back(EncodeUtf8(line));
    };
    std::size_t begin = 0;
    std::size_t i = 0;
    while (i < text.size() && entries.size() < kMaxListEntries) {
        const char32_t c = text[i];
        if (c != U'\r' && c != U'\n') {
            ++i;
            continue;
        }
        addLine(begin, i);
        ++i;
        // CR LF is one terminator; LF alone ends a line too, as files
        // written on Linux have it.
        if (c == U'\r' && i < text.size() && text[i] == U'\n') ++i;
        begin = i;
    }
    // A last line without terminator; a terminator at the end adds nothing.
    if (begin < text.size() && entries.size() < kMaxListEntries) addLine(begin, text.size());
    return entries;
}

std::optional<std::string> HostOfEntry(std::string_view entry) {
    const std::u32string text = FirstColumns(entry, kEntryColumns);
    const std::size_t start = kHostColumn - 1;
    if (text.size() <= start) return std::nullopt;
    const std::size_t blank = text.find(U' ', start);
    if (blank == std::u32string::npos || blank == start) return std::nullopt;
    return EncodeUtf8(std::u32string_view(text).substr(start, blank - start));
}

namespace {

bool NamesWord(std::string_view text, std::string_view word) {
    auto wordChar = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    };
    for (std::size_t at = text.find(word); at != std::string_view::npos;
         at = text.find(word, at + 1)) {
        const bool before = at == 0 || !wordChar(text[at - 1]);
        const bool after = at + word.size() == text.size() || !wordChar(text[at + word.size()]);
        if (before && after) return true;
    }
    return false;
}

// The columns after the host, up to column 55; empty without a usable host.
std::string MarkColumns(std::string_view entry) {
    const std::u32string text = FirstColumns(entry, kEntryColumns);
    const std::size_t start = kHostColumn - 1;
    if (text.size() <= start) return {};
    const std::size_t blank = text.find(U' ', start);
    if (blank == std::u32string::npos || blank == start) return {};
    return EncodeUtf8(std::u32string_view(text).substr(blank));
}

}  // namespace

bool NamesUtc(std::string_view text) {
    return NamesWord(text, "UTC");
}

bool EntryMarksUtc(std::string_view entry) {
    return NamesUtc(MarkColumns(entry));
}

core::Protocol EntryProtocol(std::string_view entry) {
    const std::string marks = MarkColumns(entry);
    if (NamesWord(marks, "NTS")) return core::Protocol::Nts;
    return NamesWord(marks, "NTP") ? core::Protocol::Ntp : core::Protocol::Daytime;
}

std::string NtpResultText(int secondsOfDay, std::int64_t offsetMicros) {
    // Half a millisecond rounds away from zero; the magnitude is taken first
    // so that the sign never rests on a rounded-away zero.
    const bool behind = offsetMicros < 0;
    const std::uint64_t magnitude = behind ? 0 - static_cast<std::uint64_t>(offsetMicros)
                                           : static_cast<std::uint64_t>(offsetMicros);
    const std::uint64_t ms = (magnitude + 500) / 1000;
    char diff[40];
    if (ms < 1'000'000) {
        std::snprintf(diff, sizeof diff, "%c%llu.%03llus", behind && ms != 0 ? '-' : '+',
                      static_cast<unsigned long long>(ms / 1000),
                      static_cast<unsigned long long>(ms % 1000));
    } else {
        std::snprintf(diff, sizeof diff, "%c%llus", behind ? '-' : '+',
                      static_cast<unsigned long long>((ms + 500) / 1000));
    }
    return core::FormatTimeOfDay(secondsOfDay) + " " + diff;
}

std::string EntryWithResult(std::string_view entry, std::string_view timeText) {
    std::u32string head = FirstColumns(entry, kEntryColumns);
    head.resize(kEntryColumns, U' ');
    std::string out = EncodeUtf8(head);
    out += "   ";
    if (timeText.empty()) {
        out += "[Timeout ]";
    } else {
        out += '[';
        out += timeText;
        out += ']';
    }
    return out;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

std::vector<std::string> LoadServerListEntries(platform::Platform& platform) {
    std::optional<std::string> bytes = platform.readFile(kServerListFile);
    for (const std::string& dir : platform.dataDirectories()) {
        if (bytes) break;
        bytes = platform.readFile(JoinPath(dir, kServerListFile));
    }
    if (!bytes) return {};
    return ServerListEntries(*bytes);
}

}  // namespace tempikon::settings_dialog
