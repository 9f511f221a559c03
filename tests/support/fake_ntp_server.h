#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/ntp_packet.h"
#include "tests/fake/fake_platform.h"

namespace tempikon::testing {

// A scripted NTP server on the fake platform: its clock runs aheadMicros
// ahead of the fake clock as it read at the first request (so settings and
// slews of the fake clock do not move it); each request takes `out` ms to reach it and the
// reply `back` ms to return (delaysMs, one pair per request, the last one
// repeated), so a sample's error is (out - back) / 2; `change` may spoil
// the reply before it is sent.
struct FakeNtpServer {
    std::int64_t aheadMicros = 0;
    std::vector<std::pair<long long, long long>> delaysMs{{0, 0}};
    int stratum = 2;
    std::function<void(core::ntp::Packet&)> change;
    fake::FakePlatform* platform = nullptr;
    int requests = 0;
    std::optional<std::int64_t> anchorMicros;  // the fake clock at virtual time 0

    fake::UdpResponder responder() {
        return [this](const std::string& request) {
            const auto asked = core::ntp::ParsePacket(request);
            const auto [out, back] = delaysMs[std::min<std::size_t>(requests, delaysMs.size() - 1)];
            ++requests;
            core::ntp::Packet reply;
            reply.version = 4;
            reply.mode = 4;
            reply.stratum = stratum;
            reply.referenceId = 0x7f7f0101;
            reply.origin = asked ? asked->transmit : core::ntp::Timestamp{};
            if (!anchorMicros)
                anchorMicros = platform->clock().nowMicros() - platform->nowMs() * 1000;
            const std::int64_t serverNow = *anchorMicros + platform->nowMs() * 1000 + aheadMicros;
            reply.receive = core::ntp::FromUnixMicros(serverNow + out * 1000);
            reply.transmit = reply.receive;
            reply.reference = reply.receive;
            if (change) change(reply);
            return std::vector<fake::UdpReply>{
                {out + back, core::ntp::SerializePacket(reply), true}};
        };
    }
};

}  // namespace tempikon::testing
