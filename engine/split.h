// Cutting a file into pieces of ChunkSize bytes, in two steps: a check that builds the summary
// the user reads first and writes nothing, then the writing of the pieces.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/progress.h"
#include "engine/shared_settings.h"
#include "platform/file_system.h"

namespace tessel {

// What the check found, for the writing step.
struct SplitPlan {
    std::string inputPath;
    std::int64_t size = 0;   // the input's length, as the summary told the user
    std::int64_t chunk = 0;  // ChunkSize when checked
    std::int64_t pieces = 0;
};

struct SplitCheck {
    std::optional<SplitPlan> plan;  // nothing when the split is refused (its texts are set)
    // Refused so that nothing at all may be written: not even a batch file.
    bool leaveDiskAlone = false;
};

enum class Outcome { Done, Failed, Cancelled };

// Checks the input and builds the summary in settings.InfoMessage, storing size / ChunkSize in
// settings.PieceCount. Writes nothing.
SplitCheck CheckSplit(SharedSettings& settings, const std::string& inputPath,
                      platform::FileSystem& files = platform::DefaultFileSystem());

// Writes the planned pieces and their checksum file into OutputFolder; reports in
// settings.StatusMessage (and InfoMessage on an unexpected failure). A cancelled split removes
// what it wrote.
Outcome WriteSplit(SharedSettings& settings, const SplitPlan& plan,
                   const OperationControl& control = {},
                   platform::FileSystem& files = platform::DefaultFileSystem());

// The whole split where no one reads the summary: the check, then the writing. Returns whether
// every piece was written.
bool SplitFile(SharedSettings& settings, const std::string& inputPath,
               const OperationControl& control = {},
               platform::FileSystem& files = platform::DefaultFileSystem());

}  // namespace tessel
