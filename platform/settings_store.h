#pragma once

#include <map>
#include <optional>
#include <string>

namespace tempikon::platform {

struct StoreResult {
    bool ok = true;
    std::string reason;
};

// Per-user persistent text values addressed by application, section and key.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual std::string readText(const std::string& app, const std::string& section,
                                 const std::string& key, const std::string& defaultValue) = 0;
    // Every text value of a section by key, from one reading of the store,
    // writes not yet committed included. A load that reads key by key can mix
    // two versions when another program saves in between.
    virtual std::map<std::string, std::string> readSection(const std::string& app,
                                                           const std::string& section) = 0;
    virtual void writeText(const std::string& app, const std::string& section,
                           const std::string& key, const std::string& value) = 0;
    // Makes the writes so far durable in one atomic step.
    virtual StoreResult commit() = 0;
    // The user's decimal separator for stored numbers ('.' or ',').
    virtual char decimalSeparator() const = 0;
    // Where the values of an application live, for messages (a file or a
    // registry path).
    virtual std::string locationOf(const std::string& app) const = 0;
    // Why the values of an application exist but cannot be read (a file
    // without read permission, a folder in its place, an I/O error);
    // nullopt when they can be read or are simply absent.
    virtual std::optional<std::string> unreadableReason(const std::string& app) const = 0;
};

}  // namespace tempikon::platform
