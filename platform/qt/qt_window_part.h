#pragma once

namespace tempikon::qt {

// The file that holds the part of the program with windows, and the
// function it exports: int tempikon_window_main(int* argc, char** argv).
// It links Qt's GUI libraries; the program itself does not, so that a
// windowless run never loads them.
inline constexpr const char* kWindowPartFile = "tempikon-window.so";
inline constexpr const char* kWindowPartEntry = "tempikon_window_main";

// Loads the part with windows and runs it with main's own argc and argv.
// It is looked for beside the program and then where it is installed; a
// privileged copy loads only a regular file owned by root that nobody else
// may write. When it cannot be loaded, says why on standard error and
// returns a failure exit code.
int RunWindowPart(int& argc, char** argv);

}  // namespace tempikon::qt
