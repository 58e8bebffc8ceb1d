// Cutting a file into pieces of a fixed size, in two steps: a check that builds the summary the
// user reads first and writes nothing, then the writing of the pieces. Each returns what it came
// to; neither shows anything nor touches the window's state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/progress.h"
#include "engine/report.h"
#include "engine/shared_settings.h"
#include "platform/file_system.h"

namespace tessel {

// What the user asked to split, and how.
struct SplitRequest {
    std::string inputPath;
    std::string outputFolder;
    std::string extension = kDefaultPieceExtension;
    std::int64_t chunk = 0;  // bytes per piece
};

// The request the shared settings make of `inputPath`.
SplitRequest SplitRequestFrom(const SharedSettings& settings, const std::string& inputPath);

// What the check found, for the writing step.
struct SplitPlan {
    SplitRequest request;
    std::int64_t size = 0;  // the input's length, as the summary told the user
    std::int64_t pieces = 0;
};

struct SplitCheck {
    // Done when the split may go on: its info is then the summary to show first. Failed with the
    // split's failure texts; Refused when nothing at all may be written, not even a batch file.
    Report report;
    std::optional<double> pieceCount;  // the input's size / the chunk size, once worked out
    std::optional<SplitPlan> plan;     // with a Done report only
};

struct SplitResult {
    Report report;
    std::int64_t piecesWritten = 0;  // pieces written whole, and still there
    std::int64_t bytesWritten = 0;   // their bytes
};

// Checks the input and the output folder and builds the summary. Writes nothing.
SplitCheck CheckSplit(const SplitRequest& request,
                      platform::FileSystem& files = platform::DefaultFileSystem());

// Writes the planned pieces and their checksum file into the output folder. A cancelled split
// takes back what it wrote.
SplitResult WriteSplit(const SplitPlan& plan, const OperationControl& control = {},
                       platform::FileSystem& files = platform::DefaultFileSystem());

// The whole split where no one reads the summary: the check, then the writing, with their texts
// and the piece count taken into `settings`. Returns whether every piece was written.
bool SplitFile(SharedSettings& settings, const std::string& inputPath,
               const OperationControl& control = {},
               platform::FileSystem& files = platform::DefaultFileSystem());

}  // namespace tessel
