// Splits and joins on real small media: a memory file system mounted for the test, full like a
// diskette or read-only like a write-protected one. Mounting needs root; elsewhere these skip.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/checked_runs.h"
#include "tests/support/piece_checks.h"
#include "tests/support/recording_dialog.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tmpfs_mount.h"

namespace tessel::testing {
namespace {

namespace fs = std::filesystem;

TEST(Media, SplitOntoAFullDisketteFailsAndKeepsTheFirstPieceWhole) {
    TmpfsMount diskette("1440k");
    SKIP_UNLESS_MOUNTED(diskette);
    TempFolder folder;
    const std::string input = folder / "photo.raw";
    const std::int64_t chunk = 1000000;  // the second piece does not fit beside the first
    const auto bytes = WritePattern(input, 2 * chunk);
    auto settings = SettingsFor(diskette.path(), chunk);
    RecordingDialog dialog;

    EXPECT_FALSE(CheckedSplit(settings, input, dialog));
    EXPECT_EQ(settings.StatusMessage, "Error - Unable to break file into pieces");
    EXPECT_EQ(settings.InfoMessage, "Selected File : " + input + "\r\nSize of file  : 2000000 " +
                                        "bytes  \r\n This will require 2 Files.");
    const auto first = ReadFile(Piece(diskette / "photo.raw", 1));
    EXPECT_EQ(first, Slice(bytes, 0, chunk));
}

TEST(Media, SplitAndJoinReadFromAWriteProtectedMedium) {
    TmpfsMount medium("4m");
    SKIP_UNLESS_MOUNTED(medium);
    TempFolder folder;
    const auto input = WritePattern(medium / "in.bin", 2500, 3);
    for (int n = 1; n <= 3; ++n)
        WriteFile(Piece(medium / "x", n), Slice(input, (n - 1) * 1000, 1000));
    // Pieces are found beside the target, so the target on the medium links to a file elsewhere.
    WriteFile(folder / "rebuilt", {});
    fs::create_symlink(folder / "rebuilt", medium / "x");
    WriteFile(Piece(medium / "y", 1), input);
    ASSERT_TRUE(medium.MakeReadOnly());

    auto settings = SettingsFor(folder / "out", 1000);
    RecordingDialog dialog;
    EXPECT_TRUE(CheckedSplit(settings, medium / "in.bin", dialog));
    EXPECT_EQ(settings.StatusMessage, "Successfully broken file into pieces");
    EXPECT_EQ(ReadFile(Piece(folder / "out/in.bin", 3)), Slice(input, 2000, 1000));

    EXPECT_TRUE(CheckedJoin(settings, medium / "x"));
    EXPECT_EQ(settings.StatusMessage, "The Files have been successfully joined");
    EXPECT_EQ(ReadFile(folder / "rebuilt"), input);

    EXPECT_FALSE(CheckedJoin(settings, medium / "y")) << "no target can be made on the medium";
    EXPECT_EQ(settings.StatusMessage, "Error - Unable to join pieces into a file");
    EXPECT_FALSE(fs::exists(medium / "y"));
}

}  // namespace
}  // namespace tessel::testing
