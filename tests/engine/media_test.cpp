// Splits and joins on real small media: a memory file system mounted for the test, full like a
// diskette or read-only like a write-protected one. Mounting needs root; elsewhere these skip.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "tests/support/checked_runs.h"

namespace tessel {
namespace {

using testing::CheckedJoin;
using testing::CheckedSplit;
using testing::PatternBytes;
using testing::Piece;
using testing::ReadFile;
using testing::RecordingDialog;
using testing::SettingsFor;
using testing::TempFolder;
using testing::WriteFile;
namespace fs = std::filesystem;

// A tmpfs of `size` mounted on a fresh folder; unmounted before the folder is removed.
class ScratchMedium {
  public:
    explicit ScratchMedium(const std::string& size) {
        const std::string options = "size=" + size;
        if (::mount("tmpfs", path().c_str(), "tmpfs", 0, options.c_str()) == 0)
            mounted_ = true;
        else
            error_ = std::strerror(errno);
    }
    ~ScratchMedium() {
        if (mounted_ && ::umount2(path().c_str(), 0) != 0) ::umount2(path().c_str(), MNT_DETACH);
    }
    ScratchMedium(const ScratchMedium&) = delete;
    ScratchMedium& operator=(const ScratchMedium&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& error() const { return error_; }
    std::string path() const { return folder_.path().string(); }
    std::string operator/(const std::string& name) const { return folder_ / name; }
    // Write-protects the medium, files and all, as a diskette's tab does.
    bool MakeReadOnly() {
        return ::mount("tmpfs", path().c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

  private:
    TempFolder folder_;
    bool mounted_ = false;
    std::string error_;
};

// Why a test on `medium` cannot run here; empty when it can.
std::string WhyNoMedium(const ScratchMedium& medium) {
    if (::geteuid() != 0) return "mounting a scratch medium needs root";
    return medium.mounted() ? "" : "cannot mount a tmpfs: " + medium.error();
}

TEST(Media, SplitOntoAFullDisketteFailsAndKeepsTheFirstPieceWhole) {
    ScratchMedium diskette("1440k");
    if (const auto why = WhyNoMedium(diskette); !why.empty()) GTEST_SKIP() << why;
    TempFolder folder;
    const std::string input = folder / "photo.raw";
    const std::int64_t chunk = 1000000;  // the second piece does not fit beside the first
    const auto bytes = PatternBytes(2 * chunk);
    WriteFile(input, bytes);
    auto settings = SettingsFor(diskette.path(), chunk);
    RecordingDialog dialog;

    EXPECT_FALSE(CheckedSplit(settings, input, dialog));
    EXPECT_EQ(settings.StatusMessage, "Error - Unable to break file into pieces");
    EXPECT_EQ(settings.InfoMessage, "Selected File : " + input + "\r\nSize of file  : 2000000 " +
                                        "bytes  \r\n This will require 2 Files.");
    const auto first = ReadFile(Piece(diskette / "photo.raw", 1));
    EXPECT_EQ(first, std::vector<char>(bytes.begin(), bytes.begin() + chunk));
}

TEST(Media, SplitAndJoinReadFromAWriteProtectedMedium) {
    ScratchMedium medium("4m");
    if (const auto why = WhyNoMedium(medium); !why.empty()) GTEST_SKIP() << why;
    TempFolder folder;
    const auto input = PatternBytes(2500, 3);
    WriteFile(medium / "in.bin", input);
    for (int n = 1; n <= 3; ++n) {
        const auto begin = input.begin() + (n - 1) * 1000;
        WriteFile(Piece(medium / "x", n), {begin, std::min(begin + 1000, input.end())});
    }
    // Pieces are found beside the target, so the target on the medium links to a file elsewhere.
    WriteFile(folder / "rebuilt", {});
    fs::create_symlink(folder / "rebuilt", medium / "x");
    WriteFile(Piece(medium / "y", 1), input);
    ASSERT_TRUE(medium.MakeReadOnly());

    auto settings = SettingsFor(folder / "out", 1000);
    RecordingDialog dialog;
    EXPECT_TRUE(CheckedSplit(settings, medium / "in.bin", dialog));
    EXPECT_EQ(settings.StatusMessage, "Successfully broken file into pieces");
    EXPECT_EQ(ReadFile(Piece(folder / "out/in.bin", 3)),
              std::vector<char>(input.end() - 500, input.end()));

    EXPECT_TRUE(CheckedJoin(settings, medium / "x"));
    EXPECT_EQ(settings.StatusMessage, "The Files have been successfully joined");
    EXPECT_EQ(ReadFile(folder / "rebuilt"), input);

    EXPECT_FALSE(CheckedJoin(settings, medium / "y")) << "no target can be made on the medium";
    EXPECT_EQ(settings.StatusMessage, "Error - Unable to join pieces into a file");
    EXPECT_FALSE(fs::exists(medium / "y"));
}

}  // namespace
}  // namespace tessel
