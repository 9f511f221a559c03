#pragma once

#include <cstdint>
#include <string>

#include "platform/settings_store.h"

namespace tempikon::core {

// The configuration record; see LoadConfig/SaveConfig for its store mapping.
struct ConfigRecord {
    std::string Server;         // primary host; empty: not configured
    std::string Server2;        // backup host; empty: no backup
    float Offset = 0.0f;        // hours added to the primary's time
    float Offset2 = 0.0f;       // hours added to the backup's time
    std::int32_t Timeout = 0;   // seconds
    std::int32_t Interval = 0;  // minutes
};

// Process-wide state: the configuration and the one running query.
struct PublicStuff {
    ConfigRecord Config;
    bool QueryDone = false;
    std::string ReplyText;  // bytes as received (one byte per character)
};

inline constexpr const char* kAppName = "Tempikon";
inline constexpr const char* kSection = "CONFIG";
inline constexpr const char* kTitle = "Tempikon 1.2";

// Reads the six keys with their defaults; text that does not convert gives
// the key's default.
void LoadConfig(platform::SettingsStore& store, ConfigRecord& config);
// Writes all six keys and commits them in one atomic step.
platform::StoreResult SaveConfig(platform::SettingsStore& store, const ConfigRecord& config);

}  // namespace tempikon::core
