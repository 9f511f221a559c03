#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/tcp_client.h"
#include "platform/win32/win32_common.h"
#include "platform/win32/win32_platform.h"

namespace tempikon::win32 {

class Win32TcpClient : public platform::TcpClient, public Win32SocketOwner {
public:
    explicit Win32TcpClient(Win32Platform& platform) : platform_(platform) {}
    ~Win32TcpClient() override;
    void connect(const std::string& host, std::uint16_t port) override;
    std::optional<std::string> readAll(std::size_t maxBytes) override;
    void close() override;
    bool isOpen() const override {
        return state_ == State::Resolving || state_ == State::Connecting ||
               state_ == State::Connected;
    }

    // From the hidden window.
    void resolved(ADDRINFOW* addresses, int error) override;
    void socketEvent(SOCKET socket, int event, int error) override;

private:
    enum class State { Idle, Resolving, Connecting, Connected, PeerClosed };
    void tryNextAddress(int lastError);
    void closeSocket();
    void fail(int error);
    void fail(platform::SocketErrorKind kind, const std::string& description);

    Win32Platform& platform_;
    State state_ = State::Idle;
    SOCKET socket_ = INVALID_SOCKET;
    UINT message_ = 0;
    std::uint64_t resolveToken_ = 0;
    ADDRINFOW* addresses_ = nullptr;
    ADDRINFOW* next_ = nullptr;
};

}  // namespace tempikon::win32
