#include "platform/qt/qt_window_part.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/qt/qt_output.h"

namespace tempikon::qt {

namespace {

// Exit code of a program that could not start its windows (a broken
// installation), apart from every outcome the program reports itself.
constexpr int kExitNoWindowPart = 127;

// Beside the program (the build tree), where a package puts it relative to
// the program (its prefix need not be the configured one), and where this
// build installs it.
std::vector<std::string> candidates() {
    namespace fs = std::filesystem;
    std::vector<std::string> paths;
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        paths.push_back((self.parent_path() / kWindowPartFile).string());
        const fs::path libexec(TEMPIKON_LIBEXECDIR);
        if (libexec.is_relative())
            paths.push_back((self.parent_path() / ".." / libexec / "tempikon" / kWindowPartFile)
                                .lexically_normal()
                                .string());
    }
    const std::string installed = std::string(TEMPIKON_PKGLIBEXECDIR) + "/" + kWindowPartFile;
    if (std::find(paths.begin(), paths.end(), installed) == paths.end()) paths.push_back(installed);
    return paths;
}

// The part at path, loaded; nullptr with the reason in why. A privileged
// copy opens the file without following a link and loads it through its
// descriptor, so that what is checked is what is loaded.
void* load(const std::string& path, bool secure, std::string& why) {
    void* part = nullptr;
    if (!secure) {
        part = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!part) why = ::dlerror();
        return part;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        why = path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != 0 ||
        (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        why = path + ": not a file of root's that only root may change";
    } else {
        part = ::dlopen(("/proc/self/fd/" + std::to_string(fd)).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!part) why = ::dlerror();
    }
    ::close(fd);
    return part;
}

}  // namespace

int RunWindowPart(int& argc, char** argv) {
    const bool secure = ::getauxval(AT_SECURE) != 0;
    std::string reasons;
    for (const std::string& path : candidates()) {
        std::string why;
        if (void* part = load(path, secure, why)) {
            using Entry = int (*)(int*, char**);
            auto entry = reinterpret_cast<Entry>(::dlsym(part, kWindowPartEntry));
            if (entry) return entry(&argc, argv);
            why = path + ": no " + kWindowPartEntry;
        }
        reasons += (reasons.empty() ? "" : "; ") + why;
    }
    WriteLineWithoutWaiting(Stream::Error,
                            "The windows of this program could not be loaded: " + reasons);
    return kExitNoWindowPart;
}

}  // namespace tempikon::qt
