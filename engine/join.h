// Rebuilding a file from the pieces named after it, in two steps: a check of the pieces that
// says what the join will do and writes nothing, then the writing of the whole file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/checksum.h"
#include "engine/progress.h"
#include "engine/shared_settings.h"
#include "engine/split.h"
#include "platform/file_system.h"

namespace tessel {

// What the check found, for the writing step.
struct JoinPlan {
    std::string target;
    std::vector<std::int64_t> lengths;  // piece n's length at n - 1
    std::vector<Digest> digests;        // from the checksum file; empty without one
    std::int64_t total = 0;
    std::optional<std::int64_t> existingLength;  // the target's, when it exists
    platform::Permissions permissions = platform::kDefaultPermissions;  // piece 1's

    bool Verified() const { return !digests.empty(); }
};

// Finds and checks the pieces of `targetPath`: those its checksum file lists where there is one,
// else the unbroken run from piece 1. Writes nothing; nothing when the join is refused (its texts
// are set).
std::optional<JoinPlan> CheckJoin(SharedSettings& settings, const std::string& targetPath,
                                  platform::FileSystem& files = platform::DefaultFileSystem());

// Writes the pieces, in order, into a new file that replaces the target only once it is whole
// (and every piece matched its checksum). On any failure or cancel the target keeps its bytes.
Outcome WriteJoin(SharedSettings& settings, const JoinPlan& plan,
                  const OperationControl& control = {},
                  platform::FileSystem& files = platform::DefaultFileSystem());

// The whole join: the check, then the writing. Reports in settings.StatusMessage (and
// InfoMessage on a failure); returns whether the whole file was rebuilt.
bool JoinFiles(SharedSettings& settings, const std::string& targetPath,
               const OperationControl& control = {},
               platform::FileSystem& files = platform::DefaultFileSystem());

}  // namespace tessel
