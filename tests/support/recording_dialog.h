// The split as the window runs it, with a dialog that records the summary it was asked to show
// instead of waiting for a user.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/split.h"

namespace tessel::testing {

class RecordingDialog {
  public:
    RecordingDialog() = default;
    // `whileShown` runs where the user would be reading the summary.
    explicit RecordingDialog(std::function<void()> whileShown)
        : whileShown_(std::move(whileShown)) {}

    void ShowModal(const std::string& infoMessage) {
        shown.push_back(infoMessage);
        if (whileShown_) whileShown_();
    }

    std::vector<std::string> shown;  // one text per showing, in order

  private:
    std::function<void()> whileShown_;
};

// The check, the summary shown in `dialog` when the split goes on, then the writing.
inline bool SplitShowing(SharedSettings& settings, const std::string& input,
                         RecordingDialog& dialog, const OperationControl& control = {},
                         platform::FileSystem& files = platform::DefaultFileSystem()) {
    const SplitCheck check = CheckSplit(SplitRequestFrom(settings, input), files);
    if (check.pieceCount) settings.PieceCount = *check.pieceCount;
    TakeReport(settings, check.report);
    if (!check.plan) return false;
    dialog.ShowModal(settings.InfoMessage);
    const SplitResult result = WriteSplit(*check.plan, control, files);
    TakeReport(settings, result.report);
    return result.report.Done();
}

}  // namespace tessel::testing
