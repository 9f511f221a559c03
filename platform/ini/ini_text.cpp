#include "platform/ini/ini_text.h"

#include <cstdint>

namespace tempikon::ini {

namespace {

struct Entry {
    std::string fullKey;  // "section/key", unescaped
    std::string rawKey;
    std::string rawValue;
};

struct Section {
    std::string prefix;  // unescaped name and '/', empty for the top
    std::string header;  // the line as found, empty for the top
    std::vector<Entry> entries;
};

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | ((cp >> 12) & 0x0F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Next logical line: a value may run over line ends inside quotes or after a
// backslash; a ';' outside quotes starts a comment. Returns false at the end.
bool NextLine(std::string_view data, std::size_t& pos, std::string_view& line,
              std::size_t& equals) {
    for (;;) {
        while (pos < data.size() && IsSpace(data[pos])) ++pos;
        if (pos >= data.size()) return false;
        if (data[pos] == ';') {
            while (pos < data.size() && data[pos] != '\n' && data[pos] != '\r') ++pos;
            continue;
        }
        break;
    }
    const std::size_t start = pos;
    equals = std::string_view::npos;
    bool quoted = false;
    while (pos < data.size()) {
        const char c = data[pos];
        if (c == '\\') {
            ++pos;
            if (pos < data.size()) {
                const char next = data[pos++];
                if (pos < data.size() &&
                    ((next == '\n' && data[pos] == '\r') || (next == '\r' && data[pos] == '\n')))
                    ++pos;
            }
            continue;
        }
        if (c == '"') {
            quoted = !quoted;
        } else if (c == '=' && !quoted && equals == std::string_view::npos) {
            equals = pos - start;
        } else if ((c == '\n' || c == '\r' || c == ';') && !quoted) {
            break;
        }
        ++pos;
    }
    line = data.substr(start, pos - start);
    return true;
}

// Keys and section names: "%XX" and "%UXXXX" escapes, '\' for '/'.
std::string UnescapeKey(std::string_view raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '\\') {
            out += '/';
        } else if (c == '%' && i + 5 < raw.size() && raw[i + 1] == 'U') {
            std::uint32_t cp = 0;
            bool ok = true;
            for (std::size_t k = 2; k < 6; ++k) {
                const int d = HexDigit(raw[i + k]);
                ok = ok && d >= 0;
                cp = cp * 16 + static_cast<std::uint32_t>(d < 0 ? 0 : d);
            }
            if (ok) {
                AppendUtf8(out, cp);
                i += 5;
            } else {
                out += c;
            }
        } else if (c == '%' && i + 2 < raw.size() && HexDigit(raw[i + 1]) >= 0 &&
                   HexDigit(raw[i + 2]) >= 0) {
            AppendUtf8(
                out, static_cast<std::uint32_t>(HexDigit(raw[i + 1]) * 16 + HexDigit(raw[i + 2])));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::string EscapeKey(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/') {
            out += '\\';
        } else if ((u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
                   c == '_' || c == '-' || c == '.' || u >= 0x80) {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

std::vector<Section> Parse(std::string_view data) {
    if (data.substr(0, 3) == "\xEF\xBB\xBF") data.remove_prefix(3);
    std::vector<Section> sections(1);
    std::size_t pos = 0, equals = 0;
    std::string_view line;
    while (NextLine(data, pos, line, equals)) {
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            const std::string_view name =
                Trim(line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
            Section section;
            section.header = std::string(line);
            std::string plain = UnescapeKey(name);
            bool general = plain.size() == 7;
            for (std::size_t i = 0; general && i < 7; ++i)
                general = (plain[i] | 0x20) == "general"[i];
            if (!general) section.prefix = plain + '/';
            sections.push_back(std::move(section));
            continue;
        }
        if (equals == std::string_view::npos) continue;
        const std::string_view rawKey = Trim(line.substr(0, equals));
        if (rawKey.empty()) continue;
        Entry entry;
        entry.rawKey = std::string(rawKey);
        entry.fullKey = sections.back().prefix + UnescapeKey(rawKey);
        entry.rawValue = std::string(line.substr(equals + 1));
        sections.back().entries.push_back(std::move(entry));
    }
    return sections;
}

// One escape after its backslash, at raw[i]: "\n" and the like, "\x" hex and
// octal digits, a backslash before a line end (which joins lines); any other
// character is dropped.
void Unescape(std::string_view raw, std::size_t& i, std::string& out) {
    const char e = raw[i++];
    switch (e) {
        case 'a':
            out += '\a';
            return;
        case 'b':
            out += '\b';
            return;
        case 'f':
            out += '\f';
            return;
        case 'n':
            out += '\n';
            return;
        case 'r':
            out += '\r';
            return;
        case 't':
            out += '\t';
            return;
        case 'v':
            out += '\v';
            return;
        case '"':
        case '?':
        case '\'':
        case '\\':
            out += e;
            return;
        default:
            break;
    }
    if (e == 'x' || (e >= '0' && e <= '7')) {
        const int base = e == 'x' ? 16 : 8;
        std::uint32_t value = e == 'x' ? 0 : static_cast<std::uint32_t>(e - '0');
        if (e == 'x' && (i >= raw.size() || HexDigit(raw[i]) < 0)) return;
        while (i < raw.size()) {
            const int d = HexDigit(raw[i]);
            if (d < 0 || d >= base) break;
            value =
                (value * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(d)) & 0xFFFF;
            ++i;
        }
        AppendUtf8(out, value);
        return;
    }
    if ((e == '\n' || e == '\r') && i < raw.size() && (raw[i] == '\n' || raw[i] == '\r') &&
        raw[i] != e)
        ++i;
}

// A value's text after Qt's escapes and quotes; unquoted commas split it into
// items, whose blanks around are dropped.
std::vector<std::string> UnescapeValue(std::string_view raw) {
    std::vector<std::string> items;
    std::string current;
    bool quoted = false;
    bool currentQuoted = false;
    std::size_t chopLimit = 0;
    std::size_t i = 0;
    auto skipSpaces = [&] {
        while (i < raw.size() && (raw[i] == ' ' || raw[i] == '\t')) ++i;
    };
    auto chopTrailing = [&] {
        while (current.size() > chopLimit && (current.back() == ' ' || current.back() == '\t'))
            current.pop_back();
    };
    skipSpaces();
    while (i < raw.size()) {
        const char c = raw[i];
        if (c == '\\') {
            ++i;
            if (i >= raw.size()) break;
            Unescape(raw, i, current);
            // Blanks written as escapes are kept.
            chopLimit = current.size();
            continue;
        }
        if (c == '"') {
            ++i;
            currentQuoted = true;
            quoted = !quoted;
            if (!quoted) skipSpaces();
            continue;
        }
        if (c == ',' && !quoted) {
            if (!currentQuoted) chopTrailing();
            items.push_back(std::move(current));
            current.clear();
            currentQuoted = false;
            chopLimit = 0;
            ++i;
            skipSpaces();
            continue;
        }
        current += c;
        ++i;
    }
    if (!currentQuoted) chopTrailing();
    items.push_back(std::move(current));
    return items;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// QSettings' tags: "@@" is one '@', "@String(...)" and "@ByteArray(...)" hold
// text; every other tag holds an object, which is never text here.
std::optional<std::string> Untag(std::string_view item, bool inList) {
    if (item.empty() || item.front() != '@') return std::string(item);
    if (StartsWith(item, "@@")) return std::string(item.substr(1));
    if (inList) return std::nullopt;
    if (item.back() == ')') {
        if (StartsWith(item, "@String(")) return std::string(item.substr(8, item.size() - 9));
        if (StartsWith(item, "@ByteArray(")) return std::string(item.substr(11, item.size() - 12));
        return std::nullopt;
    }
    return std::string(item);
}

}  // namespace

namespace {

std::optional<std::string> TextOf(const Entry& entry) {
    const std::vector<std::string> items = UnescapeValue(entry.rawValue);
    if (items.size() == 1) return Untag(items.front(), false);
    std::string joined;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const auto item = Untag(items[i], true);
        if (!item) return std::nullopt;
        if (i > 0) joined += ',';
        joined += *item;
    }
    return joined;
}

}  // namespace

std::optional<std::string> ReadText(std::string_view file, std::string_view section,
                                    std::string_view key) {
    const std::string wanted = std::string(section) + '/' + std::string(key);
    const Entry* found = nullptr;
    const std::vector<Section> sections = Parse(file);
    for (const Section& s : sections)
        for (const Entry& e : s.entries)
            if (e.fullKey == wanted) found = &e;
    if (!found) return std::nullopt;
    return TextOf(*found);
}

std::map<std::string, std::string> ReadSection(std::string_view file, std::string_view section) {
    const std::string prefix = std::string(section) + '/';
    // The last of a key's lines counts, as in ReadText.
    std::map<std::string, const Entry*> last;
    const std::vector<Section> sections = Parse(file);
    for (const Section& s : sections) {
        for (const Entry& e : s.entries) {
            if (e.fullKey.compare(0, prefix.size(), prefix) != 0) continue;
            std::string key = e.fullKey.substr(prefix.size());
            if (!key.empty() && key.find('/') == std::string::npos) last[std::move(key)] = &e;
        }
    }
    std::map<std::string, std::string> texts;
    for (const auto& [key, entry] : last) {
        if (auto text = TextOf(*entry)) texts.emplace(key, std::move(*text));
    }
    return texts;
}

std::string EscapeText(std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    bool needsQuotes = false;
    bool escapeNextIfHex = false;
    // A leading '@' would read as a tag.
    if (!text.empty() && text.front() == '@') out += '@';
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == ';' || c == ',' || c == '=') needsQuotes = true;
        if (escapeNextIfHex && HexDigit(c) >= 0) {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 15];
            continue;
        }
        escapeNextIfHex = false;
        switch (c) {
            case '\0':
                out += "\\0";
                escapeNextIfHex = true;
                break;
            case '\a':
                out += "\\a";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\v':
                out += "\\v";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (u <= 0x1F) {
                    out += "\\x";
                    if (u >= 16) out += kHex[u >> 4];
                    out += kHex[u & 15];
                    escapeNextIfHex = true;
                } else {
                    out += c;
                }
        }
    }
    if (needsQuotes || (!out.empty() && (out.front() == ' ' || out.back() == ' ')))
        out = '"' + out + '"';
    return out;
}

namespace {

std::string Merge(std::string_view file, const std::vector<Value>& values) {
    std::vector<Section> sections = Parse(file);
    for (const Value& value : values) {
        const std::string wanted = value.section + '/' + value.key;
        bool replaced = false;
        for (Section& s : sections) {
            for (Entry& e : s.entries) {
                if (e.fullKey != wanted) continue;
                e.rawValue = EscapeText(value.text);
                replaced = true;
            }
        }
        if (replaced) continue;
        Section* home = nullptr;
        for (Section& s : sections)
            if (!s.header.empty() && s.prefix == value.section + '/') home = &s;
        if (!home) {
            Section fresh;
            fresh.prefix = value.section + '/';
            fresh.header = '[' + EscapeKey(value.section) + ']';
            sections.push_back(std::move(fresh));
            home = &sections.back();
        }
        home->entries.push_back({wanted, EscapeKey(value.key), EscapeText(value.text)});
    }
    std::string out;
    for (const Section& s : sections) {
        if (s.header.empty() && s.entries.empty()) continue;
        if (!out.empty()) out += '\n';
        if (!s.header.empty()) out += s.header + '\n';
        for (const Entry& e : s.entries) out += e.rawKey + '=' + e.rawValue + '\n';
    }
    return out;
}

}  // namespace

std::string WriteTexts(std::string_view file, const std::vector<Value>& values) {
    std::string out = Merge(file, values);
    // A damaged file can swallow what follows it (an open quote, a backslash
    // at its end); the values count more than its other lines.
    for (const Value& value : values) {
        if (ReadText(out, value.section, value.key) != value.text) return Merge({}, values);
    }
    return out;
}

}  // namespace tempikon::ini
