#include "platform/qt/qt_capability.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tempikon::qt {

namespace {

constexpr unsigned kWord = CAP_SYS_TIME / 32;
constexpr unsigned kBit = 1u << (CAP_SYS_TIME % 32);

struct Sets {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
};

bool Get(Sets& sets) {
    return ::syscall(SYS_capget, &sets.header, sets.data) == 0;
}
bool Set(Sets& sets) {
    return ::syscall(SYS_capset, &sets.header, sets.data) == 0;
}

bool SetEffective(bool on) {
    Sets sets;
    if (!Get(sets)) return false;
    if (on && !(sets.data[kWord].permitted & kBit)) return false;
    if (on) {
        sets.data[kWord].effective |= kBit;
    } else {
        sets.data[kWord].effective &= ~kBit;
    }
    return Set(sets);
}

}  // namespace

void DropClockRight() {
    SetEffective(false);
}

bool HoldsClockRight() {
    Sets sets;
    return Get(sets) && (sets.data[kWord].effective & kBit);
}

ClockRight::ClockRight() : raised_(SetEffective(true)) {}

ClockRight::~ClockRight() {
    if (raised_) SetEffective(false);
}

}  // namespace tempikon::qt
