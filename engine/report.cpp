#include "engine/report.h"

#include "engine/messages.h"

namespace tessel {

Report Failure(const FailureTexts& texts, std::string_view path,
               std::optional<std::string_view> status) {
    std::string info(texts.infoOpen);
    info += path;
    info += messages::kFailedInfoClose;
    return Report{Outcome::Failed, std::string(status.value_or(texts.status)), std::move(info)};
}

Report StatusOnly(Outcome outcome, std::string_view status) {
    return Report{outcome, std::string(status), std::nullopt};
}

}  // namespace tessel
