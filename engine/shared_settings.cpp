#include "engine/shared_settings.h"

#include "platform/file_system.h"

namespace tessel {

void SetStartupDefaults(SharedSettings& settings) {
    settings.OutputFolder = platform::DefaultOutputFolder();
    settings.PieceExtension = kDefaultPieceExtension;
    settings.InfoMessage.clear();
    settings.ChunkSize = kDefaultChunkSize;
}

}  // namespace tessel
