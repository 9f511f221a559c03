#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tempikon::app {

// What the command line asks for before anything else starts.
enum class EarlyRequest { None, Help, Version };

// --help, -h and /? ask for the usage, --version for the version; each must
// be a whole argument. Help wins when both are given.
EarlyRequest EarlyRequestFor(const std::vector<std::string>& arguments);

// "Tempikon 1.2.0.10".
std::string VersionText();
// Every switch, the exit statuses and where the settings live.
std::string UsageText();

// /QUERY asks without setting, unless /RUNONCE, which wins, is there too.
bool QueryModeRequested(std::string_view commandLine);

// The standard-error lines that tell a user what to write where.
std::string MissingConfigurationLine(const std::string& settingsLocation);
std::string UnreadableSettingsLine(const std::string& settingsLocation, const std::string& why);
std::string NoDisplayLines(const std::string& settingsLocation);

}  // namespace tempikon::app
