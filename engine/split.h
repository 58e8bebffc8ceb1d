// Cutting a file into pieces of ChunkSize bytes.
#pragma once

#include <string>

#include "engine/progress.h"
#include "engine/shared_settings.h"
#include "platform/file_system.h"

namespace tessel {

// Shows the split's summary modally; returns once the user has dismissed it.
class InfoDialog {
  public:
    virtual ~InfoDialog() = default;
    virtual void ShowModal(const std::string& infoMessage) = 0;
};

// Splits `inputPath` into OutputFolder as pieces of ChunkSize bytes, after showing the summary
// in `dialog`. Reports in settings.StatusMessage and settings.InfoMessage, stores the quotient
// size / ChunkSize in settings.PieceCount, and returns whether every piece was written.
bool SplitFile(SharedSettings& settings, const std::string& inputPath, InfoDialog& dialog,
               const ProgressCallback& progress = {},
               platform::FileSystem& files = platform::DefaultFileSystem());

}  // namespace tessel
