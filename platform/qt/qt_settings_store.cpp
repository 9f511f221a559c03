#include "platform/qt/qt_settings_store.h"

#include <QLocale>
#include <QSettings>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif
#include <QStandardPaths>
#include <QStringList>
#include <QVariant>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>

#include "platform/qt/qt_convert.h"
#include "tempikon_version.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace tempikon::qt {

namespace {

const QString kOrganization = QString::fromUtf8(version::kProductName);

std::unique_ptr<QSettings> open(const std::string& app) {
    // Native: the registry on Windows; elsewhere an INI file named .conf.
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, kOrganization,
                                       toQString(app));
}

QString keyPath(const std::string& section, const std::string& key) {
    return toQString(section) + QLatin1Char('/') + toQString(key);
}

// Identity of the file on disk, to tell whether a sync replaced it.
struct FileIdentity {
    bool exists = false;
    unsigned long long device = 0;
    unsigned long long inode = 0;
    long long modifiedNs = 0;

    bool operator==(const FileIdentity&) const = default;
};

FileIdentity identify(const QString& path) {
    FileIdentity id;
#ifndef _WIN32
    struct stat st {};
    if (::stat(path.toLocal8Bit().constData(), &st) == 0) {
        id.exists = true;
        id.device = static_cast<unsigned long long>(st.st_dev);
        id.inode = static_cast<unsigned long long>(st.st_ino);
        id.modifiedNs =
            static_cast<long long>(st.st_mtim.tv_sec) * 1'000'000'000LL + st.st_mtim.tv_nsec;
    }
#else
    (void)path;
#endif
    return id;
}

#ifndef _WIN32
// Where QSettings keeps an application's INI file, found without opening it:
// QSettings reads the file as soon as it is made.
QString iniPath(const std::string& app) {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + kOrganization + QLatin1Char('/') + toQString(app) +
           QStringLiteral(".conf");
}
#endif

// Why the settings file must be left alone, or nullopt when it is usable (or
// absent). A pipe would block the program as it starts; a file far larger
// than any configuration would be read whole into memory.
std::optional<std::string> unusable(const std::string& app) {
#ifndef _WIN32
    namespace fs = std::filesystem;
    const fs::path path(iniPath(app).toStdString());
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!fs::exists(status)) return std::nullopt;
    if (!fs::is_regular_file(status)) return std::string("not a regular file");
    const auto size = fs::file_size(path, error);
    if (error || size > kMaxSettingsFileBytes) return std::string("too large");
#else
    (void)app;
#endif
    return std::nullopt;
}

}  // namespace

std::string QtSettingsStore::readText(const std::string& app, const std::string& section,
                                      const std::string& key, const std::string& defaultValue) {
    const auto it = pending_.find({app, section, key});
    if (it != pending_.end()) return it->second;
    if (unusable(app)) return defaultValue;

    const auto settings = open(app);
    const QVariant value = settings->value(keyPath(section, key));
    if (!value.isValid()) return defaultValue;
    // An unquoted comma makes QSettings read a list ("5,5" written by hand
    // under a comma locale); put it back together.
    if (value.typeId() == QMetaType::QStringList) {
        return toStdString(value.toStringList().join(QLatin1Char(',')));
    }
    if (!value.canConvert<QString>()) return defaultValue;
    return toStdString(value.toString());
}

void QtSettingsStore::writeText(const std::string& app, const std::string& section,
                                const std::string& key, const std::string& value) {
    pending_[{app, section, key}] = value;
}

platform::StoreResult QtSettingsStore::commit() {
    std::set<std::string> apps;
    for (const auto& entry : pending_) apps.insert(std::get<0>(entry.first));

    platform::StoreResult result;
    for (const std::string& app : apps) {
        if (const auto why = unusable(app)) {
            result = {false, "Cannot write the settings to " + location(app) + " (" + *why + ")"};
            break;
        }
        const auto settings = open(app);
        for (const auto& [where, value] : pending_) {
            if (std::get<0>(where) != app) continue;
            settings->setValue(keyPath(std::get<1>(where), std::get<2>(where)), toQString(value));
        }
        const QString file = settings->fileName();
        const FileIdentity before = identify(file);
        settings->sync();
        switch (settings->status()) {
            case QSettings::NoError:
                break;
            case QSettings::AccessError:
                result = {false, "Cannot write the settings to " + toStdString(file)};
                break;
            case QSettings::FormatError: {
                // The old file held lines that are not INI. QSettings keeps
                // the first error it met, so a failed write would hide behind
                // it: the file must have been replaced for the save to count.
                const FileIdentity after = identify(file);
                if (!after.exists || after == before) {
                    result = {false, "Cannot write the settings to " + toStdString(file) +
                                         " (the file is damaged)"};
                }
                break;
            }
        }
        if (!result.ok) break;
    }
    // Values that could not be written stay waiting for the next commit.
    if (result.ok) pending_.clear();
    return result;
}

char QtSettingsStore::decimalSeparator() const {
    const QString point = QLocale::system().decimalPoint();
    return point == QStringLiteral(",") ? ',' : '.';
}

std::optional<std::string> QtSettingsStore::unreadableReason(const std::string& app) const {
#ifndef _WIN32
    const std::string path = toStdString(iniPath(app));
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        // Absent is "not configured"; anything else (a folder on the way
        // without search permission, an I/O error) hides the file.
        if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
        return std::string(std::strerror(errno));
    }
    if (S_ISDIR(info.st_mode)) return std::string("it is a folder");
    if (!S_ISREG(info.st_mode)) return std::string("not a regular file");
    if (static_cast<std::uintmax_t>(info.st_size) > kMaxSettingsFileBytes)
        return std::string("too large");
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::string(std::strerror(errno));
    char byte = 0;
    const ssize_t n = ::read(fd, &byte, 1);
    const int readError = errno;
    ::close(fd);
    if (n < 0) return std::string(std::strerror(readError));
#else
    (void)app;
#endif
    return std::nullopt;
}

std::string QtSettingsStore::location(const std::string& app) {
#ifndef _WIN32
    return toStdString(iniPath(app));
#else
    return toStdString(open(app)->fileName());
#endif
}

}  // namespace tempikon::qt
