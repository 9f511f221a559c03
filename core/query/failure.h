#pragma once

#include <string>
#include <string_view>

#include "platform/tcp_client.h"

namespace tempikon::core {

// Why a query gave no usable time, for the user to act on.
enum class FailureKind {
    None,
    Refused,
    TimedOut,
    HostNotFound,
    Reset,
    ConnectionFailed,
    NoTimeInReply,
    InvalidTime,
    Rejected,         // an NTP reply that must not set a clock
    NotTrusted,       // NTS: the server's certificate did not prove who it is
    Unauthenticated,  // NTS: a reply whose authenticator did not verify
    BadAddress,
    UnknownProtocol,  // the settings name no protocol the program speaks
    Stopped,          // cancel() ended it
};

struct QueryFailure {
    FailureKind kind = FailureKind::None;
    std::string reason;  // e.g. "connection refused", "no answer within 3 s"
};

// The failure of a connection the system reported, as a user reads it: the
// one text for every protocol's socket errors.
QueryFailure ConnectionFailure(platform::SocketErrorKind kind, const std::string& description);

// No answer within the time-out.
QueryFailure TimeoutFailure(int timeoutSeconds);

// The failure of a time text that is not a time of day.
QueryFailure InvalidTimeFailure(std::string_view timeText);

// A host that is no server address.
QueryFailure BadAddressFailure(std::string_view host);

// The user stopped the query.
QueryFailure StoppedFailure();

}  // namespace tempikon::core
