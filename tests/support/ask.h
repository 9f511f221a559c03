#pragma once

// Servers to ask by protocol, and the old one-line question of a Daytime
// server, for tests that look at one protocol at a time.

#include <cstdint>
#include <string>

#include "core/config.h"
#include "core/query/daytime_exchange.h"
#include "core/query/server_query.h"

namespace tempikon::testsupport {

inline core::ServerSpec DaytimeSpec(const std::string& host) {
    return {
        .host = host, .protocol = core::ProtocolSetting(core::Protocol::Daytime), .trustFile = {}};
}

inline core::ServerSpec NtpSpec(const std::string& host) {
    return {.host = host, .protocol = core::ProtocolSetting(core::Protocol::Ntp), .trustFile = {}};
}

inline core::ServerSpec NtsSpec(const std::string& host, const std::string& trustFile = {}) {
    return {.host = host,
            .protocol = core::ProtocolSetting(core::Protocol::Nts),
            .trustFile = trustFile};
}

// The time text a Daytime server gave; empty when none.
inline std::string AskDaytime(core::ServerQuery& query, const std::string& host,
                              std::int32_t timeoutSeconds) {
    return query.ask(DaytimeSpec(host), timeoutSeconds).timeText;
}

}  // namespace tempikon::testsupport
