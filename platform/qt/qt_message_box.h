#pragma once

#include <string>

namespace tempikon::qt {

// A modal QMessageBox with the icon and buttons the flags name (16, 32, 48,
// 64; 0 OK, 4 Yes and No). Returns kIdOk, kIdYes or kIdNo. Timers and
// sockets go on being served while it is open.
int showMessageBox(const std::string& text, const std::string& title, int flags);

}  // namespace tempikon::qt
