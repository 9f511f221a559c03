#pragma once

#include <functional>
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
    // What shows a folder to the user; a windowless run has nothing to show
    // it with, and says so.
    void setFolderOpener(std::function<bool(const std::string& folder)> opener) {
        opener_ = std::move(opener);
    }

    // The folder: $XDG_STATE_HOME when it is an absolute path, else
    // ~/.local/state; with "Tempikon" added.
    static std::string folder();

private:
    std::string name_;
    std::function<bool(const std::string&)> opener_;
};

}  // namespace tempikon::qt
