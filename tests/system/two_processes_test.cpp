// Two programs at work on the same files: a second process that holds a piece, the target or the
// input locked (as a writer or as a reader), two splits into one folder at once, two joins of one
// target at once, and a join and a split of the same file at once. The engine must stop cleanly
// where it cannot go on, and neither process may damage the other's files.
#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/join.h"
#include "engine/messages.h"
#include "engine/shared_settings.h"
#include "engine/split.h"
#include "platform/file_system.h"
#include "tests/support/case_names.h"
#include "tests/support/checked_runs.h"
#include "tests/support/child_process.h"
#include "tests/support/intercepting_file_system.h"
#include "tests/support/other_process_lock.h"
#include "tests/support/piece_checks.h"
#include "tests/support/recording_dialog.h"
#include "tests/support/run_tool.h"
#include "tests/support/temp_folder.h"

namespace tessel::testing {
namespace {

// What a child running the engine reports through its exit code.
constexpr int kSucceeded = 0;
constexpr int kFailedCleanly = 1;
constexpr int kInconsistent = 2;  // result and status line disagree

struct Holder {
    const char* what;
    std::int64_t piece;  // 0: the target
    OtherProcessLock::Kind kind;
};
const Holder kHolders[] = {
    {"a writer holding piece 1", 1, OtherProcessLock::Kind::Exclusive},
    {"a writer holding piece 3", 3, OtherProcessLock::Kind::Exclusive},
    {"a reader holding the target", 0, OtherProcessLock::Kind::Shared},
    {"a writer holding the target", 0, OtherProcessLock::Kind::Exclusive},
};

class TwoProcessesHeldJoin : public ::testing::TestWithParam<Holder> {};

TEST_P(TwoProcessesHeldJoin, JoinStopsCleanlyAtAFileAnotherProcessHolds) {
    const auto& holder = GetParam();
    SplitPieces split("archive.7z", 3 * 70000 + 11, 70000, 21);
    // An older version of the file stands where the join writes.
    const auto older = WritePattern(split.target, 50000, 22);
    const std::string held = holder.piece == 0 ? split.target : Piece(split.target, holder.piece);
    const auto heldBefore = ReadFile(held);

    auto settings = SettingsFor(split.temp / "unused", split.chunk);
    const int descriptors = OpenDescriptorCount();
    {
        OtherProcessLock other(held, holder.kind);
        EXPECT_FALSE(JoinFiles(settings, split.target));
        EXPECT_TRUE(SameBytes(ReadFile(held), heldBefore)) << "while it was held";
    }
    EXPECT_EQ(OpenDescriptorCount(), descriptors) << "a descriptor was left open";
    EXPECT_EQ(settings.StatusMessage, messages::kJoinFailed);
    EXPECT_TRUE(SameBytes(ReadFile(held), heldBefore)) << "after it was released";
    ExpectPiecesAreExactlyTheSlices(split.target, split.bytes, split.chunk);
    if (holder.piece == 0) {
        EXPECT_TRUE(SameBytes(ReadFile(split.target), older)) << "the held target";
    }
}

INSTANTIATE_TEST_SUITE_P(, TwoProcessesHeldJoin, ::testing::ValuesIn(kHolders), NamedByWhat());

TEST(TwoProcesses, ReadersOfThePiecesDoNotStopAJoin) {
    SplitPieces split("archive.7z", 2 * 65536 + 3, 65536, 23);
    auto settings = SettingsFor(split.temp / "unused", split.chunk);
    OtherProcessLock first(Piece(split.target, 1), OtherProcessLock::Kind::Shared);
    OtherProcessLock last(Piece(split.target, 3), OtherProcessLock::Kind::Shared);
    EXPECT_TRUE(JoinFiles(settings, split.target)) << settings.StatusMessage;
    EXPECT_EQ(settings.StatusMessage, messages::kJoinVerified);
    EXPECT_TRUE(SameBytes(ReadFile(split.target), split.bytes));
}

// The same holders over a small join whose target holds an older file: a writer of piece 2 or
// of the target, or a reader of the target, stops it; a reader of piece 2 does not.
struct SmallJoinCase {
    const char* what;
    bool lockTarget;  // otherwise piece 2
    OtherProcessLock::Kind kind;
    bool joins;
};
const SmallJoinCase kSmallJoinCases[] = {
    {"piece 2 held by a writer", false, OtherProcessLock::Kind::Exclusive, false},
    {"target held by a writer", true, OtherProcessLock::Kind::Exclusive, false},
    {"target read by another program", true, OtherProcessLock::Kind::Shared, false},
    {"piece 2 read by another program", false, OtherProcessLock::Kind::Shared, true}};

class TwoProcessesSmallJoin : public ::testing::TestWithParam<SmallJoinCase> {};

TEST_P(TwoProcessesSmallJoin, SmallJoinStopsAtAHeldFileButNotAtAPieceBeingRead) {
    const auto& c = GetParam();
    TempFolder folder;
    const std::string target = folder / "x";
    const auto whole = WritePieces(target, {300, 300, 100});
    const auto oldTarget = WritePattern(target, 50, 8);
    const std::string held = c.lockTarget ? target : Piece(target, 2);
    const auto heldBytes = ReadFile(held);
    auto settings = EarlierSettings();
    OtherProcessLock lock(held, c.kind);

    EXPECT_EQ(CheckedJoin(settings, target), c.joins);
    // The texts word for word, as users see them.
    EXPECT_EQ(settings.StatusMessage, c.joins ? "The Files have been successfully joined"
                                              : "Error - Unable to join pieces into a file");
    EXPECT_EQ(ReadFile(held), heldBytes) << "the held file is left as it was";
    if (c.joins) {
        EXPECT_EQ(ReadFile(target), whole);
    }
}

INSTANTIATE_TEST_SUITE_P(, TwoProcessesSmallJoin, ::testing::ValuesIn(kSmallJoinCases),
                         NamedByWhat());

TEST(TwoProcesses, SplitRefusesAnInputAnotherProcessIsWritingButNotOneItReads) {
    TempFolder temp;
    const std::string input = temp / "mailbox.mbox";
    const std::int64_t chunk = 30000;
    const auto bytes = WritePattern(input, 2 * chunk + 1, 24);
    const std::string base = temp / "out/mailbox.mbox";

    auto settings = SettingsFor(temp / "out", chunk);
    RecordingDialog dialog;
    const int descriptors = OpenDescriptorCount();
    {
        OtherProcessLock writer(input, OtherProcessLock::Kind::Exclusive);
        EXPECT_FALSE(SplitShowing(settings, input, dialog));
    }
    EXPECT_EQ(OpenDescriptorCount(), descriptors) << "a descriptor was left open";
    EXPECT_EQ(settings.StatusMessage, messages::kSplitCannotOpenInput);
    ASSERT_EQ(dialog.shown.size(), 1u);
    EXPECT_EQ(settings.InfoMessage, dialog.shown[0]);
    EXPECT_FALSE(std::filesystem::exists(Piece(base, 1)));
    EXPECT_TRUE(SameBytes(ReadFile(input), bytes));

    OtherProcessLock reader(input, OtherProcessLock::Kind::Shared);
    EXPECT_TRUE(SplitShowing(settings, input, dialog)) << settings.StatusMessage;
    EXPECT_EQ(settings.StatusMessage, messages::kSplitSucceeded);
    ExpectPiecesAreExactlyTheSlices(base, bytes, chunk);
}

// A small split of an input that another program writes or reads: the summary is shown either
// way, a writer stops the split before its first piece, a reader does not.
class TwoProcessesSmallSplit : public ::testing::TestWithParam<OtherProcessLock::Kind> {};

TEST_P(TwoProcessesSmallSplit, SmallSplitStopsAtAnInputBeingWrittenButNotAtOneBeingRead) {
    constexpr std::int64_t kChunk = 1000;
    const auto kind = GetParam();
    const bool writer = kind == OtherProcessLock::Kind::Exclusive;
    TempFolder folder;
    const std::string input = folder / "held.txt";
    const auto bytes = WritePattern(input, 2500);
    auto settings = SettingsFor(folder / "out", kChunk);
    RecordingDialog dialog;
    OtherProcessLock lock(input, kind);

    EXPECT_EQ(CheckedSplit(settings, input, dialog), !writer);
    // The texts word for word, as users see them.
    EXPECT_EQ(settings.StatusMessage,
              writer ? "Unable to break file into pieces" : "Successfully broken file into pieces");
    EXPECT_EQ(settings.InfoMessage, "Selected File : " + input +
                                        "\r\nSize of file  : 2500 bytes  \r\n This will "
                                        "require 3 Files.");
    EXPECT_EQ(std::filesystem::exists(Piece(folder / "out/held.txt", 1)), !writer);
    EXPECT_EQ(ReadFile(input), bytes);
}

INSTANTIATE_TEST_SUITE_P(, TwoProcessesSmallSplit,
                         ::testing::Values(OtherProcessLock::Kind::Exclusive,
                                           OtherProcessLock::Kind::Shared),
                         [](const auto& test) {
                             return test.param == OtherProcessLock::Kind::Exclusive
                                        ? "HeldByAWriter"
                                        : "ReadByAnotherProgram";
                         });

// Starts `count` children that wait at one gate, then lets them all go at once; returns their
// exit codes in the order started.
std::vector<int> RunTogether(int count, const std::function<int(int)>& body) {
    Gate start;
    std::vector<pid_t> children;
    for (int i = 0; i < count; ++i) {
        children.push_back(RunInChild([&start, &body, i] {
            start.CloseWriteEnd();
            return start.Wait() ? body(i) : kInconsistent;
        }));
    }
    start.CloseReadEnd();
    for (int i = 0; i < count; ++i) start.Open();
    std::vector<int> codes;
    for (const pid_t child : children) codes.push_back(child > 0 ? WaitForChild(child) : -1);
    return codes;
}

TEST(TwoProcesses, TwoSplitsIntoOneFolderAtOnceBothSucceed) {
    TempFolder temp;
    const std::int64_t chunk = 128 * 1024;
    const std::vector<std::string> names = {"holiday.mp4", "holiday.mp4.srt"};
    std::vector<std::vector<char>> inputs;
    for (std::size_t i = 0; i < names.size(); ++i) {
        inputs.push_back(PatternBytes(24 * chunk + 100 * static_cast<std::int64_t>(i) + 1,
                                      30 + static_cast<std::uint32_t>(i)));
        WriteFile(temp / names[i], inputs[i]);
    }
    const std::string folder = temp / "shared";

    const auto codes = RunTogether(2, [&](int i) {
        auto settings = SettingsFor(folder, chunk);
        RecordingDialog dialog;
        const bool done = SplitShowing(settings, temp / names[static_cast<std::size_t>(i)], dialog);
        if (done != (settings.StatusMessage == messages::kSplitSucceeded)) return kInconsistent;
        return done ? kSucceeded : kFailedCleanly;
    });
    for (std::size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(codes[i], kSucceeded);
        ExpectPiecesAreExactlyTheSlices(folder + "/" + names[i], inputs[i], chunk);
        auto settings = SettingsFor(folder, chunk);
        EXPECT_TRUE(JoinFiles(settings, folder + "/" + names[i]));
        EXPECT_TRUE(SameBytes(ReadFile(folder + "/" + names[i]), inputs[i]));
    }
}

TEST(TwoProcesses, TwoJoinsOfOneTargetAtOnceNeverCorruptIt) {
    constexpr int kRounds = 6;
    SplitPieces split("archive.7z", 16 * 256 * 1024 - 5, 256 * 1024, 25);
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // Each round starts from an older, longer file of that name.
        WritePattern(split.target, static_cast<std::int64_t>(split.bytes.size()) + 999,
                     40 + static_cast<std::uint32_t>(round));
        const auto codes = RunTogether(2, [&](int) {
            auto settings = SettingsFor(split.temp / "unused", split.chunk);
            const bool done = JoinFiles(settings, split.target);
            if (done && settings.StatusMessage == messages::kJoinVerified) return kSucceeded;
            if (!done && settings.StatusMessage == messages::kJoinFailed) return kFailedCleanly;
            return kInconsistent;
        });
        for (const int code : codes)
            EXPECT_TRUE(code == kSucceeded || code == kFailedCleanly) << code;
        EXPECT_TRUE(codes[0] == kSucceeded || codes[1] == kSucceeded) << "neither join succeeded";
        EXPECT_TRUE(SameBytes(ReadFile(split.target), split.bytes)) << "the joined file";
        ExpectPiecesAreExactlyTheSlices(split.target, split.bytes, split.chunk);
    }
}

// Lets an operation run until it is about to open one file, tells the test so, and goes on only
// when the test says: the moment between two pieces, stretched (a slow medium, a slow network
// share).
class PauseBeforeOpening final : public InterceptingFileSystem {
  public:
    PauseBeforeOpening(std::string path, Gate& reached, Gate& resume)
        : InterceptingFileSystem([this](Call call, const std::string& called) {
              if ((call == Call::CreateNew || call == Call::OpenForReading) && called == path_) {
                  reached_.Open();
                  resume_.Wait();
              }
              return Fault::None;
          }),
          path_(std::move(path)),
          reached_(reached),
          resume_(resume) {
        reached_.CloseReadEnd();
        resume_.CloseWriteEnd();
    }

  private:
    std::string path_;
    Gate& reached_;
    Gate& resume_;
};

TEST(TwoProcesses, JoinWhileAnotherProcessSplitsTheSameFileNeverPassesOffPartOfIt) {
    TempFolder temp;
    const std::int64_t chunk = 256 * 1024;
    const std::string input = temp / "thesis.pdf";
    const auto bytes = WritePattern(input, 5 * chunk + 77, 26);
    const std::string folder = temp / "out";
    const std::string target = folder + "/thesis.pdf";

    Gate reached;
    Gate resume;
    const pid_t splitter = RunInChild([&] {
        PauseBeforeOpening files(Piece(target, 3), reached, resume);
        auto settings = SettingsFor(folder, chunk);
        RecordingDialog dialog;
        const bool done = SplitShowing(settings, input, dialog, {}, files);
        return done && settings.StatusMessage == messages::kSplitSucceeded ? kSucceeded
                                                                           : kFailedCleanly;
    });
    reached.CloseWriteEnd();
    resume.CloseReadEnd();
    ASSERT_GT(splitter, 0);
    ASSERT_TRUE(reached.Wait()) << "the split never reached its third piece";

    // Pieces 1 and 2 stand complete, the split is still running: a join now must not report
    // two pieces' worth as the whole file.
    auto settings = SettingsFor(temp / "unused", chunk);
    const bool joined = JoinFiles(settings, target);
    const auto joinedBytes = ReadFile(target);
    resume.Open();
    EXPECT_EQ(WaitForChild(splitter), kSucceeded) << "the join disturbed the split";

    if (joined) {
        EXPECT_EQ(settings.StatusMessage, messages::kJoinVerified);
        EXPECT_TRUE(SameBytes(joinedBytes, bytes))
            << "the join reported success with part of the file";
    } else {
        // Refused for the placeholder the split holds, or for its list of two pieces of six,
        // which the split holds too.
        EXPECT_TRUE(settings.StatusMessage == messages::kJoinFailed ||
                    settings.StatusMessage == messages::kChecksumFileIncomplete ||
                    settings.StatusMessage == messages::kChecksumFileUnreadable)
            << settings.StatusMessage;
    }
    ExpectPiecesAreExactlyTheSlices(target, bytes, chunk);
}

TEST(TwoProcesses, SplitWhileAnotherProcessJoinsTheSameFileNeverMixesTwoVersions) {
    // Yesterday's version was split; today's, edited but of the same size, is split again into
    // the same folder while another Tessel is still joining yesterday's pieces.
    SplitPieces yesterday("archive.7z", 5 * 256 * 1024 + 77, 256 * 1024, 27);
    const auto today =
        WritePattern(yesterday.input, static_cast<std::int64_t>(yesterday.bytes.size()), 28);

    Gate reached;
    Gate resume;
    const pid_t joiner = RunInChild([&] {
        PauseBeforeOpening files(Piece(yesterday.target, 3), reached, resume);
        auto settings = SettingsFor(yesterday.temp / "unused", yesterday.chunk);
        const bool done = JoinFiles(settings, yesterday.target, {}, files);
        if (done && settings.StatusMessage == messages::kJoinVerified) return kSucceeded;
        if (!done && settings.StatusMessage == messages::kJoinFailed) return kFailedCleanly;
        return kInconsistent;
    });
    reached.CloseWriteEnd();
    resume.CloseReadEnd();
    ASSERT_GT(joiner, 0);
    ASSERT_TRUE(reached.Wait()) << "the join never reached its third piece";

    auto settings = SettingsFor(yesterday.temp / "out", yesterday.chunk);
    RecordingDialog dialog;
    const bool split = SplitShowing(settings, yesterday.input, dialog);
    resume.Open();
    const int joinOutcome = WaitForChild(joiner);

    ASSERT_TRUE(joinOutcome == kSucceeded || joinOutcome == kFailedCleanly) << joinOutcome;
    if (joinOutcome == kSucceeded) {
        const auto joined = ReadFile(yesterday.target);
        EXPECT_TRUE(SameBytes(joined, yesterday.bytes) || SameBytes(joined, today))
            << "the join reported success with a mix of two versions";
    }
    if (split) {
        EXPECT_EQ(settings.StatusMessage, messages::kSplitSucceeded);
        ExpectPiecesAreExactlyTheSlices(yesterday.target, today, yesterday.chunk);
    } else {
        EXPECT_FALSE(settings.StatusMessage.empty());
        ExpectPiecesAreExactlyTheSlices(yesterday.target, yesterday.bytes, yesterday.chunk);
    }
}

// A split of `input` into `folder`, as a child reports it.
int SplitOutcome(const std::string& folder, const std::string& input, std::int64_t chunk,
                 platform::FileSystem& files = platform::DefaultFileSystem()) {
    auto settings = SettingsFor(folder, chunk);
    RecordingDialog dialog;
    const bool done = SplitShowing(settings, input, dialog, {}, files);
    if (done)
        return settings.StatusMessage == messages::kSplitSucceeded ? kSucceeded : kInconsistent;
    return settings.StatusMessage == messages::kSplitCannotOpenInput ||
                   settings.StatusMessage == messages::kSplitFailed
               ? kFailedCleanly
               : kInconsistent;
}

// The set in `folder` is the whole of `bytes`, its list is accepted by sha256sum, and it joins
// back, verified, over the file it came from.
void ExpectAWholeSetThatJoins(const std::string& folder, const std::string& input,
                              const std::vector<char>& bytes, std::int64_t chunk) {
    ExpectPiecesAreExactlyTheSlices(input, bytes, chunk);
    const auto check = RunTool(folder, {"sha256sum", "--strict", "-c", "holiday.mp4.sha256"});
    EXPECT_EQ(check.exitCode, 0) << check.output;
    auto settings = SettingsFor(folder, chunk);
    EXPECT_TRUE(JoinFiles(settings, input)) << settings.StatusMessage;
    EXPECT_EQ(settings.StatusMessage, messages::kJoinVerified);
    EXPECT_TRUE(SameBytes(ReadFile(input), bytes));
}

// Break pressed twice on one file whose pieces go into its own folder (two windows, or a second
// click), the second while the first still writes: it is refused with the split's failure texts
// and the first goes on. Let go at once, each ends in its own texts. The set left is whole.
TEST(TwoProcesses, TwoSplitsOfOneFileIntoItsOwnFolderAtOnceLeaveOneWholeSet) {
    TempFolder temp;
    const std::int64_t chunk = 128 * 1024;
    const std::string folder = temp / "videos";
    std::filesystem::create_directory(folder);
    const std::string input = folder + "/holiday.mp4";
    const auto bytes = WritePattern(input, 12 * chunk + 5, 50);

    // The first held as it makes its checksum file, then as it makes its third piece; the second
    // run meanwhile.
    for (const std::string& heldAt : {input + ".sha256", Piece(input, 3)}) {
        SCOPED_TRACE("the first held before it makes " + heldAt);
        Gate reached;
        Gate resume;
        const pid_t first = RunInChild([&] {
            PauseBeforeOpening files(heldAt, reached, resume);
            return SplitOutcome(folder, input, chunk, files);
        });
        reached.CloseWriteEnd();
        resume.CloseReadEnd();
        ASSERT_GT(first, 0);
        ASSERT_TRUE(reached.Wait()) << "the first split never got there";
        EXPECT_EQ(SplitOutcome(folder, input, chunk), kFailedCleanly) << "both splits wrote";
        resume.Open();
        EXPECT_EQ(WaitForChild(first), kSucceeded) << "the second split disturbed the first";
        ExpectAWholeSetThatJoins(folder, input, bytes, chunk);
    }

    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE("let go at once, round " + std::to_string(round));
        const auto codes = RunTogether(2, [&](int) { return SplitOutcome(folder, input, chunk); });
        for (const int code : codes)
            EXPECT_TRUE(code == kSucceeded || code == kFailedCleanly) << code;
        EXPECT_TRUE(codes[0] == kSucceeded || codes[1] == kSucceeded) << "neither split succeeded";
        ExpectAWholeSetThatJoins(folder, input, bytes, chunk);
    }
}

}  // namespace
}  // namespace tessel::testing
