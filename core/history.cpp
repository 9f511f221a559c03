#include "core/history.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/clock.h"
#include "platform/translate.h"

namespace tempikon::core {

namespace {

constexpr std::int64_t kMicros = platform::kMicrosPerSecond;
// Long texts are cut: a reason quotes what a server sent.
constexpr std::size_t kMaxTextBytes = 300;
constexpr std::size_t kColumns = 8;

// A text safe for one CSV field: blanks for control characters, at most
// kMaxTextBytes (not inside a UTF-8 sequence), an apostrophe before a
// leading formula sign, quoted when it holds a comma, quote or blank edge.
std::string CsvText(std::string_view text) {
    std::string clean;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        clean += (u < 0x20 || u == 0x7f) ? ' ' : c;
    }
    if (clean.size() > kMaxTextBytes) {
        std::size_t cut = kMaxTextBytes;
        while (cut > 0 && (static_cast<unsigned char>(clean[cut]) & 0xc0) == 0x80) --cut;
        clean.resize(cut);
    }
    if (!clean.empty() && (clean[0] == '=' || clean[0] == '+' || clean[0] == '-' ||
                           clean[0] == '@' || clean[0] == '\''))
        clean.insert(clean.begin(), '\'');
    const bool quote = clean.find_first_of(",\"") != std::string::npos ||
                       (!clean.empty() && (clean.front() == ' ' || clean.back() == ' '));
    if (!quote) return clean;
    std::string quoted = "\"";
    for (const char c : clean) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

// Undoes CsvText's apostrophe.
std::string PlainText(std::string text) {
    if (text.size() >= 2 && text[0] == '\'' &&
        (text[1] == '=' || text[1] == '+' || text[1] == '-' || text[1] == '@' || text[1] == '\''))
        text.erase(0, 1);
    return text;
}

// Fields of one CSV line; nullopt when a quote is left open.
std::optional<std::vector<std::string>> SplitCsv(std::string_view line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c != '"') {
                fields.back() += c;
            } else if (i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else {
                quoted = false;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    if (quoted) return std::nullopt;
    return fields;
}

// "-0.000123" from microseconds.
std::string Seconds(std::int64_t micros) {
    const std::uint64_t magnitude =
        micros < 0 ? 0 - static_cast<std::uint64_t>(micros) : static_cast<std::uint64_t>(micros);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%s%llu.%06llu", micros < 0 ? "-" : "",
                  static_cast<unsigned long long>(magnitude / kMicros),
                  static_cast<unsigned long long>(magnitude % kMicros));
    return buf;
}

// Digits only, as much as fits; nullopt for anything else.
std::optional<std::int64_t> Digits(std::string_view text, std::size_t maxDigits = 12) {
    if (text.empty() || text.size() > maxDigits) return std::nullopt;
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// The reverse of Seconds(): up to 6 decimals; nullopt when not a number.
std::optional<std::int64_t> ParseSeconds(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    const std::size_t point = text.find('.');
    const auto whole = Digits(text.substr(0, point));
    if (!whole) return std::nullopt;
    std::int64_t fraction = 0;
    if (point != std::string_view::npos) {
        std::string digits(text.substr(point + 1));
        if (digits.empty() || digits.size() > 6) return std::nullopt;
        digits.resize(6, '0');
        const auto f = Digits(digits);
        if (!f) return std::nullopt;
        fraction = *f;
    }
    const std::int64_t micros = *whole * kMicros + fraction;
    return negative ? -micros : micros;
}

std::string IsoTime(std::int64_t micros) {
    const platform::LocalDateTime t = platform::CivilFromMicros(micros);
    std::int64_t fraction = micros % kMicros;
    if (fraction < 0) fraction += kMicros;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, static_cast<long long>(fraction));
    return buf;
}

// "2026-12-08T07:30:00.123456Z" (the fraction optional).
std::optional<std::int64_t> ParseIsoTime(std::string_view s) {
    if (s.size() < 20 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' ||
        s[16] != ':' || s.back() != 'Z')
        return std::nullopt;
    const auto year = Digits(s.substr(0, 4));
    const auto month = Digits(s.substr(5, 2));
    const auto day = Digits(s.substr(8, 2));
    const auto hour = Digits(s.substr(11, 2));
    const auto minute = Digits(s.substr(14, 2));
    const auto second = Digits(s.substr(17, 2));
    if (!year || !month || !day || !hour || !minute || !second || *month < 1 || *month > 12 ||
        *day < 1 || *day > 31 || *hour > 23 || *minute > 59 || *second > 60)
        return std::nullopt;
    std::int64_t fraction = 0;
    const std::string_view rest = s.substr(19, s.size() - 20);
    if (!rest.empty()) {
        if (rest[0] != '.') return std::nullopt;
        const auto f = ParseSeconds(std::string("0") + std::string(rest));
        if (!f) return std::nullopt;
        fraction = *f;
    }
    const std::int64_t days = platform::DaysFromCivil(
        static_cast<int>(*year), static_cast<int>(*month), static_cast<int>(*day));
    return ((days * 24 + *hour) * 60 + *minute) * 60 * kMicros + *second * kMicros + fraction;
}

// The lines of a text, without their breaks (a CR before LF included).
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::string Figure(const char* format, double value) {
    char buf[48];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

}  // namespace

std::string FormatHistoryLine(const HistoryRecord& r) {
    std::string line = IsoTime(r.atMicros);
    line += ',' + CsvText(r.server);
    line += ',' + CsvText(r.protocol);
    line += ',' + (r.offsetMicros ? Seconds(*r.offsetMicros) : std::string());
    line += ',' + (r.roundTripMicros ? Seconds(*r.roundTripMicros) : std::string());
    line += ',' + CsvText(r.correction);
    line += r.set ? ",set," : ",failed,";
    line += CsvText(r.reason);
    return line;
}

std::optional<HistoryRecord> ParseHistoryLine(std::string_view line) {
    const auto fields = SplitCsv(line);
    if (!fields || fields->size() != kColumns) return std::nullopt;
    const std::vector<std::string>& f = *fields;
    HistoryRecord r;
    const auto at = ParseIsoTime(f[0]);
    if (!at) return std::nullopt;
    r.atMicros = *at;
    r.server = PlainText(f[1]);
    r.protocol = PlainText(f[2]);
    if (!f[3].empty()) {
        r.offsetMicros = ParseSeconds(f[3]);
        if (!r.offsetMicros) return std::nullopt;
    }
    if (!f[4].empty()) {
        r.roundTripMicros = ParseSeconds(f[4]);
        if (!r.roundTripMicros) return std::nullopt;
    }
    r.correction = PlainText(f[5]);
    if (r.correction != "step" && r.correction != "slew" && r.correction != "none")
        return std::nullopt;
    if (f[6] != "set" && f[6] != "failed") return std::nullopt;
    r.set = f[6] == "set";
    r.reason = PlainText(f[7]);
    return r;
}

ParsedHistory ParseHistory(std::string_view text) {
    ParsedHistory parsed;
    for (const std::string_view line : Lines(text)) {
        if (line.empty() || line == kHistoryHeader) continue;
        if (auto record = ParseHistoryLine(line))
            parsed.records.push_back(std::move(*record));
        else
            ++parsed.skipped;
    }
    // Copies of the program, or a clock set back, may have written out of
    // order; equal times keep the file's order.
    std::stable_sort(
        parsed.records.begin(), parsed.records.end(),
        [](const HistoryRecord& a, const HistoryRecord& b) { return a.atMicros < b.atMicros; });
    return parsed;
}

std::optional<std::string> BoundedHistory(std::string_view text) {
    // Counted first: most appends find the file within bounds.
    const auto breaks = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    if (breaks + (text.empty() || text.back() == '\n' ? 0 : 1) <= kHistoryMaxLines)
        return std::nullopt;
    const std::vector<std::string_view> lines = Lines(text);
    if (lines.size() <= kHistoryMaxLines) return std::nullopt;
    std::string kept(kHistoryHeader);
    kept += '\n';
    std::size_t taken = 0;
    std::size_t first = lines.size();
    // The newest lines are at the end; the header is not a record.
    while (first > 0 && taken < kHistoryKeep) {
        --first;
        if (lines[first] != kHistoryHeader && !lines[first].empty()) ++taken;
    }
    for (std::size_t i = first; i < lines.size(); ++i) {
        if (lines[i] == kHistoryHeader || lines[i].empty()) continue;
        kept += lines[i];
        kept += '\n';
    }
    return kept;
}

std::string FormatHistoryTime(std::int64_t localMicros) {
    const platform::LocalDateTime t = platform::CivilFromMicros(localMicros);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf;
}

std::string DescribeRecord(const HistoryRecord& r, int utcOffsetSeconds) {
    // The figures first, then the words in a pattern the window translates.
    std::string head = FormatHistoryTime(r.atMicros + utcOffsetSeconds * kMicros);
    head += "  " + r.server + " (" + r.protocol + ")";
    if (r.offsetMicros) head += "  " + Figure("%+.3f ms", *r.offsetMicros / 1000.0);
    if (!r.set) return FillPattern(QT_TRANSLATE_NOOP("Tempikon", "%1: failed, %2"), head, r.reason);
    const std::string trip =
        r.roundTripMicros ? Figure("%.3f ms", *r.roundTripMicros / 1000.0) : std::string("-");
    const char* const pattern =
        r.correction == "slew" ? QT_TRANSLATE_NOOP("Tempikon", "%1: slewed, round trip %2")
        : r.correction == "step"
            ? QT_TRANSLATE_NOOP("Tempikon", "%1: stepped, round trip %2")
            : QT_TRANSLATE_NOOP("Tempikon", "%1: not corrected, round trip %2");
    return FillPattern(pattern, head, trip);
}

std::optional<Drift> ComputeDrift(const std::vector<HistoryRecord>& records) {
    std::vector<double> rates;  // seconds gained a second
    for (std::size_t i = 0; i < records.size(); ++i) {
        const HistoryRecord& first = records[i];
        if (!first.set || first.correction == "none") continue;
        // The next measurement: nothing between corrected the clock.
        for (std::size_t j = i + 1; j < records.size(); ++j) {
            const HistoryRecord& next = records[j];
            if (!next.offsetMicros) continue;
            const std::int64_t between = next.atMicros - first.atMicros;
            // Seconds apart say more of the measurement than of the clock.
            if (between >= 60 * kMicros)
                rates.push_back(-static_cast<double>(*next.offsetMicros) /
                                static_cast<double>(between));
            break;
        }
    }
    if (rates.size() < static_cast<std::size_t>(kDriftMinPairs)) return std::nullopt;
    if (rates.size() > static_cast<std::size_t>(kDriftPairs))
        rates.erase(rates.begin(), rates.end() - kDriftPairs);
    std::sort(rates.begin(), rates.end());
    const std::size_t n = rates.size();
    const double median = n % 2 ? rates[n / 2] : (rates[n / 2 - 1] + rates[n / 2]) / 2;
    Drift drift;
    drift.secondsPerDay = median * platform::kSecondsPerDay;
    drift.ppm = median * 1e6;
    drift.pairs = static_cast<int>(n);
    return drift;
}

std::string DriftSentence(const Drift& drift) {
    const double perDay = std::fabs(drift.secondsPerDay);
    const double ppm = std::fabs(drift.ppm);
    // Two figures are as many as a median of ten pairs gives.
    const std::string day = Figure(perDay >= 10 ? "%.0f" : perDay >= 0.1 ? "%.1f" : "%.2f", perDay);
    const std::string parts = Figure(ppm >= 10 ? "%.0f" : "%.1f", ppm);
    const char* const gains =
        QT_TRANSLATE_NOOP("Tempikon", "This clock gains about %1 s a day (%2 ppm)");
    const char* const loses =
        QT_TRANSLATE_NOOP("Tempikon", "This clock loses about %1 s a day (%2 ppm)");
    return FillPattern(drift.secondsPerDay >= 0 ? gains : loses, day, parts);
}

std::string FillPattern(std::string_view pattern, std::string_view first, std::string_view second) {
    std::string text;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() &&
            (pattern[i + 1] == '1' || pattern[i + 1] == '2')) {
            text += pattern[i + 1] == '1' ? first : second;
            ++i;
        } else {
            text += pattern[i];
        }
    }
    return text;
}

std::optional<std::string> HistoryLog::append(const HistoryRecord& record) {
    const platform::FileRead old = file_.read(kHistoryMaxBytes);
    if (!old.ok) return old.reason;
    std::string text;
    // A new file, or one cut off in the middle of a line.
    if (old.text.empty())
        text = std::string(kHistoryHeader) + '\n';
    else if (old.text.back() != '\n')
        text = "\n";
    text += FormatHistoryLine(record) + '\n';
    if (const auto bounded = BoundedHistory(old.text + text)) {
        const platform::StoreResult r = file_.replace(*bounded);
        if (!r.ok) return r.reason;
        return std::nullopt;
    }
    const platform::StoreResult r = file_.append(text);
    if (!r.ok) return r.reason;
    return std::nullopt;
}

HistoryLog::Loaded HistoryLog::load() {
    Loaded loaded;
    const platform::FileRead file = file_.read(kHistoryMaxBytes);
    if (!file.ok) {
        loaded.refused = file.reason;
        return loaded;
    }
    loaded.history = ParseHistory(file.text);
    return loaded;
}

}  // namespace tempikon::core
