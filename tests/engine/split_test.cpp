#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "engine/piece_naming.h"
#include "engine/shared_settings.h"
#include "tests/support/case_names.h"
#include "tests/support/checked_runs.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/piece_checks.h"
#include "tests/support/recording_dialog.h"
#include "tests/support/temp_folder.h"

namespace tessel::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kChunk = 1000;
constexpr char kSplitDone[] = "Successfully broken file into pieces";
constexpr char kSplitFailed[] = "Error - Unable to break file into pieces";
constexpr char kJoinedAndVerified[] = "The Files have been successfully joined and verified";

std::string SizeLines(const std::string& path, std::int64_t size) {
    return path + "\r\nSize of file  : " + std::to_string(size) + " bytes  \r\n";
}
std::string OneFileSummary(const std::string& path, std::int64_t size) {
    return "Selected file : " + SizeLines(path, size) + " This will require only One file";
}
std::string FilesSummary(const std::string& path, std::int64_t size, std::int64_t pieces) {
    return "Selected File : " + SizeLines(path, size) + " This will require " +
           std::to_string(pieces) + " Files.";
}
std::string FailureInfo(const std::string& path) {
    return "Tessel could not break file [" + path + "].";
}

std::vector<char> Concatenated(const std::string& base, std::int64_t count) {
    std::vector<char> all;
    for (std::int64_t n = 1; n <= count; ++n) {
        const auto piece = ReadFile(Piece(base, n));
        all.insert(all.end(), piece.begin(), piece.end());
    }
    return all;
}

// A split of `input` that fails with `info` in InfoMessage after showing its summary `shown`
// times: 0 when it is refused before the summary, 1 when it fails after it.
void ExpectSplitFails(SharedSettings& settings, const std::string& input, std::size_t shown,
                      const std::string& info) {
    RecordingDialog dialog;
    EXPECT_FALSE(CheckedSplit(settings, input, dialog));
    EXPECT_EQ(dialog.shown.size(), shown);
    EXPECT_EQ(settings.StatusMessage, kSplitFailed);
    EXPECT_EQ(settings.InfoMessage, info);
}

struct SizeCase {
    std::int64_t size;
    std::int64_t pieces;
    bool onlyOne;
};
const SizeCase kSizeCases[] = {{999, 1, true},   {1, 1, true},     {0, 1, true},
                               {1000, 1, false}, {2000, 2, false}, {3000, 3, false},
                               {2500, 3, false}};

class SplitBySize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SplitBySize, SummaryPiecesAndPlaceholderFollowTheInputSize) {
    const auto& c = GetParam();
    TempFolder folder;
    const std::string input = folder / "report.doc";
    const auto bytes = WritePattern(input, c.size);
    const std::string out = folder / "out";
    auto settings = SettingsFor(out, kChunk);
    settings.StatusMessage = "stale";
    RecordingDialog dialog([&] { EXPECT_FALSE(fs::exists(out)) << "written before OK"; });

    ASSERT_TRUE(CheckedSplit(settings, input, dialog));
    const auto summary =
        c.onlyOne ? OneFileSummary(input, c.size) : FilesSummary(input, c.size, c.pieces);
    EXPECT_EQ(dialog.shown, std::vector<std::string>{summary});
    EXPECT_EQ(settings.InfoMessage, summary);
    EXPECT_EQ(settings.StatusMessage, kSplitDone);
    EXPECT_EQ(settings.PieceCount, static_cast<double>(c.size) / kChunk);
    const std::string base = out + "/report.doc";
    for (std::int64_t n = 1; n <= c.pieces; ++n)
        EXPECT_EQ(fs::file_size(Piece(base, n)), std::min(kChunk, c.size - (n - 1) * kChunk));
    EXPECT_EQ(Concatenated(base, c.pieces), bytes);
    EXPECT_EQ(fs::file_size(base), 0u) << "the placeholder named like the input";
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), c.pieces + 2)
        << "only the placeholder, the pieces and their checksum file";
    EXPECT_EQ(ReadFile(input), bytes);
}

INSTANTIATE_TEST_SUITE_P(, SplitBySize, ::testing::ValuesIn(kSizeCases),
                         [](const auto& test) { return "Size" + std::to_string(test.param.size); });

TEST(Split, ResplitReplacesOldPiecesAndDeletesTheHigherOnes) {
    TempFolder folder;
    const std::string input = folder / "data.bin";
    const std::string base = folder / "data.bin.out/data.bin";
    auto settings = SettingsFor(folder / "data.bin.out", kChunk);
    RecordingDialog dialog;
    WritePattern(input, 5 * kChunk, 1);
    ASSERT_TRUE(CheckedSplit(settings, input, dialog));
    ASSERT_TRUE(fs::exists(Piece(base, 5)));
    const std::vector<char> joinedBefore = {'o', 'l', 'd'};
    WriteFile(base, joinedBefore);

    const auto shorter = WritePattern(input, 2 * kChunk - 1, 2);
    ASSERT_TRUE(CheckedSplit(settings, input, dialog));
    EXPECT_EQ(Concatenated(base, 2), shorter);
    for (std::int64_t n = 3; n <= 5; ++n)
        EXPECT_FALSE(fs::exists(Piece(base, n))) << "stale piece " << n;
    EXPECT_EQ(ReadFile(base), joinedBefore) << "an existing file of the input's name is kept";
    EXPECT_EQ(dialog.shown.size(), 2u);
}

enum class Input { File, Missing, Folder, EmptyPath };
struct RefusalCase {
    const char* what;
    Input input;
    std::int64_t chunk;
};
const RefusalCase kRefusalCases[] = {{"chunk size 0", Input::File, 0},
                                     {"missing input", Input::Missing, kChunk},
                                     {"empty path", Input::EmptyPath, kChunk},
                                     {"a folder as input", Input::Folder, kChunk}};

class SplitRefused : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(SplitRefused, UnusableInputOrZeroChunkFailsBeforeTheDialogAndCreatesNothing) {
    const auto& c = GetParam();
    TempFolder folder;
    const std::string input = c.input == Input::EmptyPath ? "" : folder / "in.txt";
    if (c.input == Input::File) WriteFile(input, PatternBytes(2500));
    if (c.input == Input::Folder) fs::create_directory(input);
    auto settings = SettingsFor(folder / "out", c.chunk);
    settings.StatusMessage = "stale";

    ExpectSplitFails(settings, input, 0, FailureInfo(input));
    EXPECT_FALSE(fs::exists(folder / "out"));
}

INSTANTIATE_TEST_SUITE_P(, SplitRefused, ::testing::ValuesIn(kRefusalCases), NamedByWhat());

TEST(Split, NegativeChunkSizeFailsAfterTheDialog) {
    TempFolder folder;
    const std::string input = folder / "in.txt";
    WritePattern(input, 2500);
    auto settings = SettingsFor(folder / "out", -1000);
    ExpectSplitFails(settings, input, 1, FailureInfo(input));
    EXPECT_FALSE(fs::exists(Piece(folder / "out/in.txt", 1)));
}

TEST(Split, MoreThan32767PiecesAreRefusedAtTheSummary) {
    TempFolder folder;
    const std::string input = folder / "big.img";
    WriteFile(input, {});
    fs::resize_file(input, kMaxPieces + 1);  // sparse: one piece too many at one byte a piece
    auto settings = SettingsFor(folder / "out", 1);
    ExpectSplitFails(settings, input, 0, FailureInfo(input));
    EXPECT_FALSE(fs::exists(folder / "out"));
}

// 32767 pieces mean 32767 flushes: a folder in memory keeps that quick where there is one.
fs::path QuickParent() {
    return fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
}

TEST(Split, Exactly32767PiecesSplitAndJoinBack) {
    TempFolder folder(QuickParent());
    const std::string input = folder / "most.bin";
    const auto bytes = WritePattern(input, kMaxPieces);
    auto settings = SettingsFor(folder / "out", 1);
    RecordingDialog dialog;
    ASSERT_TRUE(CheckedSplit(settings, input, dialog));
    EXPECT_EQ(settings.InfoMessage, FilesSummary(input, kMaxPieces, kMaxPieces));
    EXPECT_EQ(settings.StatusMessage, kSplitDone);
    const std::string base = folder / "out/most.bin";
    EXPECT_EQ(fs::file_size(Piece(base, kMaxPieces)), 1u);
    EXPECT_FALSE(fs::exists(Piece(base, kMaxPieces + 1)));

    EXPECT_TRUE(CheckedJoin(settings, base));
    EXPECT_EQ(settings.StatusMessage, kJoinedAndVerified);
    EXPECT_EQ(ReadFile(base), bytes);
}

TEST(Split, MissingParentOfTheOutputFolderFailsAfterTheDialog) {
    TempFolder folder;
    const std::string input = folder / "in.txt";
    WritePattern(input, 2500);
    auto settings = SettingsFor(folder / "absent/out", kChunk);
    ExpectSplitFails(settings, input, 1, FilesSummary(input, 2500, 3));
}

TEST(Split, ReadOnlyInputSplits) {
    TempFolder folder;
    const std::string input = folder / "readonly.txt";
    const auto bytes = WritePattern(input, 2500);
    ASSERT_EQ(::chmod(input.c_str(), 0444), 0);
    auto settings = SettingsFor(folder / "out", kChunk);
    RecordingDialog dialog;
    EXPECT_TRUE(CheckedSplit(settings, input, dialog));
    EXPECT_EQ(settings.StatusMessage, kSplitDone);
    EXPECT_EQ(Concatenated(folder / "out/readonly.txt", 3), bytes);
}

struct WriteFaultCase {
    const char* what;
    std::function<void(FaultyFileSystem&, const std::string& input, const std::string& base)>
        inject;
    bool keepsSummary;  // otherwise the failure text replaces it
};
const WriteFaultCase kWriteFaultCases[] = {
    {"piece 2 cannot be opened",
     [](auto& files, auto&, auto& base) { files.FailOpen(Piece(base, 2)); }, true},
    {"piece 2 cannot be written",
     [](auto& files, auto&, auto& base) { files.FailWrites(Piece(base, 2)); }, true},
    {"old piece 2 cannot be deleted",
     [](auto& files, auto&, auto& base) {
         WritePattern(Piece(base, 2), kChunk, 9);
         files.FailDelete(Piece(base, 2));
     },
     false},
};

class SplitWriteFaults : public ::testing::TestWithParam<WriteFaultCase> {};

TEST_P(SplitWriteFaults, FaultsWhileWritingPiecesEndInFailure) {
    const auto& c = GetParam();
    TempFolder folder;
    const std::string input = folder / "in.txt";
    const std::string base = folder / "out/in.txt";
    const auto bytes = WritePattern(input, 2500);
    fs::create_directory(folder / "out");
    auto settings = SettingsFor(folder / "out", kChunk);
    RecordingDialog dialog;
    FaultyFileSystem files;
    c.inject(files, input, base);

    EXPECT_FALSE(CheckedSplit(settings, input, dialog, files));
    EXPECT_EQ(settings.StatusMessage, kSplitFailed);
    EXPECT_EQ(settings.InfoMessage,
              c.keepsSummary ? FilesSummary(input, 2500, 3) : FailureInfo(input));
    EXPECT_EQ(ReadFile(Piece(base, 1)), Slice(bytes, 0, kChunk)) << "piece 1 stays whole";
    EXPECT_FALSE(fs::exists(Piece(base, 3)));
    EXPECT_EQ(files.OpenFiles(), 0);
}

INSTANTIATE_TEST_SUITE_P(, SplitWriteFaults, ::testing::ValuesIn(kWriteFaultCases), NamedByWhat());

TEST(Split, UnreadableInputFailsWithoutReportingSuccess) {
    TempFolder folder;
    const std::string input = folder / "in.txt";
    WritePattern(input, 2500);
    auto settings = SettingsFor(folder / "out", kChunk);
    RecordingDialog dialog;
    FaultyFileSystem files;
    files.FailReads(input);
    EXPECT_FALSE(CheckedSplit(settings, input, dialog, files));
    EXPECT_EQ(settings.StatusMessage, kSplitFailed);
}

// Each name with the seed of its input's bytes.
const std::pair<const char*, std::uint32_t> kUnusualNames[] = {
    {"my report 2024.doc", 2}, {"say \"hi\".txt", 3}, {"caf\xc3\xa9 \xc3\xbc.bin", 4},
    {"back\\slash.dat", 5},    {" padded .txt", 6},   {"50% off's.txt", 7}};

class SplitUnusualNames : public ::testing::TestWithParam<std::pair<const char*, std::uint32_t>> {};

TEST_P(SplitUnusualNames, UnusualNamesSplitAndJoinBackWhole) {
    const std::string name = GetParam().first;
    const std::uint32_t seed = GetParam().second;
    TempFolder folder;
    const std::string input = folder / name;
    const auto bytes = WritePattern(input, 2500, seed);
    auto settings = SettingsFor(folder / "out", kChunk);
    RecordingDialog dialog;
    ASSERT_TRUE(CheckedSplit(settings, input, dialog));
    const std::string base = folder / ("out/" + name);
    ASSERT_TRUE(fs::exists(base));
    EXPECT_TRUE(CheckedJoin(settings, base));
    EXPECT_EQ(settings.StatusMessage, kJoinedAndVerified);
    EXPECT_EQ(ReadFile(base), bytes);
}

INSTANTIATE_TEST_SUITE_P(, SplitUnusualNames, ::testing::ValuesIn(kUnusualNames),
                         [](const auto& test) { return SpelledOut(test.param.first); });

}  // namespace
}  // namespace tessel::testing
