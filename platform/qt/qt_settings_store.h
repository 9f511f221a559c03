#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <tuple>

#include "platform/settings_store.h"

namespace tempikon::qt {

// A settings file larger than this is taken for damaged: neither read nor
// written over.
inline constexpr std::size_t kMaxSettingsFileBytes = 1 << 20;

// An INI file per application (${XDG_CONFIG_HOME:-~/.config}/Tempikon/<app>.conf)
// with one group per section, in the format QSettings reads and writes, but
// read and written by a reader of the program's own: the values are plain
// text, and QSettings would build objects of any depth from "@Variant(...)".
// Writes wait in memory until commit(), which takes QSettings' lock (waiting
// at most 2 s; stale locks are taken over), merges them into what is on disk
// and replaces the file in one rename, keeping a symbolic link, the owner and
// the mode. A settings file that is not a regular file, or is larger than
// kMaxSettingsFileBytes, reads as absent and is not written over.
class QtSettingsStore : public platform::SettingsStore {
public:
    std::string readText(const std::string& app, const std::string& section, const std::string& key,
                         const std::string& defaultValue) override;
    std::map<std::string, std::string> readSection(const std::string& app,
                                                   const std::string& section) override;
    void writeText(const std::string& app, const std::string& section, const std::string& key,
                   const std::string& value) override;
    platform::StoreResult commit() override;
    char decimalSeparator() const override;
    std::string locationOf(const std::string& app) const override { return location(app); }
    std::optional<std::string> unreadableReason(const std::string& app) const override;

    // Where the values of an application live (file name or registry path).
    static std::string location(const std::string& app);

private:
    // Why the values of app could not be saved, or nullopt.
    std::optional<std::string> save(const std::string& app);

    std::map<std::tuple<std::string, std::string, std::string>, std::string> pending_;
};

}  // namespace tempikon::qt
