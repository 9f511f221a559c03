#pragma once

#include <map>
#include <optional>
#include <string>
#include <tuple>

#include "platform/settings_store.h"

namespace tempikon::win32 {

// HKEY_CURRENT_USER\Software\Tempikon\<app>\<section>, values as REG_SZ: the
// place QSettings("Tempikon", app) uses on Windows.
class Win32SettingsStore : public platform::SettingsStore {
public:
    std::string readText(const std::string& app, const std::string& section, const std::string& key,
                         const std::string& defaultValue) override;
    std::map<std::string, std::string> readSection(const std::string& app,
                                                   const std::string& section) override;
    void writeText(const std::string& app, const std::string& section, const std::string& key,
                   const std::string& value) override;
    platform::StoreResult commit() override;
    char decimalSeparator() const override;
    std::string locationOf(const std::string& app) const override;
    std::optional<std::string> unreadableReason(const std::string& app) const override;

    static std::wstring keyPath(const std::string& app, const std::string& section);

private:
    using Address = std::tuple<std::string, std::string, std::string>;
    std::map<Address, std::string> pending_;
};

}  // namespace tempikon::win32
