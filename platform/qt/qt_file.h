#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace tempikon::qt {

// The files the program keeps itself (the settings, the history) are read
// and replaced by these, so that they share one rule: a pipe, a device or a
// folder at the path is never opened for good, and a file far larger than
// the program ever writes is not read whole into memory.

struct FileText {
    std::optional<std::string> unusable;  // why it must be left alone
    std::string text;                     // empty when absent
};

// The file's bytes; unusable when it is not a regular file, cannot be read
// or is larger than maxBytes.
FileText ReadGuardedFile(const std::string& path, std::size_t maxBytes);

// Writes target in place of the old file in one rename, with the old file's
// owner and mode. A symbolic link stays and its target is written. The
// reason when it failed.
std::optional<std::string> ReplaceFile(const std::filesystem::path& target,
                                       const std::string& text);

// "<what>: <the system's text for error>".
std::string SystemReason(const char* what, int error);

}  // namespace tempikon::qt
