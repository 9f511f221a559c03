#pragma once

#include <optional>
#include <string>

#include "platform/file_chooser.h"

class QWidget;

namespace tempikon::qt {

// A modal QFileDialog (the desktop's own where its platform theme offers
// one) for an existing file, over parent. The chosen file's path, or
// nullopt when cancelled.
std::optional<std::string> showFileChooser(const platform::FileChoice& choice, QWidget* parent);

}  // namespace tempikon::qt
