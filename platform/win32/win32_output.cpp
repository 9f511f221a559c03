#include "platform/win32/win32_output.h"

#include <io.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/win32/win32_start.h"
#include "platform/win32/win32_text.h"

namespace tempikon::win32 {

struct Win32OutputWriter::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> queue;
    std::size_t queuedBytes = 0;
    std::size_t dropped = 0;
    bool writing = false;
    bool stopping = false;
};

namespace {

void WriteWhole(HANDLE handle, const std::string& text) {
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring wide = widen(text);
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        if (!WriteFile(handle, text.data() + done, static_cast<DWORD>(text.size() - done), &written,
                       nullptr) ||
            written == 0)
            return;
        done += written;
    }
}

bool Usable(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

}  // namespace

void AttachParentConsoleIfNoOutput() {
    static bool tried = false;
    if (tried || Usable(GetStdHandle(STD_OUTPUT_HANDLE))) return;
    tried = true;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    HANDLE out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (!Usable(out)) return;
    SetStdHandle(STD_OUTPUT_HANDLE, out);
    if (!Usable(GetStdHandle(STD_ERROR_HANDLE))) SetStdHandle(STD_ERROR_HANDLE, out);
    // The C runtime took its streams' handles at start, when there were none.
    if (!std::freopen("CONOUT$", "w", stdout)) return;
    if (!Usable(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stderr)))))
        static_cast<void>(std::freopen("CONOUT$", "w", stderr));
}

Win32OutputWriter::Win32OutputWriter(HANDLE handle)
    : handle_(handle), shared_(std::make_shared<Shared>()) {
    // Detached: a thread stuck in a write to a pipe nobody reads must not
    // hold up the end of the process.
    std::thread([handle, shared = shared_] {
        std::unique_lock lock(shared->mutex);
        for (;;) {
            shared->changed.wait(lock, [&] { return !shared->queue.empty() || shared->stopping; });
            if (shared->queue.empty()) return;
            std::string text = std::move(shared->queue.front());
            shared->queue.pop_front();
            shared->writing = true;
            lock.unlock();
            WriteWhole(handle, text);
            lock.lock();
            shared->queuedBytes -= text.size();
            shared->writing = false;
            shared->changed.notify_all();
        }
    }).detach();
}

Win32OutputWriter::~Win32OutputWriter() {
    std::unique_lock lock(shared_->mutex);
    shared_->stopping = true;
    shared_->changed.notify_all();
    shared_->changed.wait_for(lock, std::chrono::milliseconds(kDrainMilliseconds),
                              [&] { return shared_->queue.empty() && !shared_->writing; });
}

void Win32OutputWriter::writeLine(const std::string& line) {
    std::lock_guard lock(shared_->mutex);
    std::string text;
    if (shared_->dropped > 0)
        text.append("(")
            .append(std::to_string(shared_->dropped))
            .append(" lines of output dropped)\r\n");
    text.append(line).append("\r\n");
    if (shared_->queuedBytes + text.size() > kQueueBytes) {
        ++shared_->dropped;
        return;
    }
    shared_->dropped = 0;
    shared_->queuedBytes += text.size();
    shared_->queue.push_back(std::move(text));
    shared_->changed.notify_all();
}

}  // namespace tempikon::win32
