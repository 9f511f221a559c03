#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/state_file.h"

namespace tempikon::core {

// One setting as history.csv keeps it.
struct HistoryRecord {
    std::int64_t atMicros = 0;  // UTC, when the setting ended
    std::string server;         // as configured; empty when none was asked
    std::string protocol;       // "Daytime", "NTP" or "NTS"
    // What the server's time said of the clock (server minus clock); none
    // when no server gave a time.
    std::optional<std::int64_t> offsetMicros;
    std::optional<std::int64_t> roundTripMicros;
    std::string correction = "none";  // "step", "slew" or "none"
    bool set = false;
    std::string reason;  // the first reason when not set
    bool operator==(const HistoryRecord&) const = default;
};

// The file's first line, naming the columns.
inline constexpr std::string_view kHistoryHeader =
    "time_utc,server,protocol,offset_s,round_trip_s,correction,outcome,reason";
// Past this many lines the file is rewritten with the newest kHistoryKeep
// records.
inline constexpr std::size_t kHistoryMaxLines = 10'000;
inline constexpr std::size_t kHistoryKeep = 5'000;
// A history file larger than this is someone else's file, or damaged: it is
// neither read nor added to. 10,000 of the longest lines stay below it.
inline constexpr std::size_t kHistoryMaxBytes = 8u << 20;

// One line, without its line break. Texts are quoted where they need it;
// line breaks and control characters in them become blanks (one record,
// one line), and a text a spreadsheet would take for a formula gets a
// leading apostrophe.
std::string FormatHistoryLine(const HistoryRecord& record);
// nullopt for a line that is not a record (the header, a damaged line).
std::optional<HistoryRecord> ParseHistoryLine(std::string_view line);

struct ParsedHistory {
    std::vector<HistoryRecord> records;  // in time order
    std::size_t skipped = 0;             // lines that were not records
};
ParsedHistory ParseHistory(std::string_view text);

// The text to write back when it holds more than kHistoryMaxLines lines:
// the header and the newest kHistoryKeep lines; nullopt when it is within
// bounds.
std::optional<std::string> BoundedHistory(std::string_view text);

// "2026-12-08 14:03:27" (local time given as a UTC-shifted instant).
std::string FormatHistoryTime(std::int64_t localMicros);
// "-12.345 ms" style figures for the record shown in full.
std::string DescribeRecord(const HistoryRecord& record, int utcOffsetSeconds);

// How fast the clock runs away between settings.
struct Drift {
    double secondsPerDay = 0;  // positive: the clock gains
    double ppm = 0;
    int pairs = 0;  // pairs the median was taken from
};
// Pairs of settings where the first corrected the clock: the offset the
// next measurement found over the time between, as the median of the last
// kDriftPairs pairs; nullopt with fewer than kDriftMinPairs.
inline constexpr int kDriftPairs = 10;
inline constexpr int kDriftMinPairs = 3;
std::optional<Drift> ComputeDrift(const std::vector<HistoryRecord>& records);
// pattern with %1 and %2 replaced by first and second (each once).
std::string FillPattern(std::string_view pattern, std::string_view first,
                        std::string_view second = {});
// "This clock gains about 1.2 s a day (14 ppm)".
std::string DriftSentence(const Drift& drift);

// Adds records to the history file and reads it back through the platform.
class HistoryLog {
public:
    explicit HistoryLog(platform::StateFile& file) : file_(file) {}

    // Appends the record, with the header when the file is new, and bounds
    // the file. The reason when it could not be written.
    std::optional<std::string> append(const HistoryRecord& record);

    struct Loaded {
        ParsedHistory history;
        std::optional<std::string> refused;  // why the file was not read
    };
    Loaded load();

private:
    platform::StateFile& file_;
};

}  // namespace tempikon::core
