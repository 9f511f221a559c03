#pragma once

#include <string>

#include "platform/state_file.h"

namespace tempikon::qt {

// A file in ${XDG_STATE_HOME:-~/.local/state}/Tempikon/. Reads and the
// atomic replacement share the settings file's rules (qt_file.h); an append
// opens without waiting and refuses what is not a regular file.
class QtStateFile : public platform::StateFile {
public:
    explicit QtStateFile(std::string name) : name_(std::move(name)) {}
    std::string location() const override;
    platform::FileRead read(std::size_t maxBytes) override;
    platform::StoreResult append(const std::string& text) override;
    platform::StoreResult replace(const std::string& text) override;
    bool openFolder() override;

    // The folder: $XDG_STATE_HOME when it is an absolute path, else
    // ~/.local/state; with "Tempikon" added.
    static std::string folder();

private:
    std::string name_;
};

}  // namespace tempikon::qt
