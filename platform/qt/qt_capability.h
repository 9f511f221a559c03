#pragma once

// The right to set the clock (CAP_SYS_TIME), when the program was given it,
// stays out of the effective set except around the one clock call, so that
// nothing else in the process runs with it.
namespace tempikon::qt {

// Moves CAP_SYS_TIME out of the effective set (it stays permitted).
void DropClockRight();

// True when CAP_SYS_TIME is in the effective set now.
bool HoldsClockRight();

// Raises CAP_SYS_TIME for its scope when it is permitted, and drops it again.
class ClockRight {
public:
    ClockRight();
    ~ClockRight();
    ClockRight(const ClockRight&) = delete;
    ClockRight& operator=(const ClockRight&) = delete;

private:
    bool raised_ = false;
};

}  // namespace tempikon::qt
