// The checksum file a split writes beside its pieces, as the real sha256sum reads it, and the
// join that checks the pieces against it and leaves the target as it was on any mismatch.
#include "engine/checksum.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/join.h"
#include "engine/messages.h"
#include "engine/split.h"
#include "tests/support/case_names.h"
#include "tests/support/checked_runs.h"
#include "tests/support/child_process.h"
#include "tests/support/piece_checks.h"
#include "tests/support/run_tool.h"
#include "tests/support/temp_folder.h"

namespace tessel::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kChunk = 64 * 1024;

std::int64_t CountOf(const std::string& text, const std::string& word) {
    std::int64_t count = 0;
    for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++count;
    return count;
}

struct NameCase {
    std::string name;
    std::int64_t size;
};
const NameCase kNameCases[] = {
    {"one.bin", kChunk / 2},
    {"several.bin", 3 * kChunk + 17},
    {"empty.bin", 0},
    {"with blanks.doc", 2 * kChunk},
    {"Ünïcödé ☃.txt", kChunk + 1},
    {"back\\slash.bin", kChunk + 5},
    {"new\nline.bin", 2 * kChunk + 3},
};

class ChecksumFileNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(ChecksumFileNames, SplitWritesAListThatSha256sumAcceptsForEveryKindOfName) {
    const auto& [name, size] = GetParam();
    TempFolder temp;
    WritePattern(temp / name, size);
    auto settings = SettingsFor(temp / "out", kChunk);
    RecordingDialog dialog;
    ASSERT_TRUE(CheckedSplit(settings, temp / name, dialog));

    const auto pieces = ExpectedPieces(size, kChunk);
    const auto check =
        RunTool(temp / "out", {"sha256sum", "--strict", "-c", name + kChecksumSuffix});
    EXPECT_EQ(check.exitCode, 0) << check.output;
    EXPECT_EQ(CountOf(check.output, ": OK"), pieces) << check.output;

    ChecksumList list;
    ASSERT_EQ(ParseChecksumFile(ReadText(temp / ("out/" + name + kChecksumSuffix)), name,
                                kDefaultPieceExtension, list),
              ListReading::Complete);
    ASSERT_TRUE(list.header.has_value());
    EXPECT_EQ(list.header->size, size);
    EXPECT_EQ(list.header->chunk, kChunk);
    EXPECT_EQ(list.header->pieces, pieces);
}

INSTANTIATE_TEST_SUITE_P(, ChecksumFileNames, ::testing::ValuesIn(kNameCases),
                         [](const auto& test) { return SpelledOut(test.param.name); });

TEST(ChecksumFile, ResplitIntoFewerPiecesRewritesTheList) {
    TempFolder temp;
    const auto input = WritePattern(temp / "data.bin", 5 * kChunk);
    auto settings = SettingsFor(temp / "out", kChunk);
    RecordingDialog dialog;
    ASSERT_TRUE(CheckedSplit(settings, temp / "data.bin", dialog));
    settings.ChunkSize = 3 * kChunk;
    ASSERT_TRUE(CheckedSplit(settings, temp / "data.bin", dialog));

    const std::string text = ReadText(temp / "out/data.bin.sha256");
    EXPECT_EQ(CountOf(text, "\n"), 3) << text;  // the header and two pieces
    const auto check = RunTool(temp / "out", {"sha256sum", "--strict", "-c", "data.bin.sha256"});
    EXPECT_EQ(check.exitCode, 0) << check.output;

    ASSERT_TRUE(CheckedJoin(settings, temp / "out/data.bin"));
    EXPECT_EQ(settings.StatusMessage, messages::kJoinVerified);
    EXPECT_TRUE(SameBytes(ReadFile(temp / "out/data.bin"), input));
}

// One way a set can go wrong, and what the join must then say.
struct Damage {
    const char* what;
    std::function<void(const SplitPieces&)> apply;
    std::string status;
};

void FlipByte(const std::string& path, std::int64_t offset) {
    auto bytes = ReadFile(path);
    bytes[static_cast<std::size_t>(offset)] ^= 0x01;
    WriteFile(path, bytes);
}

void CutChecksumList(const SplitPieces& set, std::size_t lines) {
    const std::string path = set.target + kChecksumSuffix;
    std::string text = ReadText(path);
    std::size_t end = 0;
    for (std::size_t i = 0; i < lines; ++i) end = text.find('\n', end) + 1;
    text.resize(end);
    WriteFile(path, {text.begin(), text.end()});
}

const std::string kPiece = messages::kPieceOpen;
const Damage kDamages[] = {
    {"a flipped byte in the middle of a middle piece",
     [](const SplitPieces& set) { FlipByte(set.Piece(2), kChunk / 2); },
     kPiece + "2" + messages::kPieceDamagedClose},
    {"a piece cut short", [](const SplitPieces& set) { fs::resize_file(set.Piece(3), kChunk - 1); },
     kPiece + "3" + messages::kPieceDamagedClose},
    {"a piece made longer",
     [](const SplitPieces& set) { fs::resize_file(set.Piece(2), kChunk + 1); },
     kPiece + "2" + messages::kPieceDamagedClose},
    {"the last piece missing", [](const SplitPieces& set) { fs::remove(set.Piece(5)); },
     kPiece + "5" + messages::kPieceMissingClose},
    {"a middle piece missing", [](const SplitPieces& set) { fs::remove(set.Piece(3)); },
     kPiece + "3" + messages::kPieceMissingClose},
    {"a list cut after its third piece", [](const SplitPieces& set) { CutChecksumList(set, 4); },
     messages::kChecksumFileIncomplete},
    {"a list that is not one",
     [](const SplitPieces& set) {
         WriteFile(set.target + kChecksumSuffix, {'x', '\n'});
     },
     messages::kChecksumFileUnreadable},
};
// What stands where the join writes before it: its kind, and its bytes.
using Target = std::pair<const char*, std::vector<char>>;
const Target kTargets[] = {{"the empty placeholder", {}},
                           {"an older, longer file", PatternBytes(9 * kChunk, 7)}};

class ChecksumJoinDamage : public ::testing::TestWithParam<std::tuple<Damage, Target>> {};

TEST_P(ChecksumJoinDamage, DamagedMissingOrUnlistedPiecesAreNamedAndTheTargetKeepsItsBytes) {
    const auto& [damage, target] = GetParam();
    const auto& before = target.second;
    const SplitPieces set("data.bin", 4 * kChunk + 100, kChunk, 3);
    damage.apply(set);
    WriteFile(set.target, before);
    const auto namesBefore = Names(set.temp.path() / "out");

    auto settings = SettingsFor(set.temp / "out", kChunk);
    EXPECT_FALSE(CheckedJoin(settings, set.target));
    EXPECT_EQ(settings.StatusMessage, damage.status);
    EXPECT_EQ(settings.InfoMessage,
              messages::kJoinFailedInfoOpen + set.target + messages::kFailedInfoClose);
    EXPECT_TRUE(SameBytes(ReadFile(set.target), before));
    EXPECT_EQ(Names(set.temp.path() / "out"), namesBefore) << "a file was left behind";
}

INSTANTIATE_TEST_SUITE_P(, ChecksumJoinDamage,
                         ::testing::Combine(::testing::ValuesIn(kDamages),
                                            ::testing::ValuesIn(kTargets)),
                         [](const auto& test) {
                             return CamelCase(std::get<0>(test.param).what) + "_Onto" +
                                    CamelCase(std::get<1>(test.param).first);
                         });

TEST(ChecksumJoin, ListedPiecesAloneAreJoinedAndWithoutAListTheJoinIsAsBefore) {
    const SplitPieces set("data.bin", 3 * kChunk - 9, kChunk, 11);
    WriteFile(set.Piece(4), PatternBytes(kChunk, 99));  // not listed: left alone, not joined
    auto settings = SettingsFor(set.temp / "out", kChunk);
    ASSERT_TRUE(CheckedJoin(settings, set.target));
    EXPECT_EQ(settings.StatusMessage, messages::kJoinVerified);
    EXPECT_TRUE(SameBytes(ReadFile(set.target), set.bytes));
    EXPECT_TRUE(SameBytes(ReadFile(set.Piece(4)), PatternBytes(kChunk, 99)));

    fs::remove(set.target + kChecksumSuffix);
    fs::remove(set.Piece(4));
    FlipByte(set.Piece(1), 5);  // nothing can tell without the list
    ASSERT_TRUE(CheckedJoin(settings, set.target));
    EXPECT_EQ(settings.StatusMessage, messages::kJoinSucceeded);
    EXPECT_EQ(fs::file_size(set.target), set.bytes.size());
}

TEST(ChecksumJoin, ASplitKilledPartWayLeavesAListTheJoinCallsIncomplete) {
    TempFolder temp;
    WritePattern(temp / "data.bin", 6 * kChunk);
    const pid_t child = RunInChild([&] {
        auto settings = SettingsFor(temp / "out", kChunk);
        OperationControl control;
        // Killed once the third piece is copied, before its line is written.
        control.progress = [](std::int64_t done, std::int64_t) {
            if (done >= 3 * kChunk) ::kill(::getpid(), SIGKILL);
        };
        SplitFile(settings, temp / "data.bin", control);
        return 0;
    });
    ASSERT_EQ(WaitForChild(child), 128 + SIGKILL);
    ASSERT_TRUE(fs::exists(temp / "out/data.bin.3.BRK"));

    const std::string text = ReadText(temp / "out/data.bin.sha256");
    EXPECT_EQ(CountOf(text, "\n"), 3) << text;  // the header and the two finished pieces
    auto settings = SettingsFor(temp / "out", kChunk);
    EXPECT_FALSE(CheckedJoin(settings, temp / "out/data.bin"));
    EXPECT_EQ(settings.StatusMessage, messages::kChecksumFileIncomplete);
    EXPECT_EQ(fs::file_size(temp / "out/data.bin"), 0U);
}

TEST(ChecksumCancel, ACancelledSplitTakesBackWhatItWroteAndACancelledJoinLeavesTheTarget) {
    TempFolder temp;
    const auto input = WritePattern(temp / "data.bin", 5 * kChunk);
    std::atomic<bool> cancel = true;
    OperationControl control{{}, &cancel};
    auto settings = SettingsFor(temp / "out", kChunk);

    // At the very start: nothing stays, not even the placeholder this split made.
    EXPECT_FALSE(SplitFile(settings, temp / "data.bin", control));
    EXPECT_EQ(settings.StatusMessage, messages::kSplitCancelled);
    EXPECT_TRUE(Names(temp.path() / "out").empty());

    // In the middle: the pieces and the list go; a placeholder that was there stays.
    cancel = false;
    control.progress = [&](std::int64_t done, std::int64_t) {
        if (done >= 2 * kChunk) cancel = true;
    };
    EXPECT_FALSE(SplitFile(settings, temp / "data.bin", control));
    EXPECT_EQ(settings.StatusMessage, messages::kSplitCancelled);
    EXPECT_TRUE(Names(temp.path() / "out").empty());
    WriteFile(temp / "out/data.bin", {});
    cancel = false;
    EXPECT_FALSE(SplitFile(settings, temp / "data.bin", control));
    EXPECT_EQ(Names(temp.path() / "out"), std::set<std::string>{"data.bin"});
    EXPECT_TRUE(SameBytes(ReadFile(temp / "data.bin"), input));

    // A join cancelled half way leaves the older file whole and no new file beside it.
    cancel = false;
    ASSERT_TRUE(SplitFile(settings, temp / "data.bin", {}));
    const auto older = PatternBytes(3 * kChunk, 5);
    WriteFile(temp / "out/data.bin", older);
    const auto namesBefore = Names(temp.path() / "out");
    EXPECT_FALSE(JoinFiles(settings, temp / "out/data.bin", control));
    EXPECT_EQ(settings.StatusMessage, messages::kJoinCancelled);
    EXPECT_TRUE(SameBytes(ReadFile(temp / "out/data.bin"), older));
    EXPECT_EQ(Names(temp.path() / "out"), namesBefore);
}

}  // namespace
}  // namespace tessel::testing
