#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "core/history.h"
#include "core/history_plot.h"
#include "platform/platform.h"

namespace tempikon::app {

// The clock's history: the offsets of the settings plotted over the last
// day, week or everything, one record in full under the pointer (or chosen
// with the arrow keys), the drift and the folder of the file.
class HistoryWindow {
public:
    explicit HistoryWindow(platform::Platform& platform);
    ~HistoryWindow();
    HistoryWindow(const HistoryWindow&) = delete;
    HistoryWindow& operator=(const HistoryWindow&) = delete;

    // Reads the file and shows the window (in front when it was open).
    void show();
    // Reads the file again (a setting was recorded).
    void reload();
    void close();
    bool isShown() const;

    // The window has closed; its owner destroys it from a posted call.
    std::function<void()> onClosed;

    platform::Window& window() { return *window_; }
    platform::Canvas& canvas() { return *canvas_; }
    platform::ComboBox& rangeBox() { return *rangeBox_; }
    platform::Button& openFolderButton() { return *openFolderButton_; }
    platform::Label& driftLine() { return *driftLine_; }
    platform::Label& detailLine() { return *detailLine_; }
    const std::vector<core::HistoryRecord>& records() const { return records_; }
    // Index into records(); -1 when none is selected.
    int selected() const { return selected_; }

private:
    void redraw();
    void select(int index);
    void onHover(int x, int y);
    void onKey(platform::CanvasKey key);
    void onOpenFolder();
    core::HistoryRange range() const;

    platform::Platform& platform_;
    std::unique_ptr<platform::Window> window_;
    platform::ComboBox* rangeBox_ = nullptr;
    platform::Button* openFolderButton_ = nullptr;
    platform::Canvas* canvas_ = nullptr;
    platform::Label* driftLine_ = nullptr;
    platform::Label* detailLine_ = nullptr;

    std::vector<core::HistoryRecord> records_;
    std::string note_;  // why nothing is shown, or empty
    core::PlotFrame frame_;
    std::vector<int> visible_;
    int selected_ = -1;
};

}  // namespace tempikon::app
