#include "engine/shared_settings.h"

#include "platform/file_system.h"

namespace tessel {

void SetStartupDefaults(SharedSettings& settings) {
    settings.OutputFolder = platform::DefaultOutputFolder();
    settings.PieceExtension = kDefaultPieceExtension;
    settings.InfoMessage.clear();
    settings.ChunkSize = kDefaultChunkSize;
}

void TakeReport(SharedSettings& settings, const Report& report) {
    settings.StatusMessage = report.status;
    if (report.info) settings.InfoMessage = *report.info;
}

}  // namespace tessel
