#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/config.h"
#include "platform/platform.h"
#include "platform/translate.h"

namespace tempikon::settings_dialog {

inline constexpr const char* kTimeoutMessage =
    QT_TRANSLATE_NOOP("Tempikon", "Please enter a valid timeout value.");
inline constexpr const char* kFieldsMessage = QT_TRANSLATE_NOOP(
    "Tempikon",
    "Please select a primary timeserver and enter correct values for offset, timeout and "
    "interval.");
inline constexpr const char* kAbortMessage =
    QT_TRANSLATE_NOOP("Tempikon", "Check of all servers will end after the current server check.");
// Why Cancel, Escape and the close box do nothing while a check runs.
inline constexpr const char* kCheckRunning =
    QT_TRANSLATE_NOOP("Tempikon", "A check is running: Abort stops it.");
inline constexpr double kOffsetLimit = 23.5;

// Where Help goes when no help page is installed.
inline constexpr const char* kHelpWebAddress = "https://tempikon.github.io";
inline constexpr const char* kHelpFile = "help.html";

// "WARNING: The selected server '<host>' didn't answer ..."
std::string NoAnswerWarning(const std::string& host);

// The time-out a check takes from the field: the trimmed text's leading
// number rounded half to even. nullopt when the number is 0 or less, rounds
// to 0, or does not fit 32 bits.
std::optional<std::int32_t> TimeoutFromField(std::string_view text);

// The six field texts as typed, and the two "sends UTC" boxes.
struct FieldTexts {
    std::string server;
    std::string offset;
    std::string server2;
    std::string offset2;
    std::string timeout;
    std::string interval;
    bool utc = false;
    bool utc2 = false;
    // Each server's protocol choice, as stored ("Daytime", "NTP", ...).
    std::string protocol{};
    std::string protocol2{};
    // Each server's file of extra trusted certificates (empty: the system's
    // alone); whether it can be read is the setting's to say.
    std::string trust{};
    std::string trust2{};
};

// The zone a ticked box stores; an unticked one stores empty.
inline constexpr const char* kUtcZone = "UTC";

// OK's check and take-over: the new configuration, or nullopt when any field
// is refused (empty primary, time-out or interval not a whole number of at
// least 1 after rounding or beyond 32 bits, an offset outside +-23.5).
// Settings the dialog does not show are taken from `kept`, so that OK never
// loses them.
std::optional<core::Config> ValidatedConfig(const FieldTexts& fields,
                                            const core::Config& kept = {});

// Hours to add to the server's time to get the local time, to the nearest
// half hour (halves to even). Reads characters 1-2 and 4-5 of timeText.
float EstimateOffset(int localHour, int localMinute, std::string_view timeText);

// What adopting a server puts into its offset field and UTC box.
struct Adoption {
    float offset = 0.0f;
    bool utc = false;
};

// A server that gave timeText (empty: none, and the user adopts it anyway)
// in the reply `reply`. It sends UTC when the reply names UTC or its list
// entry is marked so (listedUtc); with a time, that is believed only when
// the estimated offset is this computer's UTC offset now (utcOffsetSeconds)
// to the nearest half hour. Then UTC with offset 0; else the estimate.
Adoption ChooseAdoption(std::string_view reply, std::string_view timeText, bool listedUtc,
                        int localHour, int localMinute, int utcOffsetSeconds);

// "file://" and the path, with everything but unreserved characters, "/" and ":"
// percent-encoded.
std::string FileUrl(const std::string& absolutePath);

// The installed help page as a file:// address, else the web page.
std::string HelpAddress(platform::Platform& platform);

}  // namespace tempikon::settings_dialog
