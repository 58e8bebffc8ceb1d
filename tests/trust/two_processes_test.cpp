// Two programs at work on the same files: a second process that holds a piece, the target or the
// input locked, two splits into one folder at once, and two joins of one target at once. The
// engine must stop cleanly where it cannot go on, and neither process may damage the other's
// files.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/join.h"
#include "engine/messages.h"
#include "engine/split.h"
#include "tests/support/temp_folder.h"
#include "tests/trust/trust_support.h"

namespace tessel {
namespace {

using testing::PatternBytes;
using testing::TempFolder;
using testing::WriteFile;
using trust::CountOpenDescriptors;
using trust::ExpectedPieces;
using trust::Gate;
using trust::HeldByAnotherProcess;
using trust::PiecePath;
using trust::ReadWhole;
using trust::RunInChild;
using trust::SameBytes;
using trust::SettingsFor;
using trust::SilentDialog;
using trust::Slice;
using trust::WaitForChild;

// What a child running the engine reports through its exit code.
constexpr int kSucceeded = 0;
constexpr int kFailedCleanly = 1;
constexpr int kInconsistent = 2;  // result and status line disagree

void ExpectPiecesAreSlices(const std::string& base, const std::vector<char>& input,
                           std::int64_t chunk) {
    const auto count = ExpectedPieces(static_cast<std::int64_t>(input.size()), chunk);
    for (std::int64_t n = 1; n <= count; ++n)
        EXPECT_TRUE(SameBytes(ReadWhole(PiecePath(base, n)), Slice(input, (n - 1) * chunk, chunk)))
            << base << " piece " << n;
    EXPECT_FALSE(std::filesystem::exists(PiecePath(base, count + 1)));
}

// An input split into a folder, ready to be joined.
struct SplitPieces {
    TempFolder temp;
    std::int64_t chunk;
    std::vector<char> bytes;
    std::string target = temp / "out/archive.7z";

    SplitPieces(std::int64_t size, std::int64_t chunkSize, std::uint32_t seed)
        : chunk(chunkSize), bytes(PatternBytes(size, seed)) {
        WriteFile(temp / "archive.7z", bytes);
        auto settings = SettingsFor(temp / "out", chunk);
        SilentDialog dialog;
        if (!SplitFile(settings, temp / "archive.7z", dialog)) ADD_FAILURE() << "split failed";
    }
    std::int64_t pieces() const {
        return ExpectedPieces(static_cast<std::int64_t>(bytes.size()), chunk);
    }
};

TEST(TwoProcesses, JoinStopsCleanlyAtAFileAnotherProcessHolds) {
    struct Holder {
        const char* what;
        std::int64_t piece;  // 0: the target
        HeldByAnotherProcess::Lock kind;
    };
    const std::vector<Holder> holders = {
        {"a writer holding piece 1", 1, HeldByAnotherProcess::Lock::Exclusive},
        {"a writer holding piece 3", 3, HeldByAnotherProcess::Lock::Exclusive},
        {"a reader holding the target", 0, HeldByAnotherProcess::Lock::Shared},
        {"a writer holding the target", 0, HeldByAnotherProcess::Lock::Exclusive},
    };
    for (const auto& holder : holders) {
        SCOPED_TRACE(holder.what);
        SplitPieces split(3 * 70000 + 11, 70000, 21);
        // An older version of the file stands where the join writes.
        const auto older = PatternBytes(50000, 22);
        WriteFile(split.target, older);
        const std::string held =
            holder.piece == 0 ? split.target : PiecePath(split.target, holder.piece);
        const auto heldBefore = ReadWhole(held);

        auto settings = SettingsFor(split.temp / "unused", split.chunk);
        const int descriptors = CountOpenDescriptors();
        {
            HeldByAnotherProcess other(held, holder.kind);
            ASSERT_TRUE(other.holding());
            EXPECT_FALSE(JoinFiles(settings, split.target));
            EXPECT_TRUE(SameBytes(ReadWhole(held), heldBefore)) << "while it was held";
        }
        EXPECT_EQ(CountOpenDescriptors(), descriptors) << "a descriptor was left open";
        EXPECT_EQ(settings.StatusMessage, messages::kJoinFailed);
        EXPECT_TRUE(SameBytes(ReadWhole(held), heldBefore)) << "after it was released";
        ExpectPiecesAreSlices(split.target, split.bytes, split.chunk);
        if (holder.piece == 0) {
            EXPECT_TRUE(SameBytes(ReadWhole(split.target), older)) << "the held target";
        }
    }
}

TEST(TwoProcesses, ReadersOfThePiecesDoNotStopAJoin) {
    SplitPieces split(2 * 65536 + 3, 65536, 23);
    auto settings = SettingsFor(split.temp / "unused", split.chunk);
    HeldByAnotherProcess first(PiecePath(split.target, 1), HeldByAnotherProcess::Lock::Shared);
    HeldByAnotherProcess last(PiecePath(split.target, 3), HeldByAnotherProcess::Lock::Shared);
    ASSERT_TRUE(first.holding() && last.holding());
    EXPECT_TRUE(JoinFiles(settings, split.target)) << settings.StatusMessage;
    EXPECT_EQ(settings.StatusMessage, messages::kJoinSucceeded);
    EXPECT_TRUE(SameBytes(ReadWhole(split.target), split.bytes));
}

TEST(TwoProcesses, SplitRefusesAnInputAnotherProcessIsWritingButNotOneItReads) {
    TempFolder temp;
    const std::string input = temp / "mailbox.mbox";
    const std::int64_t chunk = 30000;
    const auto bytes = PatternBytes(2 * chunk + 1, 24);
    WriteFile(input, bytes);
    const std::string base = temp / "out/mailbox.mbox";

    auto settings = SettingsFor(temp / "out", chunk);
    SilentDialog dialog;
    const int descriptors = CountOpenDescriptors();
    {
        HeldByAnotherProcess writer(input, HeldByAnotherProcess::Lock::Exclusive);
        ASSERT_TRUE(writer.holding());
        EXPECT_FALSE(SplitFile(settings, input, dialog));
    }
    EXPECT_EQ(CountOpenDescriptors(), descriptors) << "a descriptor was left open";
    EXPECT_EQ(settings.StatusMessage, messages::kSplitCannotOpenInput);
    ASSERT_EQ(dialog.shown.size(), 1u);
    EXPECT_EQ(settings.InfoMessage, dialog.shown[0]);
    EXPECT_FALSE(std::filesystem::exists(PiecePath(base, 1)));
    EXPECT_TRUE(SameBytes(ReadWhole(input), bytes));

    HeldByAnotherProcess reader(input, HeldByAnotherProcess::Lock::Shared);
    ASSERT_TRUE(reader.holding());
    EXPECT_TRUE(SplitFile(settings, input, dialog)) << settings.StatusMessage;
    EXPECT_EQ(settings.StatusMessage, messages::kSplitSucceeded);
    ExpectPiecesAreSlices(base, bytes, chunk);
}

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
        SilentDialog dialog;
        const bool done = SplitFile(settings, temp / names[static_cast<std::size_t>(i)], dialog);
        if (done != (settings.StatusMessage == messages::kSplitSucceeded)) return kInconsistent;
        return done ? kSucceeded : kFailedCleanly;
    });
    for (std::size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(codes[i], kSucceeded);
        ExpectPiecesAreSlices(folder + "/" + names[i], inputs[i], chunk);
        auto settings = SettingsFor(folder, chunk);
        EXPECT_TRUE(JoinFiles(settings, folder + "/" + names[i]));
        EXPECT_TRUE(SameBytes(ReadWhole(folder + "/" + names[i]), inputs[i]));
    }
}

TEST(TwoProcesses, TwoJoinsOfOneTargetAtOnceNeverCorruptIt) {
    constexpr int kRounds = 6;
    SplitPieces split(16 * 256 * 1024 - 5, 256 * 1024, 25);
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // Each round starts from an older, longer file of that name.
        WriteFile(split.target, PatternBytes(static_cast<std::int64_t>(split.bytes.size()) + 999,
                                             40 + static_cast<std::uint32_t>(round)));
        const auto codes = RunTogether(2, [&](int) {
            auto settings = SettingsFor(split.temp / "unused", split.chunk);
            const bool done = JoinFiles(settings, split.target);
            if (done && settings.StatusMessage == messages::kJoinSucceeded) return kSucceeded;
            if (!done && settings.StatusMessage == messages::kJoinFailed) return kFailedCleanly;
            return kInconsistent;
        });
        for (const int code : codes)
            EXPECT_TRUE(code == kSucceeded || code == kFailedCleanly) << code;
        EXPECT_TRUE(codes[0] == kSucceeded || codes[1] == kSucceeded) << "neither join succeeded";
        EXPECT_TRUE(SameBytes(ReadWhole(split.target), split.bytes)) << "the joined file";
        ExpectPiecesAreSlices(split.target, split.bytes, split.chunk);
    }
}

// Lets an operation run until it is about to open one file, tells the test so, and goes on only
// when the test says: the moment between two pieces, stretched (a slow medium, a slow network
// share).
class PauseBeforeOpening final : public trust::PassThroughFileSystem {
  public:
    PauseBeforeOpening(std::string path, Gate& reached, Gate& resume)
        : path_(std::move(path)), reached_(reached), resume_(resume) {
        reached_.CloseReadEnd();
        resume_.CloseWriteEnd();
    }

    std::unique_ptr<platform::File> OpenExclusive(const std::string& path) override {
        PauseAt(path);
        return PassThroughFileSystem::OpenExclusive(path);
    }
    std::unique_ptr<platform::File> OpenForReading(const std::string& path) override {
        PauseAt(path);
        return PassThroughFileSystem::OpenForReading(path);
    }

  private:
    void PauseAt(const std::string& path) {
        if (path != path_) return;
        reached_.Open();
        resume_.Wait();
    }

    std::string path_;
    Gate& reached_;
    Gate& resume_;
};

TEST(TwoProcesses, JoinWhileAnotherProcessSplitsTheSameFileNeverPassesOffPartOfIt) {
    TempFolder temp;
    const std::int64_t chunk = 256 * 1024;
    const std::string input = temp / "thesis.pdf";
    const auto bytes = PatternBytes(5 * chunk + 77, 26);
    WriteFile(input, bytes);
    const std::string folder = temp / "out";
    const std::string target = folder + "/thesis.pdf";

    Gate reached;
    Gate resume;
    const pid_t splitter = RunInChild([&] {
        PauseBeforeOpening files(PiecePath(target, 3), reached, resume);
        auto settings = SettingsFor(folder, chunk);
        SilentDialog dialog;
        const bool done = SplitFile(settings, input, dialog, {}, files);
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
    const auto joinedBytes = ReadWhole(target);
    resume.Open();
    EXPECT_EQ(WaitForChild(splitter), kSucceeded) << "the join disturbed the split";

    if (joined) {
        EXPECT_EQ(settings.StatusMessage, messages::kJoinSucceeded);
        EXPECT_TRUE(SameBytes(joinedBytes, bytes))
            << "the join reported success with part of the file";
    } else {
        EXPECT_EQ(settings.StatusMessage, messages::kJoinFailed);
    }
    ExpectPiecesAreSlices(target, bytes, chunk);
}

TEST(TwoProcesses, SplitWhileAnotherProcessJoinsTheSameFileNeverMixesTwoVersions) {
    // Yesterday's version was split; today's, edited but of the same size, is split again into
    // the same folder while another Tessel is still joining yesterday's pieces.
    SplitPieces yesterday(5 * 256 * 1024 + 77, 256 * 1024, 27);
    const auto today = PatternBytes(static_cast<std::int64_t>(yesterday.bytes.size()), 28);
    const std::string input = yesterday.temp / "archive.7z";
    WriteFile(input, today);

    Gate reached;
    Gate resume;
    const pid_t joiner = RunInChild([&] {
        PauseBeforeOpening files(PiecePath(yesterday.target, 3), reached, resume);
        auto settings = SettingsFor(yesterday.temp / "unused", yesterday.chunk);
        const bool done = JoinFiles(settings, yesterday.target, {}, files);
        if (done && settings.StatusMessage == messages::kJoinSucceeded) return kSucceeded;
        if (!done && settings.StatusMessage == messages::kJoinFailed) return kFailedCleanly;
        return kInconsistent;
    });
    reached.CloseWriteEnd();
    resume.CloseReadEnd();
    ASSERT_GT(joiner, 0);
    ASSERT_TRUE(reached.Wait()) << "the join never reached its third piece";

    auto settings = SettingsFor(yesterday.temp / "out", yesterday.chunk);
    SilentDialog dialog;
    const bool split = SplitFile(settings, input, dialog);
    resume.Open();
    const int joinOutcome = WaitForChild(joiner);

    ASSERT_TRUE(joinOutcome == kSucceeded || joinOutcome == kFailedCleanly) << joinOutcome;
    if (joinOutcome == kSucceeded) {
        const auto joined = ReadWhole(yesterday.target);
        EXPECT_TRUE(SameBytes(joined, yesterday.bytes) || SameBytes(joined, today))
            << "the join reported success with a mix of two versions";
    }
    if (split) {
        EXPECT_EQ(settings.StatusMessage, messages::kSplitSucceeded);
        ExpectPiecesAreSlices(yesterday.target, today, yesterday.chunk);
    } else {
        EXPECT_FALSE(settings.StatusMessage.empty());
        ExpectPiecesAreSlices(yesterday.target, yesterday.bytes, yesterday.chunk);
    }
}

}  // namespace
}  // namespace tessel
