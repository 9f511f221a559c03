#include "app/command_line.h"

#include "app/main_window.h"
#include "platform/translate.h"
#include "tempikon_version.h"

namespace tempikon::app {

EarlyRequest EarlyRequestFor(const std::vector<std::string>& arguments) {
    EarlyRequest request = EarlyRequest::None;
    for (const std::string& argument : arguments) {
        if (argument == "--help" || argument == "-h" || argument == "/?") return EarlyRequest::Help;
        if (argument == "--version") request = EarlyRequest::Version;
    }
    return request;
}

std::string VersionText() {
    return std::string(version::kProductName) + " " + version::kVersionText;
}

std::string UsageText() {
    // One text for the translators: its lines are laid out together.
    return QT_TRANSLATE_NOOP(
        "Tempikon",
        "Usage: tempikon [/RUNONCE | /SERVER | /QUERY] [/MIN]\n"
        "       tempikon --help | --version\n"
        "\n"
        "Sets the computer's clock from a time server, asking the backup server when\n"
        "the primary gives no time. Each server speaks its own protocol:\n"
        "  Daytime  (RFC 867, TCP port 13) a time of day in whole seconds; the date\n"
        "           stays unless the time lies across midnight\n"
        "  NTP      (RFC 5905, UDP port 123) the full UTC date and time to the\n"
        "           millisecond: a clock on any date is set to it\n"
        "  NTS      (RFC 8915, TCP port 4460, then NTP) NTP whose answers are\n"
        "           authenticated: the server's certificate proves who it is\n"
        "A server is host, host:port, [IPv6 address]:port or a bare IPv6 address.\n"
        "\n"
        "Without a switch the main window opens for configuration and \"Set time\".\n"
        "Switches count anywhere on the command line, in any case; /RUNONCE wins over\n"
        "/QUERY, and /QUERY over /SERVER.\n"
        "  /RUNONCE     set the clock once, show the result for five seconds, end\n"
        "  /SERVER      set the clock now and then every configured number of minutes,\n"
        "               with an icon in the desktop's tray where there is one\n"
        "  /QUERY       ask the servers and print what they say; never set the clock\n"
        "               (needs no display and no right to set the clock)\n"
        "  /MIN         start with the main window minimised (with /SERVER and a tray:\n"
        "               the icon alone); /SERVER /MIN is how the configuration's\n"
        "               \"Start with the desktop\" starts it at login\n"
        "  -h, --help, /?  print this help and end\n"
        "  --version    print the version and end\n"
        "\n"
        "/QUERY prints one line for each server asked:\n"
        "  <server>: <time in reply> -> <corrected time> d=<difference>s rtt=<round trip>ms <how>\n"
        "  <server>: NTP stratum=<n> offset=<s>s rtt=<ms>ms leap=<n> -> <date and time> <how>\n"
        "  <server>: NTS ... leap=<n> cert=\"<certificate subject>\" -> <date and time> <how>\n"
        "<how> is step, or slew for a correction under 0.4 s (Step=always: never).\n"
        "\n"
        "Exit status:\n"
        "  0  the clock was set (/QUERY: a server gave a valid time)\n"
        "  1  no server gave a valid time\n"
        "  2  no primary server configured, the settings cannot be read, or no display\n"
        "     for the configuration window\n"
        "  3  the system refused to set the clock\n"
        "\n"
        "Settings: the [CONFIG] section of ~/.config/Tempikon/Tempikon.conf\n"
        "(${XDG_CONFIG_HOME}/Tempikon/Tempikon.conf when that is set; on Windows the\n"
        "registry key HKEY_CURRENT_USER\\Software\\Tempikon\\Tempikon\\CONFIG), keys Server,\n"
        "Server2, Protocol, Protocol2 (Daytime, NTP or NTS), Offset, Offset2 (hours),\n"
        "Zone, Zone2 (UTC: a Daytime server sends UTC), Timeout (seconds, each request),\n"
        "Interval (minutes), Step (auto, or always to step every correction) and\n"
        "TrustedCertificates, TrustedCertificates2 (NTS: a PEM file of certificates\n"
        "trusted for that server besides the system's).\n"
        "Failures are explained on standard error. See man tempikon.\n");
}

bool QueryModeRequested(std::string_view commandLine) {
    return !SwitchPresent(commandLine, "/RUNONCE") && SwitchPresent(commandLine, "/QUERY");
}

std::string MissingConfigurationLine(const std::string& settingsLocation) {
    return "tempikon: no primary time server configured: set Server in section [CONFIG] of " +
           settingsLocation + ", or choose one in the configuration window";
}

std::string UnreadableSettingsLine(const std::string& settingsLocation, const std::string& why) {
    return "tempikon: cannot read the settings file " + settingsLocation + ": " + why;
}

std::string NoDisplayLines(const std::string& settingsLocation) {
    return "tempikon: no display found; the configuration window needs one.\n"
           "Run with /RUNONCE or /SERVER to set the clock without a display, or /QUERY to\n"
           "ask the servers without setting it. The settings live in section [CONFIG] of\n" +
           settingsLocation +
           " (keys Server, Server2, Protocol, Protocol2, Offset, Offset2, Timeout, Interval,\n"
           "TrustedCertificates, TrustedCertificates2).";
}

}  // namespace tempikon::app
