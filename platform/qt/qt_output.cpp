#include "platform/qt/qt_output.h"

#include <poll.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdio>
#include <mutex>

namespace tempikon::qt {

namespace {

std::mutex outputMutex;
// Lines that did not fit, per stream, for the whole process: Qt's messages
// and the program's lines share standard error.
std::size_t droppedLines[2] = {0, 0};

}  // namespace

void WriteLineWithoutWaiting(Stream stream, const std::string& line) {
    const bool error = stream == Stream::Error;
    const int fd = error ? STDERR_FILENO : STDOUT_FILENO;
    std::lock_guard lock(outputMutex);
    std::size_t& dropped = droppedLines[error ? 1 : 0];
    // Unbuffered as a rule; anything written through stdio goes first.
    if (error) std::fflush(stderr);
    std::string text;
    if (dropped > 0) {
        // Appended piece by piece: GCC 12 at -O3 warns falsely about the
        // same text built with operator+.
        text.append("(").append(std::to_string(dropped)).append(" lines of output dropped)\n");
    }
    text += line;
    // Up to PIPE_BUF bytes go into a pipe whole once poll says it has room.
    if (text.size() >= PIPE_BUF) text.resize(PIPE_BUF - 1);
    text += '\n';
    pollfd out{fd, POLLOUT, 0};
    const bool room = ::poll(&out, 1, 0) == 1 && (out.revents & POLLOUT) &&
                      !(out.revents & (POLLERR | POLLHUP | POLLNVAL));
    if (room && ::write(fd, text.data(), text.size()) == ssize_t(text.size())) {
        dropped = 0;
    } else {
        ++dropped;
    }
}

void WriteLinesWithoutWaiting(Stream stream, const std::string& text) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        WriteLineWithoutWaiting(stream, text.substr(start, end - start));
        start = end + 1;
    }
}

}  // namespace tempikon::qt
