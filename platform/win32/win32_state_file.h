#pragma once

#include <string>

#include "platform/state_file.h"

namespace tempikon::win32 {

// A file in %LOCALAPPDATA%\Tempikon. Only a file on a disk is read or
// written: whatever else sits at the path is refused, never waited on.
class Win32StateFile : public platform::StateFile {
public:
    explicit Win32StateFile(std::string name) : name_(std::move(name)) {}
    std::string location() const override;
    platform::FileRead read(std::size_t maxBytes) override;
    platform::StoreResult append(const std::string& text) override;
    platform::StoreResult replace(const std::string& text) override;
    bool openFolder() override;

    static std::string folder();

private:
    std::string name_;
};

}  // namespace tempikon::win32
