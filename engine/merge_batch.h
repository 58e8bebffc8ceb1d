// The DOS batch file that rebuilds a split file with "copy /b" where Tessel is not installed.
#pragma once

#include <string>

#include "engine/shared_settings.h"
#include "platform/file_system.h"

namespace tessel {

// Writes <name>.bat into OutputFolder, listing as many pieces as the last split's PieceCount
// rounded up (at least one), and stores that count back in PieceCount. `fileNameField` is the
// text of the file-name field; its file name, blanks trimmed, names the pieces. A failure is
// reported in InfoMessage only.
void WriteMergeBatch(SharedSettings& settings, const std::string& fileNameField,
                     platform::FileSystem& files = platform::DefaultFileSystem());

}  // namespace tessel
