#pragma once

#include <memory>

namespace tempikon::platform {

// Living with re-entrance. Every wait handles window events, and any handler may destroy the object
// that is waiting. An object owns a Liveness; code about to wait takes a
// Watch first and asks it afterwards whether the object still exists.
class Liveness {
public:
    class Watch {
    public:
        bool alive() const { return !flag_.expired(); }

    private:
        friend class Liveness;
        explicit Watch(std::weak_ptr<const char> flag) : flag_(std::move(flag)) {}
        std::weak_ptr<const char> flag_;
    };

    Liveness() = default;
    Liveness(const Liveness&) = delete;
    Liveness& operator=(const Liveness&) = delete;

    Watch watch() const { return Watch(flag_); }
    // Ends the object's life early, for destructors that still run code
    // which could call back into it.
    void end() { flag_.reset(); }

private:
    std::shared_ptr<const char> flag_ = std::make_shared<const char>('\0');
};

// Runs a function when the scope is left, however it is left.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F fn) : fn_(std::move(fn)) {}
    ~ScopeExit() { fn_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F fn_;
};

}  // namespace tempikon::platform
