#pragma once

#include <string>
#include <vector>

namespace tempikon::platform {

// What the system's own "open file" dialog offers.
struct FileChoice {
    std::string title;
    // The file chosen so far: the dialog opens in its folder with it
    // selected. Empty: the user's home folder.
    std::string current;
    // One filter, e.g. "PEM certificates" with "*.pem" and "*.crt"; the
    // dialog also offers every file.
    std::string filterName;
    std::vector<std::string> patterns;
};

}  // namespace tempikon::platform
