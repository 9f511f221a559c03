#include "platform/qt/qt_state_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/qt/qt_file.h"
#include "platform/qt/qt_output.h"
#include "platform/qt/qt_text.h"
#include "tempikon_version.h"

namespace tempikon::qt {

namespace fs = std::filesystem;

std::string QtStateFile::folder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    // The base directory rules: a relative value is ignored.
    const std::string base = state && state[0] == '/'
                                 ? std::string(state)
                                 : toStdString(QDir::homePath()) + "/.local/state";
    return base + "/" + version::kProductName;
}

std::string QtStateFile::location() const {
    return folder() + "/" + name_;
}

platform::FileRead QtStateFile::read(std::size_t maxBytes) {
    const FileText file = ReadGuardedFile(location(), maxBytes);
    if (file.unusable) return {false, {}, *file.unusable};
    return {true, file.text, {}};
}

platform::StoreResult QtStateFile::append(const std::string& text) {
    std::error_code error;
    fs::create_directories(folder(), error);
    if (error) return {false, "cannot create its folder: " + error.message()};
    // Without O_NONBLOCK a pipe with no reader would hold the setting for good.
    const int fd =
        ::open(location().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == ENXIO) return {false, "not a regular file"};
        return {false, SystemReason("cannot open the file", errno)};
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return {false, "not a regular file"};
    }
    std::size_t done = 0;
    int failure = 0;
    while (done < text.size()) {
        const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            failure = put < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(put);
    }
    if (::close(fd) != 0 && failure == 0) failure = errno;
    if (failure != 0) return {false, SystemReason("cannot write the file", failure)};
    return {};
}

platform::StoreResult QtStateFile::replace(const std::string& text) {
    std::error_code error;
    fs::create_directories(folder(), error);
    if (error) return {false, "cannot create its folder: " + error.message()};
    fs::path target = location();
    if (fs::is_symlink(fs::symlink_status(target, error))) {
        target = fs::canonical(target, error);
        if (error) return {false, "the link leads nowhere"};
    }
    if (const auto why = ReplaceFile(target, text)) return {false, *why};
    return {};
}

bool QtStateFile::openFolder() {
    std::error_code error;
    fs::create_directories(folder(), error);
    if (opener_) return opener_(folder());
    WriteLineWithoutWaiting(Stream::Error, "Not opened without a display: " + folder());
    return false;
}

}  // namespace tempikon::qt
