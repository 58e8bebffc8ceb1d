#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/shared_settings.h"
#include "tests/support/case_names.h"
#include "tests/support/checked_runs.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/piece_checks.h"
#include "tests/support/temp_folder.h"

namespace tessel::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kJoined[] = "The Files have been successfully joined";
constexpr char kJoinFailed[] = "Error - Unable to join pieces into a file";

std::string FailureInfo(const std::string& target) {
    return "Tessel could not join pieces into a file [" + target + "].";
}

enum class Target { Missing, EmptyPlaceholder, LongerOldFile, AlreadyJoined };
const std::pair<Target, const char*> kStarts[] = {{Target::Missing, "no target"},
                                                  {Target::EmptyPlaceholder, "empty target"},
                                                  {Target::LongerOldFile, "longer old target"},
                                                  {Target::AlreadyJoined, "joined before"}};

class JoinOverTarget : public ::testing::TestWithParam<std::pair<Target, const char*>> {};

TEST_P(JoinOverTarget, RebuildsTheFileOverWhateverTheTargetHeld) {
    const auto& [start, what] = GetParam();
    TempFolder folder;
    const std::string target = folder / "report.doc";
    const auto whole = WritePieces(target, {1000, 1000, 500});  // two and a half chunks
    if (start == Target::EmptyPlaceholder) WriteFile(target, {});
    if (start == Target::LongerOldFile) WriteFile(target, PatternBytes(4000, 99));
    auto settings = EarlierSettings();
    if (start == Target::AlreadyJoined) {
        ASSERT_TRUE(CheckedJoin(settings, target));
    }

    EXPECT_TRUE(CheckedJoin(settings, target));
    EXPECT_EQ(settings.StatusMessage, kJoined);
    EXPECT_EQ(settings.InfoMessage, kEarlierSummary);
    EXPECT_EQ(ReadFile(target), whole);
    EXPECT_EQ(fs::file_size(Piece(target, 3)), 500u) << "pieces stay";
}

INSTANTIATE_TEST_SUITE_P(, JoinOverTarget, ::testing::ValuesIn(kStarts),
                         [](const auto& test) { return CamelCase(test.param.second); });

struct RunCase {
    const char* what;
    std::vector<std::int64_t> sizes;
    std::vector<std::string> otherFiles;    // beside the pieces, none of them a piece
    std::vector<std::string> otherFolders;  // likewise
};
const RunCase kRunCases[] = {
    {"an empty piece in the middle", {700, 0, 300}, {}, {}},
    {"pieces 10 and 11 without leading zeros",
     std::vector<std::int64_t>(11, 50),
     {"x.010.BRK", "x.01.BRK"},
     {}},
    {"other names are not pieces",
     {400, 400},
     {"y.3.BRK", "xx.3.BRK", "x.3.brk", "x.3.TXT", "x.3.BRK.old", "x.3", "x.9.BRK~", "x.03.BRK",
      "x.-3.BRK", "x.+3.BRK"},
     {}},
    {"a folder named like a piece ends the count", {400, 400}, {}, {"x.3.BRK"}},
    {"one piece", {123}, {}, {}},
};

class JoinPieceRun : public ::testing::TestWithParam<RunCase> {};

TEST_P(JoinPieceRun, CountsTheUnbrokenRunOfOrdinaryFilesNamedLikePieces) {
    const auto& c = GetParam();
    TempFolder folder;
    const std::string target = folder / "x";
    const auto whole = WritePieces(target, c.sizes);
    for (const auto& name : c.otherFiles) WriteFile(folder / name, PatternBytes(33, 5));
    for (const auto& name : c.otherFolders) fs::create_directory(folder / name);
    auto settings = EarlierSettings();

    EXPECT_TRUE(CheckedJoin(settings, target));
    EXPECT_EQ(settings.StatusMessage, kJoined);
    EXPECT_EQ(ReadFile(target), whole);
}

INSTANTIATE_TEST_SUITE_P(, JoinPieceRun, ::testing::ValuesIn(kRunCases), NamedByWhat());

struct GapCase {
    const char* what;
    std::vector<std::int64_t> numbers;
    bool targetExists;
    std::string info;  // the expected InfoMessage; the target path is appended for a gap
};
const GapCase kGapCases[] = {
    {"pieces 1, 2 and 4, no target", {1, 2, 4}, false, "gap"},
    {"pieces 1, 2 and 4, old target", {1, 2, 4}, true, "gap"},
    {"pieces 1, 2 and 40", {1, 2, 40}, false, "gap"},
    {"no piece 1", {2, 3}, false, kEarlierSummary},
    {"no piece at all", {}, false, kEarlierSummary},
};

class JoinRefused : public ::testing::TestWithParam<GapCase> {};

TEST_P(JoinRefused, GapOrMissingFirstPieceIsRefusedWithoutTouchingTheTarget) {
    const auto& c = GetParam();
    TempFolder folder;
    const std::string target = folder / "x";
    for (const auto n : c.numbers) WriteFile(Piece(target, n), PatternBytes(100, 3));
    const auto oldTarget = PatternBytes(150, 4);
    if (c.targetExists) WriteFile(target, oldTarget);
    auto settings = EarlierSettings();

    EXPECT_FALSE(CheckedJoin(settings, target));
    EXPECT_EQ(settings.StatusMessage, kJoinFailed);
    EXPECT_EQ(settings.InfoMessage, c.info == "gap" ? FailureInfo(target) : c.info);
    if (c.targetExists) {
        EXPECT_EQ(ReadFile(target), oldTarget);
    } else {
        EXPECT_FALSE(fs::exists(target));
    }
    for (const auto n : c.numbers) EXPECT_EQ(ReadFile(Piece(target, n)), PatternBytes(100, 3));
}

INSTANTIATE_TEST_SUITE_P(, JoinRefused, ::testing::ValuesIn(kGapCases), NamedByWhat());

// The fault tests below rely on the decorator passing everything else through unchanged.
TEST(Join, FaultFreeDecoratedFileSystemJoinsLikeThePlainOne) {
    TempFolder folder;
    const std::string target = folder / "x";
    const auto whole = WritePieces(target, {300, 300, 100});
    auto settings = EarlierSettings();
    FaultyFileSystem files;
    EXPECT_TRUE(CheckedJoin(settings, target, files));
    EXPECT_EQ(ReadFile(target), whole);
    EXPECT_EQ(files.OpenFiles(), 0);
    EXPECT_NE(std::ranges::find(files.OpenedPaths(), Piece(target, 2)), files.OpenedPaths().end())
        << "pieces are opened through the decorator";
}

struct CopyFaultCase {
    const char* what;
    std::function<void(FaultyFileSystem&, const std::string& target)> inject;
    std::optional<bool> failurePathInfo;  // failure text, earlier text, or either
};
const CopyFaultCase kCopyFaultCases[] = {
    {"piece 2 reads short",
     [](auto& files, auto& target) { files.LimitReads(Piece(target, 2), 290); }, true},
    {"piece 2 cannot be read", [](auto& files, auto& target) { files.FailReads(Piece(target, 2)); },
     true},
    {"piece 2 vanished after the count",
     [](auto& files, auto& target) { files.FailExamine(Piece(target, 2)); }, true},
    {"piece 2 cannot be opened",
     [](auto& files, auto& target) { files.FailOpen(Piece(target, 2)); }, false},
    {"the target cannot be written", [](auto& files, auto& target) { files.FailWrites(target); },
     false},
    {"the target cannot be flushed", [](auto& files, auto& target) { files.FailFlush(target); },
     false},
    {"the new file cannot take the target's name",
     [](auto& files, auto& target) { files.FailCommit(target); }, false},
};

class JoinCopyFaults : public ::testing::TestWithParam<CopyFaultCase> {};

TEST_P(JoinCopyFaults, FaultsWhileCopyingNeverEndInSuccess) {
    const auto& c = GetParam();
    TempFolder folder;
    const std::string target = folder / "x";
    WritePieces(target, {300, 300, 100});
    const auto piece2 = ReadFile(Piece(target, 2));
    auto settings = EarlierSettings();
    FaultyFileSystem files;
    c.inject(files, target);

    EXPECT_FALSE(CheckedJoin(settings, target, files));
    EXPECT_EQ(settings.StatusMessage, kJoinFailed);
    if (c.failurePathInfo) {
        EXPECT_EQ(settings.InfoMessage, *c.failurePathInfo ? FailureInfo(target) : kEarlierSummary);
    }
    EXPECT_EQ(ReadFile(Piece(target, 2)), piece2);
    EXPECT_EQ(files.OpenFiles(), 0);
}

INSTANTIATE_TEST_SUITE_P(, JoinCopyFaults, ::testing::ValuesIn(kCopyFaultCases), NamedByWhat());

}  // namespace
}  // namespace tessel::testing
