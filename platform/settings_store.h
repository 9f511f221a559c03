#pragma once

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
    virtual void writeText(const std::string& app, const std::string& section,
                           const std::string& key, const std::string& value) = 0;
    // Makes the writes so far durable in one atomic step.
    virtual StoreResult commit() = 0;
    // The user's decimal separator for stored numbers ('.' or ',').
    virtual char decimalSeparator() const = 0;
};

}  // namespace tempikon::platform
