// Rebuilding a file from the pieces named after it.
#pragma once

#include <string>

#include "engine/progress.h"
#include "engine/shared_settings.h"
#include "platform/file_system.h"

namespace tessel {

// Concatenates targetPath.1.BRK, targetPath.2.BRK, ... into `targetPath`, from its first byte,
// and cuts it at the joined length. Reports in settings.StatusMessage (and InfoMessage on an
// unexpected failure); returns whether the whole file was rebuilt.
bool JoinFiles(SharedSettings& settings, const std::string& targetPath,
               const ProgressCallback& progress = {},
               platform::FileSystem& files = platform::DefaultFileSystem());

}  // namespace tessel
