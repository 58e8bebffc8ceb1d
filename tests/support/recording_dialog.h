// An information dialog that records what it was asked to show instead of waiting for a user.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/split.h"

namespace tessel::testing {

class RecordingDialog final : public InfoDialog {
  public:
    RecordingDialog() = default;
    // `whileShown` runs inside ShowModal, where the user would be reading the summary.
    explicit RecordingDialog(std::function<void()> whileShown)
        : whileShown_(std::move(whileShown)) {}

    void ShowModal(const std::string& infoMessage) override {
        shown.push_back(infoMessage);
        if (whileShown_) whileShown_();
    }

    std::vector<std::string> shown;  // one text per showing, in order

  private:
    std::function<void()> whileShown_;
};

}  // namespace tessel::testing
