// Runs of the engine's operations that also check that the operation closed every descriptor it
// opened, whatever way it returned.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "engine/join.h"
#include "engine/merge_batch.h"
#include "engine/messages.h"
#include "engine/piece_naming.h"
#include "engine/shared_settings.h"
#include "engine/split.h"
#include "platform/file_system.h"
#include "tests/support/recording_dialog.h"
#include "tests/support/temp_folder.h"

namespace tessel::testing {

// Start-up settings that split into `outputFolder` in pieces of `chunkSize` bytes.
inline SharedSettings SettingsFor(const std::string& outputFolder, std::int64_t chunkSize) {
    SharedSettings settings;
    SetStartupDefaults(settings);
    settings.OutputFolder = outputFolder;
    settings.ChunkSize = chunkSize;
    return settings;
}

// Piece n of `base` with the extension every split uses.
inline std::string Piece(const std::string& base, std::int64_t n) {
    return PieceName(base, n, kDefaultPieceExtension);
}

// Recovery piece j of `base`, likewise.
inline std::string RecoveryPiece(const std::string& base, std::int64_t j) {
    return RecoveryPieceName(base, j, kDefaultPieceExtension);
}

// The information text the window holds after an earlier split.
inline constexpr char kEarlierSummary[] = "summary of an earlier split";

// Settings as the window leaves them after an earlier split, so that a join that fails to set
// its texts is seen.
inline SharedSettings EarlierSettings() {
    auto settings = SettingsFor("/nonexistent-output-folder", 1000);
    settings.InfoMessage = kEarlierSummary;
    settings.StatusMessage = messages::kSplitSucceeded;
    return settings;
}

inline bool CheckedSplit(SharedSettings& settings, const std::string& input,
                         RecordingDialog& dialog,
                         platform::FileSystem& files = platform::DefaultFileSystem()) {
    const int before = OpenDescriptorCount();
    const bool done = SplitShowing(settings, input, dialog, {}, files);
    EXPECT_EQ(OpenDescriptorCount(), before) << "a split of " << input << " left a file open";
    return done;
}

inline bool CheckedJoin(SharedSettings& settings, const std::string& target,
                        platform::FileSystem& files = platform::DefaultFileSystem()) {
    const int before = OpenDescriptorCount();
    const bool done = JoinFiles(settings, target, {}, files);
    EXPECT_EQ(OpenDescriptorCount(), before) << "a join into " << target << " left a file open";
    return done;
}

inline void CheckedBatch(SharedSettings& settings, const std::string& fileNameField) {
    const int before = OpenDescriptorCount();
    WriteMergeBatch(settings, fileNameField);
    EXPECT_EQ(OpenDescriptorCount(), before) << "the batch writer left a file open";
}

}  // namespace tessel::testing
