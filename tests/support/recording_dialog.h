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
    const SplitCheck check = CheckSplit(settings, input, files);
    if (!check.plan) return false;
    dialog.ShowModal(settings.InfoMessage);
    return WriteSplit(settings, *check.plan, control, files) == Outcome::Done;
}

}  // namespace tessel::testing
