#include "platform/qt/qt_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tempikon::qt {

namespace fs = std::filesystem;

FileText ReadGuardedFile(const std::string& path, std::size_t maxBytes) {
    FileText result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) result.unusable = "cannot be read";
        return result;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        result.unusable = "not a regular file";
    } else if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
        result.unusable = "too large";
    } else {
        char buffer[8192];
        for (;;) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            result.text.append(buffer, static_cast<std::size_t>(got));
            if (result.text.size() > maxBytes) {
                result.unusable = "too large";
                break;
            }
        }
    }
    ::close(fd);
    return result;
}

std::string SystemReason(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

std::optional<std::string> ReplaceFile(const fs::path& target, const std::string& text) {
    std::string pattern = target.string() + ".saving-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return SystemReason("cannot create a file there", errno);
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) {
        ::fchmod(fd, old.st_mode & 07777);
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid())
            (void)::fchown(fd, old.st_uid, old.st_gid);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    std::size_t done = 0;
    bool ok = true;
    int error = 0;
    while (ok && done < text.size()) {
        const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) continue;
        ok = put > 0;
        if (ok) done += static_cast<std::size_t>(put);
        if (put < 0) error = errno;
    }
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        error = errno;
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(pattern.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(pattern.c_str());
        // A write of nothing at all sets no errno: the disk is full.
        return SystemReason("cannot write the file", error != 0 ? error : ENOSPC);
    }
    return std::nullopt;
}

}  // namespace tempikon::qt
