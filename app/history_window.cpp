#include "app/history_window.h"

#include <algorithm>
#include <optional>

#include "platform/translate.h"
#include "tempikon_version.h"

namespace tempikon::app {

namespace {
const char* const kCaption = QT_TRANSLATE_NOOP("Tempikon", "Tempikon history");
const char* const kNoRecords = QT_TRANSLATE_NOOP("Tempikon", "No settings recorded yet");
const char* const kTooFew =
    QT_TRANSLATE_NOOP("Tempikon", "Too few settings yet to tell how the clock drifts");
const char* const kHint =
    QT_TRANSLATE_NOOP("Tempikon", "Point at a setting, or use the arrow keys, to see it in full");
const char* const kUnreadable = QT_TRANSLATE_NOOP("Tempikon", "The history cannot be read: %1");
// Pixels from the pointer within which a setting counts as pointed at.
constexpr int kHoverReach = 8;
constexpr int kWidth = 9000;
constexpr int kMargin = 120;
}  // namespace

HistoryWindow::HistoryWindow(platform::Platform& platform) : platform_(platform) {
    platform::WindowSpec spec;
    spec.caption = kCaption;
    spec.clientWidthTwips = kWidth;
    spec.clientHeightTwips = 5880;
    window_ = platform_.createWindow(spec);

    rangeBox_ = &window_->addComboBox({kMargin, 120, 2400, 315});
    rangeBox_->addItem(QT_TRANSLATE_NOOP("Tempikon", "Last day"));
    rangeBox_->addItem(QT_TRANSLATE_NOOP("Tempikon", "Last week"));
    rangeBox_->addItem(QT_TRANSLATE_NOOP("Tempikon", "Everything"));
    openFolderButton_ = &window_->addButton({kWidth - kMargin - 1800, 105, 1800, 345},
                                            QT_TRANSLATE_NOOP("Tempikon", "Open &folder"));
    canvas_ = &window_->addCanvas({kMargin, 570, kWidth - 2 * kMargin, 4500});
    driftLine_ = &window_->addLabel({kMargin, 5160, kWidth - 2 * kMargin, 255}, "");
    detailLine_ = &window_->addLabel({kMargin, 5460, kWidth - 2 * kMargin, 255}, "");

    rangeBox_->setSelectedIndex(1);
    rangeBox_->onSelectionChanged = [this] {
        selected_ = -1;
        redraw();
    };
    openFolderButton_->onClick = [this] { onOpenFolder(); };
    canvas_->onMouseMove = [this](int x, int y) { onHover(x, y); };
    canvas_->onKey = [this](platform::CanvasKey key) { onKey(key); };
    window_->onClosed = [this] {
        if (onClosed) onClosed();
    };
}

HistoryWindow::~HistoryWindow() {
    window_->onClosed = nullptr;
}

void HistoryWindow::show() {
    reload();
    window_->show();
}

bool HistoryWindow::isShown() const {
    return window_->isVisible();
}

void HistoryWindow::close() {
    window_->close();
}

void HistoryWindow::reload() {
    std::optional<std::int64_t> wasAt;
    if (selected_ >= 0 && selected_ < static_cast<int>(records_.size()))
        wasAt = records_[selected_].atMicros;
    core::HistoryLog log(platform_.historyFile());
    core::HistoryLog::Loaded loaded = log.load();
    records_ = std::move(loaded.history.records);
    note_.clear();
    if (loaded.refused) {
        note_ = core::FillPattern(kUnreadable, *loaded.refused);
    } else if (records_.empty()) {
        note_ = kNoRecords;
    }
    // The same record stays selected when it is still there.
    selected_ = -1;
    if (wasAt) {
        for (std::size_t i = 0; i < records_.size(); ++i)
            if (records_[i].atMicros == *wasAt) selected_ = static_cast<int>(i);
    }
    const std::optional<core::Drift> drift = core::ComputeDrift(records_);
    driftLine_->setText(drift ? core::DriftSentence(*drift) : records_.empty() ? "" : kTooFew);
    redraw();
}

core::HistoryRange HistoryWindow::range() const {
    switch (rangeBox_->selectedIndex()) {
        case 0:
            return core::HistoryRange::Day;
        case 2:
            return core::HistoryRange::Everything;
        default:
            return core::HistoryRange::Week;
    }
}

void HistoryWindow::redraw() {
    platform::Clock& clock = platform_.clock();
    const std::int64_t now = clock.nowMicros();
    const core::PlotScale scale =
        core::ComputeScale(records_, range(), now, clock.utcOffsetSeconds(now));
    frame_ = core::FrameFor(scale, canvas_->pixelWidth(), canvas_->pixelHeight());
    visible_ = core::VisibleRecords(records_, scale);
    if (selected_ >= 0 && std::find(visible_.begin(), visible_.end(), selected_) == visible_.end())
        selected_ = -1;
    canvas_->draw(core::DrawHistory(records_, frame_, selected_));
    if (!note_.empty())
        detailLine_->setText(note_);
    else if (selected_ < 0)
        detailLine_->setText(kHint);
    else
        detailLine_->setText(core::DescribeRecord(
            records_[selected_], clock.utcOffsetSeconds(records_[selected_].atMicros)));
}

void HistoryWindow::select(int index) {
    if (index == selected_) return;
    selected_ = index;
    redraw();
}

void HistoryWindow::onHover(int x, int y) {
    (void)y;
    const int near = core::RecordNear(records_, visible_, frame_, x, kHoverReach);
    // Leaving the settings keeps the last one shown.
    if (near >= 0) select(near);
}

void HistoryWindow::onKey(platform::CanvasKey key) {
    if (visible_.empty()) return;
    const auto at = std::find(visible_.begin(), visible_.end(), selected_);
    const int position = at == visible_.end() ? -1 : static_cast<int>(at - visible_.begin());
    const int last = static_cast<int>(visible_.size()) - 1;
    int next = position;
    switch (key) {
        case platform::CanvasKey::Left:
            next = position < 0 ? last : std::max(position - 1, 0);
            break;
        case platform::CanvasKey::Right:
            next = position < 0 ? last : std::min(position + 1, last);
            break;
        case platform::CanvasKey::Home:
            next = 0;
            break;
        case platform::CanvasKey::End:
            next = last;
            break;
    }
    select(visible_[next]);
}

void HistoryWindow::onOpenFolder() {
    if (!platform_.historyFile().openFolder()) {
        const std::string location = platform_.historyFile().location();
        const std::string folder = location.substr(0, location.find_last_of("/\\"));
        platform_.messageBox(platform::NotOpenedMessage(folder), version::kTitle,
                             platform::kMbOk | platform::kMbIconExclamation);
    }
}

}  // namespace tempikon::app
