// Faults that real media produce: a diskette that fills up in the middle of a piece, an input and
// pieces on a read-only medium, an output medium that turns read-only between two splits, and
// files that vanish or shrink while a split or join is under way. Every case must end with a clear
// status, no descriptor left open, and the files it only reads left as they were. The media are
// memory file systems mounted for the test; mounting needs root, elsewhere those cases skip.
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/checksum.h"
#include "engine/messages.h"
#include "engine/shared_settings.h"
#include "engine/split.h"
#include "platform/file_system.h"
#include "tests/support/case_names.h"
#include "tests/support/checked_runs.h"
#include "tests/support/child_process.h"
#include "tests/support/intercepting_file_system.h"
#include "tests/support/piece_checks.h"
#include "tests/support/recording_dialog.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tmpfs_mount.h"

namespace tessel::testing {
namespace {

constexpr std::int64_t kDisketteChunk = 1457644;  // the 1.44 MB diskette preset
constexpr char kDisketteSize[] = "1440k";
constexpr char kRoomySize[] = "16m";
// Set in InfoMessage before a join, to see whether the join touched it.
constexpr char kEarlierInfo[] = "an earlier summary";

// A piece file on `medium`, seen from another folder through a symbolic link: the join finds
// pieces beside its target, so a target on a writable disk reads pieces off a read-only
// medium this way.
void LinkPieces(const std::string& fromBase, const std::string& toBase, std::int64_t count) {
    for (std::int64_t n = 1; n <= count; ++n)
        std::filesystem::create_symlink(Piece(fromBase, n), Piece(toBase, n));
}

void SplitInto(const std::string& folder, const std::string& input, std::int64_t chunk) {
    auto settings = SettingsFor(folder, chunk);
    RecordingDialog dialog;
    ASSERT_TRUE(SplitShowing(settings, input, dialog)) << settings.StatusMessage;
}

TEST(MediaFaults, MediumFullInTheMiddleOfASecondPieceFailsAndKeepsTheFirst) {
    TmpfsMount diskette(kDisketteSize);
    SKIP_UNLESS_MOUNTED(diskette);
    TempFolder temp;
    const std::string input = temp / "scan.tif";
    const auto bytes = WritePattern(input, 2 * 1024 * 1024, 3);

    auto settings = SettingsFor(diskette.path(), kDisketteChunk);
    RecordingDialog dialog;
    EXPECT_FALSE(CheckedSplit(settings, input, dialog));
    EXPECT_EQ(settings.StatusMessage, messages::kSplitFailed);
    ASSERT_EQ(dialog.shown.size(), 1u);
    EXPECT_EQ(settings.InfoMessage, dialog.shown[0]) << "a failed write keeps the summary";

    const std::string base = diskette / "scan.tif";
    ASSERT_TRUE(std::filesystem::exists(Piece(base, 1)));
    EXPECT_TRUE(SameBytes(ReadFile(Piece(base, 1)), Slice(bytes, 0, kDisketteChunk)))
        << "the piece written before the medium filled up";
    EXPECT_TRUE(SameBytes(ReadFile(input), bytes)) << "the input changed";
}

// The summary shown before the split stays in the information field when the medium fills up.
TEST(MediaFaults, SplitOntoAFullDisketteFailsAndKeepsTheFirstPieceWhole) {
    TmpfsMount diskette(kDisketteSize);
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

TEST(MediaFaults, JoinReadsPiecesOffAReadOnlyMediumAndCannotWriteOntoIt) {
    TmpfsMount cdrom(kRoomySize);
    SKIP_UNLESS_MOUNTED(cdrom);
    TempFolder temp;
    const std::string input = temp / "photos.zip";
    const std::int64_t chunk = 100000;
    const auto bytes = WritePattern(input, 3 * chunk - 17, 4);
    SplitInto(cdrom.path(), input, chunk);
    ASSERT_TRUE(cdrom.MakeReadOnly()) << std::strerror(errno);
    const std::string onMedium = cdrom / "photos.zip";

    // Rebuilt on the writable disk from the pieces on the read-only medium.
    std::filesystem::create_directory(temp / "restore");
    const std::string target = temp / "restore/photos.zip";
    LinkPieces(onMedium, target, 3);
    auto settings = SettingsFor(temp / "unused", chunk);
    EXPECT_TRUE(CheckedJoin(settings, target)) << settings.StatusMessage;
    EXPECT_EQ(settings.StatusMessage, messages::kJoinSucceeded);
    EXPECT_TRUE(SameBytes(ReadFile(target), bytes)) << "joined from the read-only medium";

    // The empty file the split left on the medium cannot become the joined file there.
    settings.InfoMessage = kEarlierInfo;
    EXPECT_FALSE(CheckedJoin(settings, onMedium));
    EXPECT_EQ(settings.StatusMessage, messages::kJoinFailed);
    EXPECT_EQ(settings.InfoMessage, kEarlierInfo) << "a target that cannot be opened";
    EXPECT_EQ(std::filesystem::file_size(onMedium), 0u);
    ExpectPiecesAreSlices(onMedium, bytes, chunk);
}

TEST(MediaFaults, SplitAndJoinReadFromAWriteProtectedMedium) {
    TmpfsMount medium("4m");
    SKIP_UNLESS_MOUNTED(medium);
    TempFolder folder;
    const auto input = WritePattern(medium / "in.bin", 2500, 3);
    for (int n = 1; n <= 3; ++n)
        WriteFile(Piece(medium / "x", n), Slice(input, (n - 1) * 1000, 1000));
    // Pieces are found beside the target, and a target on the medium that links to a file
    // elsewhere is refused: the join never writes through a link.
    WriteFile(folder / "rebuilt", {});
    std::filesystem::create_symlink(folder / "rebuilt", medium / "x");
    WriteFile(Piece(medium / "y", 1), input);
    ASSERT_TRUE(medium.MakeReadOnly());

    auto settings = SettingsFor(folder / "out", 1000);
    RecordingDialog dialog;
    EXPECT_TRUE(CheckedSplit(settings, medium / "in.bin", dialog));
    EXPECT_EQ(settings.StatusMessage, "Successfully broken file into pieces");
    EXPECT_EQ(ReadFile(Piece(folder / "out/in.bin", 3)), Slice(input, 2000, 1000));

    EXPECT_FALSE(CheckedJoin(settings, medium / "x"));
    EXPECT_EQ(settings.StatusMessage, "Error - Unable to join pieces into a file");
    EXPECT_TRUE(ReadFile(folder / "rebuilt").empty());

    EXPECT_FALSE(CheckedJoin(settings, medium / "y")) << "no target can be made on the medium";
    EXPECT_EQ(settings.StatusMessage, "Error - Unable to join pieces into a file");
    EXPECT_FALSE(std::filesystem::exists(medium / "y"));
}

TEST(MediaFaults, OutputMediumTurnedReadOnlyBetweenTwoSplitsFailsTheSecondCleanly) {
    TmpfsMount stick(kRoomySize);
    SKIP_UNLESS_MOUNTED(stick);
    TempFolder temp;
    const std::string folder = stick / "Tessel";
    const std::int64_t chunk = 65536;
    const std::string first = temp / "first.iso";
    const std::string second = temp / "second.iso";
    const auto firstBytes = WritePattern(first, 3 * chunk + 5, 5);
    const auto secondBytes = WritePattern(second, 2 * chunk, 6);
    SplitInto(folder, first, chunk);
    ASSERT_TRUE(stick.MakeReadOnly()) << std::strerror(errno);

    // Another input: its first piece cannot be created.
    auto settings = SettingsFor(folder, chunk);
    RecordingDialog dialog;
    EXPECT_FALSE(CheckedSplit(settings, second, dialog));
    EXPECT_EQ(settings.StatusMessage, messages::kSplitFailed);
    ASSERT_EQ(dialog.shown.size(), 1u);
    EXPECT_EQ(settings.InfoMessage, dialog.shown[0]) << "a piece that cannot be made";
    EXPECT_FALSE(std::filesystem::exists(Piece(folder + "/second.iso", 1)));

    // The same input again: its old first piece cannot be deleted.
    EXPECT_FALSE(CheckedSplit(settings, first, dialog));
    EXPECT_EQ(settings.StatusMessage, messages::kSplitFailed);
    EXPECT_EQ(settings.InfoMessage,
              messages::kSplitFailedInfoOpen + first + messages::kFailedInfoClose);

    ExpectPiecesAreSlices(folder + "/first.iso", firstBytes, chunk);
    EXPECT_TRUE(SameBytes(ReadFile(first), firstBytes)) << "the first input changed";
    EXPECT_TRUE(SameBytes(ReadFile(second), secondBytes)) << "the second input changed";
}

TEST(MediaFaults, JoinOntoAFullMediumFailsCleanly) {
    TmpfsMount diskette(kDisketteSize);
    SKIP_UNLESS_MOUNTED(diskette);
    TempFolder temp;
    const std::string input = temp / "backup.tar";
    const std::int64_t chunk = 1 << 20;
    const auto bytes = WritePattern(input, 2 * chunk + 4321, 7);
    std::filesystem::create_directory(temp / "pieces");
    SplitInto(temp / "pieces", input, chunk);
    const std::string target = diskette / "backup.tar";
    LinkPieces(temp / "pieces/backup.tar", target, 3);

    auto settings = SettingsFor(temp / "unused", chunk);
    settings.InfoMessage = kEarlierInfo;
    EXPECT_FALSE(CheckedJoin(settings, target));
    EXPECT_EQ(settings.StatusMessage, messages::kJoinFailed);
    EXPECT_EQ(settings.InfoMessage, kEarlierInfo) << "a write that fails on a full medium";
    ExpectPiecesAreSlices(temp / "pieces/backup.tar", bytes, chunk);
}

bool IsCreate(Call call) {
    return call == Call::CreateNew || call == Call::CreateReplacement || call == Call::OpenOrCreate;
}

bool IsPiece(const std::string& path, const std::string& target) {
    return path.starts_with(target + ".") && path.ends_with(kDefaultPieceExtension);
}

// Three pieces of a file, split for real, for the joins below to be disturbed.
constexpr std::int64_t kDisturbedChunk = 40000;
struct Disturbance {
    const char* what;
    std::function<bool(Call, const std::string&, const SplitPieces&)> when;
    std::function<void(const SplitPieces&)> action;
    bool vanished;
};
const Disturbance kDisturbances[] = {
    {"piece 2 deleted once the pieces are counted",
     [](Call call, const std::string& path, const SplitPieces& f) {
         return call == Call::OpenForReading && IsPiece(path, f.target);
     },
     [](const SplitPieces& f) { std::filesystem::remove(f.Piece(2)); }, true},
    {"piece 2 deleted once the target is open",
     [](Call call, const std::string& path, const SplitPieces& f) {
         return IsCreate(call) && path == f.target;
     },
     [](const SplitPieces& f) { std::filesystem::remove(f.Piece(2)); }, true},
    {"piece 2 cut to half its length once the target is open",
     [](Call call, const std::string& path, const SplitPieces& f) {
         return IsCreate(call) && path == f.target;
     },
     [](const SplitPieces& f) { std::filesystem::resize_file(f.Piece(2), kDisturbedChunk / 2); },
     false},
};

// Each disturbance with the checksum file beside the pieces ("checked") and without.
class MediaFaultsDisturbedJoin : public ::testing::TestWithParam<std::tuple<Disturbance, bool>> {};

TEST_P(MediaFaultsDisturbedJoin, PieceVanishingOrShrinkingDuringAJoinEndsInTheFailureTexts) {
    constexpr std::int64_t kChunk = kDisturbedChunk;
    const Disturbance& disturbance = std::get<0>(GetParam());
    const bool withList = std::get<1>(GetParam());
    SplitPieces fixture("letters.txt", 3 * kChunk - 1000, kChunk, 8);
    if (HasFatalFailure()) return;
    if (!withList) std::filesystem::remove(fixture.target + kChecksumSuffix);
    const std::string failureInfo =
        messages::kJoinFailedInfoOpen + fixture.target + messages::kFailedInfoClose;
    OneShotFileSystem files(
        [&](Call call, const std::string& path) { return disturbance.when(call, path, fixture); },
        [&] { disturbance.action(fixture); });
    auto settings = SettingsFor(fixture.temp / "unused", kChunk);
    settings.InfoMessage = kEarlierInfo;
    EXPECT_FALSE(CheckedJoin(settings, fixture.target, files));
    EXPECT_TRUE(files.fired()) << "the disturbance never happened";
    // With the checksum file, a piece gone before it is read is named missing, one cut
    // short is named damaged; one that vanishes once the copy has begun cannot be opened.
    const std::string named =
        std::string(messages::kPieceOpen) + "2" +
        (disturbance.vanished ? messages::kPieceMissingClose : messages::kPieceDamagedClose);
    if (withList)
        EXPECT_TRUE(settings.StatusMessage == named ||
                    settings.StatusMessage == messages::kJoinFailed)
            << settings.StatusMessage;
    else
        EXPECT_EQ(settings.StatusMessage, messages::kJoinFailed);
    // A piece that is gone may be noticed when its length is asked (the failure text) or
    // when it is opened (nothing new); one that came up short is always a failure.
    if (disturbance.vanished) {
        EXPECT_TRUE(settings.InfoMessage == failureInfo || settings.InfoMessage == kEarlierInfo)
            << settings.InfoMessage;
    } else {
        EXPECT_EQ(settings.InfoMessage, failureInfo);
    }
    EXPECT_TRUE(SameBytes(ReadFile(fixture.Piece(1)), fixture.Slice(1)));
    EXPECT_TRUE(SameBytes(ReadFile(fixture.Piece(3)), fixture.Slice(3)));
    EXPECT_EQ(std::filesystem::file_size(fixture.target), 0U)
        << "a failed join must leave the placeholder as it was";
}

INSTANTIATE_TEST_SUITE_P(, MediaFaultsDisturbedJoin,
                         ::testing::Combine(::testing::ValuesIn(kDisturbances), ::testing::Bool()),
                         [](const auto& test) {
                             return CamelCase(std::get<0>(test.param).what) +
                                    (std::get<1>(test.param) ? "_Checked" : "_Unchecked");
                         });

TEST(MediaFaults, InputShrinkingDuringASplitEndsInTheFailureTexts) {
    TempFolder temp;
    const std::int64_t chunk = 50000;
    const std::string input = temp / "growing.log";
    const auto bytes = WritePattern(input, 3 * chunk, 9);
    const std::string base = temp / "out/growing.log";
    // Another program cuts the input short while the second piece is being made.
    OneShotFileSystem files(
        [&](Call call, const std::string& path) {
            return IsCreate(call) && path == Piece(base, 2);
        },
        [&] { std::filesystem::resize_file(input, chunk + chunk / 2); });

    auto settings = SettingsFor(temp / "out", chunk);
    RecordingDialog dialog;
    EXPECT_FALSE(CheckedSplit(settings, input, dialog, files));
    EXPECT_TRUE(files.fired()) << "the input was never cut";
    EXPECT_EQ(settings.StatusMessage, messages::kSplitFailed);
    EXPECT_EQ(settings.InfoMessage,
              messages::kSplitFailedInfoOpen + input + messages::kFailedInfoClose);
    EXPECT_TRUE(SameBytes(ReadFile(Piece(base, 1)), Slice(bytes, 0, chunk)));
}

// A medium whose file system cannot make nameless files (FUSE, network shares): the join writes
// its new file under a name of its own beside the target.
TEST(MediaFaults, WithoutNamelessFilesAJoinReplacesOnlyWholeAndAKilledJoinIsCleanedUpByTheNext) {
    FuseMount medium(16);
    SKIP_UNLESS_MOUNTED(medium);
    constexpr std::int64_t kChunk = 1 << 20;
    TempFolder temp;
    const auto bytes = WritePattern(temp / "video.mp4", 3 * kChunk + 5, 12);
    auto settings = SettingsFor(medium.path(), kChunk);
    ASSERT_TRUE(SplitFile(settings, temp / "video.mp4")) << settings.StatusMessage;
    const std::string target = medium / "video.mp4";
    const auto scratch = [&] {
        for (const auto& entry : std::filesystem::directory_iterator(medium.path()))
            if (entry.path().filename().string().starts_with(".tessel-join.")) return true;
        return false;
    };
    ASSERT_TRUE(CheckedJoin(settings, target)) << settings.StatusMessage;
    EXPECT_EQ(settings.StatusMessage, messages::kJoinVerified);
    EXPECT_TRUE(SameBytes(ReadFile(target), bytes));

    // Killed half way: the whole file of the join before stays; what the killed join left under
    // its own name goes with the next join.
    const pid_t child = RunInChild([&] {
        OperationControl control;
        control.progress = [](std::int64_t done, std::int64_t) {
            if (done >= kChunk) ::kill(::getpid(), SIGKILL);
        };
        JoinFiles(settings, target, control);
        return 0;
    });
    ASSERT_EQ(WaitForChild(child), 128 + SIGKILL);
    EXPECT_TRUE(scratch()) << "the killed join left nothing to clean";
    EXPECT_TRUE(SameBytes(ReadFile(target), bytes)) << "a killed join changed the file";
    ASSERT_TRUE(CheckedJoin(settings, target)) << settings.StatusMessage;
    EXPECT_FALSE(scratch());

    // A damaged piece: the join fails and leaves no new file beside the old one.
    std::filesystem::resize_file(Piece(target, 2), kChunk - 1);
    EXPECT_FALSE(CheckedJoin(settings, target));
    EXPECT_EQ(settings.StatusMessage,
              std::string(messages::kPieceOpen) + "2" + messages::kPieceDamagedClose);
    EXPECT_FALSE(scratch());
    EXPECT_TRUE(SameBytes(ReadFile(target), bytes));
}

}  // namespace
}  // namespace tessel::testing
