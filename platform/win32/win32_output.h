#pragma once

#include <memory>
#include <string>

#include "platform/win32/win32_common.h"

namespace tempikon::win32 {

// Writes lines to one standard handle from a thread of its own: a pipe that
// nobody reads blocks WriteFile, and it must never block the event loop.
// A line that does not fit in the queue is dropped and counted; the next
// line that fits is preceded by "(N lines of output dropped)".
class Win32OutputWriter {
public:
    // Bytes the queue holds at most, notes included.
    static constexpr std::size_t kQueueBytes = 64 * 1024;
    // How long the destructor lets the thread write what is queued.
    static constexpr int kDrainMilliseconds = 400;

    explicit Win32OutputWriter(HANDLE handle);
    // Waits a bounded time for the queue to be written, then leaves the thread
    // to the end of the process if it is stuck in a write.
    ~Win32OutputWriter();
    Win32OutputWriter(const Win32OutputWriter&) = delete;
    Win32OutputWriter& operator=(const Win32OutputWriter&) = delete;

    HANDLE handle() const { return handle_; }
    // Never waits: queues the line (CR LF appended) or drops it.
    void writeLine(const std::string& line);

private:
    struct Shared;
    HANDLE handle_;
    // Shared with the thread, which may outlive this object.
    std::shared_ptr<Shared> shared_;
};

}  // namespace tempikon::win32
