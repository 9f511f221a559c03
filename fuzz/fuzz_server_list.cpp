// The server list file: its lines as list entries, the host name taken out
// of an entry, and a check's result written behind it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "settings_dialog/server_list.h"

namespace {

using namespace tempikon;
namespace sd = settings_dialog;

// Byte ranges of the lines: CR LF, a lone CR or a lone LF end a line; no
// empty line after a final terminator. (CR and LF are never part of a
// multi-byte character, so bytes and decoded characters split alike.)
std::vector<std::string_view> Lines(std::string_view bytes) {
    std::vector<std::string_view> lines;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\r' && bytes[i] != '\n') continue;
        lines.push_back(bytes.substr(begin, i - begin));
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        begin = i + 1;
    }
    if (begin < bytes.size()) lines.push_back(bytes.substr(begin));
    return lines;
}

void CheckEntry(std::string_view line, const std::string& entry, std::string_view timeText) {
    FUZZ_CHECK(fuzz::IsValidUtf8(entry));
    const std::u32string columns = sd::DecodeLenient(entry);
    FUZZ_CHECK(columns.size() == sd::kEntryColumns);
    // The line's first 55 characters, padded with blanks.
    std::u32string expected = sd::DecodeLenient(line);
    if (expected.size() > sd::kEntryColumns) expected.resize(sd::kEntryColumns);
    expected.resize(sd::kEntryColumns, U' ');
    FUZZ_CHECK(columns == expected);

    const std::optional<std::string> host = sd::HostOfEntry(entry);
    const std::size_t blank = columns.find(U' ', sd::kHostColumn - 1);
    if (host) {
        FUZZ_CHECK(!host->empty());
        FUZZ_CHECK(host->find(' ') == std::string::npos);
        FUZZ_CHECK(fuzz::IsValidUtf8(*host));
        const std::u32string hostColumns = sd::DecodeLenient(*host);
        FUZZ_CHECK(hostColumns.size() <= sd::kEntryColumns - sd::kHostColumn);
        FUZZ_CHECK(columns.substr(sd::kHostColumn - 1, hostColumns.size()) == hostColumns);
        FUZZ_CHECK(columns[sd::kHostColumn - 1 + hostColumns.size()] == U' ');
    } else {
        // No host: column 4 is a blank, or no blank ends the name.
        FUZZ_CHECK(blank == std::u32string::npos || blank == sd::kHostColumn - 1);
    }

    // A result goes behind column 55 and never changes the host; a second
    // one replaces the first.
    const std::string withResult = sd::EntryWithResult(entry, timeText);
    FUZZ_CHECK(sd::HostOfEntry(withResult) == host);
    FUZZ_CHECK(withResult.compare(0, entry.size(), entry) == 0);
    const std::string expectedTail =
        "   [" + (timeText.empty() ? std::string("Timeout ") : std::string(timeText)) + "]";
    FUZZ_CHECK(withResult.substr(entry.size()) == expectedTail);
    FUZZ_CHECK(sd::EntryWithResult(sd::EntryWithResult(withResult, "12:00:00"), timeText) ==
               withResult);
    // The protocol mark sits after a host, within the 55 columns.
    const core::Protocol protocol = sd::EntryProtocol(entry);
    FUZZ_CHECK(host || protocol == core::Protocol::Daytime);
    FUZZ_CHECK(sd::EntryProtocol(withResult) == protocol);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> entries = sd::ServerListEntries(bytes);
    const std::vector<std::string_view> lines = Lines(bytes);
    FUZZ_CHECK(entries.size() == std::min(lines.size(), sd::kMaxListEntries));
    // A result text as a check writes it: up to 8 characters of some reply.
    const std::string timeText = sd::EncodeUtf8(sd::DecodeLenient(bytes.substr(0, 8)));
    // The first lines in full; more lines add no new paths, only time.
    for (std::size_t i = 0; i < entries.size() && i < 16; ++i) {
        CheckEntry(lines[i], entries[i], timeText);
    }

    // Any entry text, not only loaded ones (a check rewrites entries).
    const std::optional<std::string> host = sd::HostOfEntry(bytes);
    if (host) FUZZ_CHECK(!host->empty() && host->find(' ') == std::string::npos);
    return 0;
}
