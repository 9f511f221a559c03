#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/config.h"
#include "platform/platform.h"

namespace tempikon::settings_dialog {

// The list file's name, looked for in the working folder first.
inline constexpr const char* kServerListFile = "timeservers.dat";

// Width of an entry as loaded; a check result goes behind it.
inline constexpr std::size_t kEntryColumns = 55;
// The most entries a list holds; further lines are not read.
inline constexpr std::size_t kMaxListEntries = 10'000;
// Host names start in this (1-based) column.
inline constexpr std::size_t kHostColumn = 4;

// Decoded characters of UTF-8 text; a byte that is not part of a valid
// sequence becomes U+FFFD, one column, so no byte ever stops the decoding.
std::u32string DecodeLenient(std::string_view bytes);
std::string EncodeUtf8(std::u32string_view text);

// One entry per line of the file, in file order. CR LF, CR alone or LF
// alone end a line. Each entry is the line's first 55
// characters padded with blanks to 55. At most kMaxListEntries entries.
std::vector<std::string> ServerListEntries(std::string_view fileBytes);

// The host: the characters from column 4 up to the first blank (space only)
// found in columns 4 to 55. nullopt when there is no such blank or the host
// is empty: no usable host.
std::optional<std::string> HostOfEntry(std::string_view entry);

// The text holds the word "UTC" in capitals, not within a longer word: as
// replies name it ("UTC(NIST)", "-UTC", " UTC") and as the list marks servers.
bool NamesUtc(std::string_view text);

// The entry marks its server as one that sends UTC: "UTC" as a word in its
// columns after the host (up to column 55). The result column does not count.
bool EntryMarksUtc(std::string_view entry);

// The protocol the entry's server speaks: NTP when the word "NTP" stands in
// its columns after the host, as "UTC" does; else Daytime, so that lists
// written before NTP read as they did.
core::Protocol EntryProtocol(std::string_view entry);

// An NTP check's result: the server's local time of day (secondsOfDay) and
// how far it is ahead of this clock, to the millisecond, e.g.
// "12:00:07 +1.502s"; beyond 1000 s in whole seconds, "12:00:07 -3600s".
std::string NtpResultText(int secondsOfDay, std::int64_t offsetMicros);

// The entry's first 55 characters, three blanks and "[timeText]", or
// "[Timeout ]" when timeText is empty. timeText is UTF-8.
std::string EntryWithResult(std::string_view entry, std::string_view timeText);

// The list from the working folder's file, else from the first installed
// copy in the data folders; empty when there is none or it cannot be read.
std::vector<std::string> LoadServerListEntries(platform::Platform& platform);

// dir + "/" + name, without doubling the slash.
std::string JoinPath(const std::string& dir, const std::string& name);

}  // namespace tempikon::settings_dialog
