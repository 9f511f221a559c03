#include "core/query/failure.h"

#include "core/text.h"
#include "platform/translate.h"

namespace tempikon::core {

QueryFailure ConnectionFailure(platform::SocketErrorKind kind, const std::string& description) {
    switch (kind) {
        case platform::SocketErrorKind::Refused:
            return {FailureKind::Refused, QT_TRANSLATE_NOOP("Tempikon", "connection refused")};
        case platform::SocketErrorKind::HostNotFound:
            // A lookup that never ran says so: the name itself may be fine.
            return {FailureKind::HostNotFound,
                    description == platform::kLookupNotStarted
                        ? "host not found: " + description
                        : std::string(QT_TRANSLATE_NOOP("Tempikon", "host not found"))};
        case platform::SocketErrorKind::Reset:
            return {FailureKind::Reset, QT_TRANSLATE_NOOP("Tempikon", "connection reset")};
        case platform::SocketErrorKind::Other:
            break;
    }
    return {FailureKind::ConnectionFailed,
            description.empty() ? std::string(QT_TRANSLATE_NOOP("Tempikon", "connection failed"))
                                : "connection failed: " + description};
}

QueryFailure TimeoutFailure(int timeoutSeconds) {
    return {FailureKind::TimedOut, "no answer within " + std::to_string(timeoutSeconds) + " s"};
}

QueryFailure InvalidTimeFailure(std::string_view timeText) {
    return {FailureKind::InvalidTime,
            "the time was not a valid time of day: " + QuoteReply(timeText)};
}

QueryFailure BadAddressFailure(std::string_view host) {
    return {FailureKind::BadAddress, "not a server address: " + QuoteReply(host)};
}

QueryFailure StoppedFailure() {
    return {FailureKind::Stopped, QT_TRANSLATE_NOOP("Tempikon", "the check was stopped")};
}

}  // namespace tempikon::core
