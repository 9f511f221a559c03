#pragma once

#include <string>

namespace tempikon::qt {

enum class Stream { Output, Error };

// Writes the line and a newline to standard output or standard error without
// ever waiting: nobody may be reading the pipe, and a one-shot run must still
// end. A line that does not fit now is dropped and counted; the next line
// that gets through says how many were lost. Safe from any thread.
void WriteLineWithoutWaiting(Stream stream, const std::string& line);

// Each line of the text (a trailing newline adds no empty line) the same way.
void WriteLinesWithoutWaiting(Stream stream, const std::string& text);

}  // namespace tempikon::qt
