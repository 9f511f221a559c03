#include "platform/qt/qt_settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLocale>
#include <QLockFile>
#include <QStandardPaths>
#include <QString>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <vector>

#include "platform/ini/ini_text.h"
#include "platform/qt/qt_file.h"
#include "platform/qt/qt_text.h"
#include "tempikon_version.h"

namespace tempikon::qt {

namespace {

namespace fs = std::filesystem;

const QString kOrganization = QString::fromUtf8(version::kProductName);

// How long a save waits for another program's lock.
constexpr int kLockWaitMs = 2000;
// A lock file whose holder cannot be told (empty or unreadable) counts as
// stale this soon; one that a live process holds is never taken, because its
// holder keeps it locked.
constexpr int kStaleLockMs = 200;

QString iniPath(const std::string& app) {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + kOrganization + QLatin1Char('/') + toQString(app) +
           QStringLiteral(".conf");
}

// Temporary files of earlier saves that were cut off: ours,
// "<name>.saving-XXXXXX", and those of QSaveFile in earlier versions,
// "<name>.XXXXXX" with random letters of both cases and digits (which a
// user's own "<name>.backup" does not have).
bool IsLeftover(const std::string& name, const std::string& stem) {
    if (name.compare(0, stem.size(), stem) != 0) return false;
    std::string rest = name.substr(stem.size());
    const bool ours = rest.rfind("saving-", 0) == 0;
    if (ours) rest.erase(0, 7);
    if (rest.size() != 6) return false;
    bool digit = false, lower = false, upper = false;
    for (const char c : rest) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isalnum(u)) return false;
        digit = digit || std::isdigit(u);
        lower = lower || std::islower(u);
        upper = upper || std::isupper(u);
    }
    return ours || (digit && lower && upper);
}

void removeLeftovers(const fs::path& target) {
    std::error_code error;
    const std::string stem = target.filename().string() + '.';
    for (const auto& entry : fs::directory_iterator(target.parent_path(), error)) {
        std::error_code ignored;
        if (IsLeftover(entry.path().filename().string(), stem) && !entry.is_symlink(ignored) &&
            entry.is_regular_file(ignored))
            fs::remove(entry.path(), ignored);
    }
}

// Why no file can be made and written beside the target (permission denied,
// read-only file system, no space), found by trying; nullopt when one can.
std::optional<std::string> whyNoFileThere(const fs::path& target) {
    std::string pattern = target.string() + ".saving-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return SystemReason("cannot create a file there", errno);
    // About what a lock file holds.
    const char bytes[128] = {};
    const bool written = ::write(fd, bytes, sizeof bytes) == sizeof bytes && ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    ::unlink(pattern.c_str());
    if (!written) return SystemReason("cannot write the file", error);
    return std::nullopt;
}

}  // namespace

std::string QtSettingsStore::readText(const std::string& app, const std::string& section,
                                      const std::string& key, const std::string& defaultValue) {
    const auto it = pending_.find({app, section, key});
    if (it != pending_.end()) return it->second;
    const FileText file = ReadGuardedFile(location(app), kMaxSettingsFileBytes);
    if (file.unusable) return defaultValue;
    return ini::ReadText(file.text, section, key).value_or(defaultValue);
}

std::map<std::string, std::string> QtSettingsStore::readSection(const std::string& app,
                                                                const std::string& section) {
    const FileText file = ReadGuardedFile(location(app), kMaxSettingsFileBytes);
    std::map<std::string, std::string> texts;
    if (!file.unusable) texts = ini::ReadSection(file.text, section);
    for (const auto& [where, value] : pending_) {
        if (std::get<0>(where) == app && std::get<1>(where) == section)
            texts[std::get<2>(where)] = value;
    }
    return texts;
}

void QtSettingsStore::writeText(const std::string& app, const std::string& section,
                                const std::string& key, const std::string& value) {
    pending_[{app, section, key}] = value;
}

std::optional<std::string> QtSettingsStore::save(const std::string& app) {
    const fs::path path(location(app));
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    if (error) return "cannot create its folder: " + error.message();

    fs::path target = path;
    if (fs::is_symlink(fs::symlink_status(path, error))) {
        char resolved[PATH_MAX];
        if (!::realpath(path.c_str(), resolved)) return std::string("the link leads nowhere");
        target = resolved;
    }

    // The lock that QSettings takes too, so that copies of the program of
    // either kind never save at once. QLockFile reads a lock file it finds
    // without O_NONBLOCK, so a pipe there (or a link to one) would hold it
    // for good: only a regular file counts as a lock file.
    const std::string lockPath = path.string() + ".lock";
    const auto notALockFile = [&]() -> std::optional<std::string> {
        struct stat info {};
        if (::lstat(lockPath.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return std::nullopt;
        return "something that is not a lock file is in the way: " + lockPath;
    };
    if (auto why = notALockFile()) return why;
    QLockFile lock(QString::fromStdString(lockPath));
    lock.setStaleLockTime(kStaleLockMs);
    if (!lock.tryLock(kLockWaitMs)) {
        if (auto why = notALockFile()) return why;
        // Only a lock file that stays is another program's; no lock file at
        // all is the folder's fault.
        if (lock.error() != QLockFile::LockFailedError) {
            if (auto why = whyNoFileThere(path)) return why;
        }
        return std::string("another program holds its lock");
    }
    removeLeftovers(target);

    const FileText old = ReadGuardedFile(target.string(), kMaxSettingsFileBytes);
    if (old.unusable) return *old.unusable;
    std::vector<ini::Value> values;
    for (const auto& [where, value] : pending_) {
        if (std::get<0>(where) == app)
            values.push_back({std::get<1>(where), std::get<2>(where), value});
    }
    return ReplaceFile(target, ini::WriteTexts(old.text, values));
}

platform::StoreResult QtSettingsStore::commit() {
    std::set<std::string> apps;
    for (const auto& entry : pending_) apps.insert(std::get<0>(entry.first));

    for (const std::string& app : apps) {
        if (const auto why = save(app)) {
            // Values that could not be written stay waiting for the next commit.
            return {false, "Cannot write the settings to " + location(app) + " (" + *why + ")"};
        }
    }
    pending_.clear();
    return {};
}

char QtSettingsStore::decimalSeparator() const {
    const QString point = QLocale::system().decimalPoint();
    return point == QStringLiteral(",") ? ',' : '.';
}

std::optional<std::string> QtSettingsStore::unreadableReason(const std::string& app) const {
    const std::string path = location(app);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        // Absent is "not configured"; anything else (a folder on the way
        // without search permission, an I/O error) hides the file.
        if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
        return std::string(std::strerror(errno));
    }
    if (S_ISDIR(info.st_mode)) return std::string(QT_TRANSLATE_NOOP("Tempikon", "it is a folder"));
    if (!S_ISREG(info.st_mode))
        return std::string(QT_TRANSLATE_NOOP("Tempikon", "not a regular file"));
    if (static_cast<std::uintmax_t>(info.st_size) > kMaxSettingsFileBytes)
        return std::string(QT_TRANSLATE_NOOP("Tempikon", "too large"));
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::string(std::strerror(errno));
    char byte = 0;
    const ssize_t n = ::read(fd, &byte, 1);
    const int readError = errno;
    ::close(fd);
    if (n < 0) return std::string(std::strerror(readError));
    return std::nullopt;
}

std::string QtSettingsStore::location(const std::string& app) {
    return toStdString(iniPath(app));
}

}  // namespace tempikon::qt
