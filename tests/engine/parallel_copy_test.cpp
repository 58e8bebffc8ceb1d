// The copy loop's threads seen from the split and the join: kernel copies that come up short,
// digests that cover what was written even when the source changes under the copy, pieces
// hashed out of order and still listed and checked in order, hashing that fails or is
// cancelled, and a piece's flush that fails while the next piece is copied.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "engine/checksum.h"
#include "engine/copy_loop.h"
#include "engine/join.h"
#include "engine/messages.h"
#include "engine/split.h"
#include "tests/support/checked_runs.h"
#include "tests/support/intercepting_file_system.h"
#include "tests/support/piece_checks.h"
#include "tests/support/temp_folder.h"

namespace tessel::testing {
namespace {

namespace fs = std::filesystem;

// The kernel copies a piece in slices of this size: a piece one slice and a little long takes
// two, with a moment between them.
constexpr std::int64_t kKernelSlice = std::int64_t{4} << 20;

// Moments the engine's threads reach, for a test to wait for on another thread. A wait gives up
// after a minute, so that an engine that never reaches a moment fails the test, not hangs it.
class Moments {
  public:
    void Reach(const std::string& moment) {
        {
            const std::lock_guard lock(mutex_);
            reached_.insert(moment);
        }
        changed_.notify_all();
    }
    bool Reached(const std::string& moment) {
        const std::lock_guard lock(mutex_);
        return reached_.contains(moment);
    }
    bool WaitFor(const std::string& moment) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::minutes(1),
                                 [&] { return reached_.contains(moment); });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::set<std::string> reached_;
};

Digest DigestOf(const std::vector<char>& bytes) {
    Sha256 sha;
    sha.Update(std::as_bytes(std::span(bytes)));
    return sha.Finish();
}

// The lines of the checksum file beside `base` after its header, as written.
std::vector<std::string> ListedLines(const std::string& base) {
    std::ifstream list(base + kChecksumSuffix);
    std::vector<std::string> lines;
    for (std::string line; std::getline(list, line);)
        if (!line.starts_with("#")) lines.push_back(line + "\n");
    return lines;
}

// The lines a list holds for the pieces whose bytes are `pieces`, in order.
std::vector<std::string> LinesFor(const std::string& base,
                                  const std::vector<std::vector<char>>& pieces) {
    std::vector<std::string> lines;
    for (std::size_t n = 1; n <= pieces.size(); ++n)
        lines.push_back(
            ChecksumLine(DigestOf(pieces[n - 1]),
                         fs::path(Piece(base, static_cast<std::int64_t>(n))).filename().string()));
    return lines;
}

std::vector<std::vector<char>> Slices(const std::vector<char>& bytes, std::int64_t chunk,
                                      std::int64_t count) {
    std::vector<std::vector<char>> slices;
    for (std::int64_t n = 0; n < count; ++n) slices.push_back(Slice(bytes, n * chunk, chunk));
    return slices;
}

void FlipByte(const std::string& path, std::int64_t offset) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekg(offset);
    const char byte = static_cast<char>(file.get() ^ 0x5A);
    file.seekp(offset);
    file.put(byte);
}

std::string SplitFailedInfo(const std::string& input) {
    return messages::kSplitFailedInfoOpen + input + messages::kFailedInfoClose;
}

std::string Damaged(std::int64_t n) {
    return messages::kPieceOpen + std::to_string(n) + messages::kPieceDamagedClose;
}

TEST(ParallelCopy, AKernelCopyThatComesUpShortIsFinishedThroughBuffersUnlessTheInputEnded) {
    TempFolder temp;
    constexpr std::int64_t kChunk = 300000;
    const std::string input = temp / "data.bin";
    const auto bytes = WritePattern(input, 3 * kChunk + 1234, 21);
    const std::string base = temp / "out/data.bin";

    // Every kernel copy moves half what it is asked, as the system may: the rest goes through
    // the buffers, and the digests still cover every byte.
    InterceptingFileSystem halving([](Call call, const std::string&) {
        return call == Call::KernelCopy ? Fault::Short : Fault::None;
    });
    auto settings = SettingsFor(temp / "out", kChunk);
    ASSERT_TRUE(SplitFile(settings, input, {}, halving)) << settings.StatusMessage;
    ExpectPiecesAreExactlyTheSlices(base, bytes, kChunk);
    EXPECT_EQ(ListedLines(base), LinesFor(base, Slices(bytes, kChunk, 4)));
    ASSERT_TRUE(JoinFiles(settings, base, {}, halving)) << settings.StatusMessage;
    EXPECT_EQ(settings.StatusMessage, messages::kJoinVerified);
    EXPECT_TRUE(SameBytes(ReadFile(base), bytes));

    // The input really ends while piece 2 is copied: the split fails and lists piece 1 alone.
    fs::remove(base);
    InterceptingFileSystem ending([&](Call call, const std::string& path) {
        if (call == Call::KernelCopy && path == Piece(base, 2))
            fs::resize_file(input, kChunk + kChunk / 3);
        return Fault::None;
    });
    EXPECT_FALSE(SplitFile(settings, input, {}, ending));
    EXPECT_EQ(settings.StatusMessage, messages::kSplitFailed);
    EXPECT_EQ(settings.InfoMessage, SplitFailedInfo(input));
    EXPECT_EQ(ListedLines(base), LinesFor(base, Slices(bytes, kChunk, 1)));
}

// Another program flips the byte at `offset` of `source` as the `first`th kernel copy into
// `destination` begins, and puts it back as the next one there begins, while every reading-again
// of written bytes waits until then: what the kernel wrote then differs from what the source
// holds by the time its bytes could be hashed.
InterceptingFileSystem::Interceptor ChangedUnderTheCopy(const std::string& source,
                                                        std::int64_t offset,
                                                        const std::string& destination, int first,
                                                        Moments& moments) {
    auto copies = std::make_shared<std::atomic<int>>(0);
    return [=, &moments](Call call, const std::string& path) {
        if (call == Call::KernelCopy && path == destination) {
            const int copy = ++*copies;
            if (copy == first || copy == first + 1) FlipByte(source, offset);
            if (copy == first + 1) moments.Reach("put back");
        }
        if (call == Call::ReadAt && !moments.WaitFor("put back")) return Fault::Fail;
        return Fault::None;
    };
}

TEST(ParallelCopy, DigestsCoverTheBytesWrittenThoughTheSourceChangesAfterTheKernelCopy) {
    TempFolder temp;
    constexpr std::int64_t kChunk = kKernelSlice + 4096;  // two kernel copies to a piece
    const std::string input = temp / "data.bin";
    const auto bytes = WritePattern(input, 3 * kChunk, 22);
    const std::string base = temp / "out/data.bin";
    const auto atOnce = InterceptingFileSystem::Calls::AtOnce;

    // The split: the list names the bytes piece 2 holds, the changed byte with them.
    Moments split;
    InterceptingFileSystem splitting(ChangedUnderTheCopy(input, kChunk, Piece(base, 2), 1, split),
                                     platform::DefaultFileSystem(), atOnce);
    auto settings = SettingsFor(temp / "out", kChunk);
    ASSERT_TRUE(SplitFile(settings, input, {}, splitting)) << settings.StatusMessage;
    ASSERT_TRUE(split.Reached("put back")) << "the kernel copied piece 2 in one go";
    auto pieces = Slices(bytes, kChunk, 3);
    pieces[1][0] = static_cast<char>(pieces[1][0] ^ 0x5A);
    EXPECT_TRUE(SameBytes(ReadFile(Piece(base, 2)), pieces[1])) << "not the kernel's copy";
    EXPECT_EQ(ListedLines(base), LinesFor(base, pieces));
    EXPECT_TRUE(SameBytes(ReadFile(input), bytes)) << "the input was not put back";

    // The join, of the set split anew: piece 2 changed under the copy (the target's third and
    // fourth kernel copies) is never passed off as whole, and the target keeps its bytes.
    ASSERT_TRUE(SplitFile(settings, input)) << settings.StatusMessage;
    const auto older = PatternBytes(1000, 23);
    WriteFile(base, older);
    Moments join;
    InterceptingFileSystem joining(ChangedUnderTheCopy(Piece(base, 2), 0, base, 3, join),
                                   platform::DefaultFileSystem(), atOnce);
    EXPECT_FALSE(JoinFiles(settings, base, {}, joining));
    EXPECT_TRUE(join.Reached("put back"));
    EXPECT_EQ(settings.StatusMessage, Damaged(2));
    EXPECT_TRUE(SameBytes(ReadFile(base), older)) << "the target changed";
    EXPECT_TRUE(SameBytes(ReadFile(Piece(base, 2)), Slice(bytes, kChunk, kChunk)));
}

// Holds the first reading-again of written bytes until another one begins, and the second kernel
// copy until that first reading has begun: the copy after the first is read first, and with a
// first piece of many reads and a second of one byte, hashed first too.
InterceptingFileSystem::Interceptor SecondHashedFirst(Moments& moments, std::string& firstRead) {
    auto copies = std::make_shared<std::atomic<int>>(0);
    auto reads = std::make_shared<std::atomic<int>>(0);
    return [=, &moments, &firstRead](Call call, const std::string& path) {
        if (call == Call::KernelCopy && ++*copies == 2 && !moments.WaitFor("first read"))
            return Fault::Fail;
        if (call != Call::ReadAt) return Fault::None;
        if (++*reads == 1) {
            firstRead = path;
            moments.Reach("first read");
            if (!moments.WaitFor("second read")) return Fault::Fail;
        } else {
            moments.Reach("second read");
        }
        return Fault::None;
    };
}

TEST(ParallelCopy, PiecesHashedOutOfOrderAreListedAndCheckedInOrder) {
    if (CopyLoop::CoresToHashOn() < 2)
        GTEST_SKIP() << "one core here: pieces are hashed one after another";
    TempFolder temp;
    constexpr std::int64_t kChunk = std::int64_t{2} << 20;
    const std::string input = temp / "data.bin";
    const auto bytes = WritePattern(input, kChunk + 1, 24);
    const std::string base = temp / "out/data.bin";
    const auto atOnce = InterceptingFileSystem::Calls::AtOnce;

    Moments split;
    std::string firstRead;
    InterceptingFileSystem splitting(SecondHashedFirst(split, firstRead),
                                     platform::DefaultFileSystem(), atOnce);
    auto settings = SettingsFor(temp / "out", kChunk);
    ASSERT_TRUE(SplitFile(settings, input, {}, splitting)) << settings.StatusMessage;
    EXPECT_EQ(firstRead, Piece(base, 1));
    EXPECT_TRUE(split.Reached("second read"));
    EXPECT_EQ(ListedLines(base), LinesFor(base, Slices(bytes, kChunk, 2)));

    Moments join;
    InterceptingFileSystem joining(SecondHashedFirst(join, firstRead),
                                   platform::DefaultFileSystem(), atOnce);
    ASSERT_TRUE(JoinFiles(settings, base, {}, joining)) << settings.StatusMessage;
    EXPECT_EQ(settings.StatusMessage, messages::kJoinVerified);
    EXPECT_TRUE(join.Reached("second read"));
    EXPECT_TRUE(SameBytes(ReadFile(base), bytes));

    // Both pieces damaged, piece 2 hashed and found so first: piece 1 is named, the first.
    FlipByte(Piece(base, 1), 10);
    FlipByte(Piece(base, 2), 0);
    WriteFile(base, {});
    Moments damaged;
    InterceptingFileSystem checking(SecondHashedFirst(damaged, firstRead),
                                    platform::DefaultFileSystem(), atOnce);
    EXPECT_FALSE(JoinFiles(settings, base, {}, checking));
    EXPECT_EQ(settings.StatusMessage, Damaged(1));
    EXPECT_EQ(fs::file_size(base), 0U);
}

// The last piece is read again in three parts, the last copy done before its first: a cancel
// then can only be seen by the hashing, while the operation waits for it.
TEST(ParallelCopy, HashingThatFailsOrIsCancelledEndsTheSplitOrJoinAsSuch) {
    TempFolder temp;
    constexpr std::int64_t kChunk = 600000;
    const std::string input = temp / "data.bin";
    const auto bytes = WritePattern(input, 2 * kChunk, 25);
    const std::string base = temp / "out/data.bin";

    // Piece 2 cannot be read again to be hashed: the split fails with piece 1 alone listed.
    InterceptingFileSystem unreadable([&](Call call, const std::string& path) {
        return call == Call::ReadAt && path == Piece(base, 2) ? Fault::Fail : Fault::None;
    });
    auto settings = SettingsFor(temp / "out", kChunk);
    EXPECT_FALSE(SplitFile(settings, input, {}, unreadable));
    EXPECT_EQ(settings.StatusMessage, messages::kSplitFailed);
    EXPECT_EQ(ListedLines(base), LinesFor(base, Slices(bytes, kChunk, 1)));

    // Cancelled from a hashing thread as it reads piece 2: nothing of the split stays.
    fs::remove_all(temp / "out");
    std::atomic<bool> cancel = false;
    const OperationControl control{{}, &cancel};
    InterceptingFileSystem cancelling([&](Call call, const std::string& path) {
        if (call == Call::ReadAt && path == Piece(base, 2)) cancel = true;
        return Fault::None;
    });
    EXPECT_FALSE(SplitFile(settings, input, control, cancelling));
    EXPECT_EQ(settings.StatusMessage, messages::kSplitCancelled);
    EXPECT_TRUE(fs::is_empty(temp / "out")) << "a cancelled split left files";

    // The join's new file cannot be read again, or the join is cancelled as it is read once
    // the last piece is copied: the target keeps its bytes, and no new file stays beside it.
    cancel = false;
    ASSERT_TRUE(SplitFile(settings, input)) << settings.StatusMessage;
    const auto older = PatternBytes(5000, 26);
    WriteFile(base, older);
    const auto entries = [&] { return std::distance(fs::directory_iterator(temp / "out"), {}); };
    const auto before = entries();
    InterceptingFileSystem unreadableTarget([&](Call call, const std::string& path) {
        return call == Call::ReadAt && path == base ? Fault::Fail : Fault::None;
    });
    EXPECT_FALSE(JoinFiles(settings, base, {}, unreadableTarget));
    EXPECT_EQ(settings.StatusMessage, messages::kJoinFailed);
    EXPECT_TRUE(SameBytes(ReadFile(base), older));
    int copies = 0;
    InterceptingFileSystem cancellingJoin([&](Call call, const std::string& path) {
        if (call == Call::KernelCopy) ++copies;
        if (call == Call::ReadAt && path == base && copies == 2) cancel = true;
        return Fault::None;
    });
    EXPECT_FALSE(JoinFiles(settings, base, control, cancellingJoin));
    EXPECT_EQ(settings.StatusMessage, messages::kJoinCancelled);
    EXPECT_TRUE(SameBytes(ReadFile(base), older));
    EXPECT_EQ(entries(), before);
}

TEST(ParallelCopy, AFlushThatFailsWhileTheNextPieceIsCopiedFailsTheSplitWithThePieceUnlisted) {
    TempFolder temp;
    constexpr std::int64_t kChunk = 100000;
    const std::string input = temp / "data.bin";
    const auto bytes = WritePattern(input, 4 * kChunk, 27);
    const std::string base = temp / "out/data.bin";

    // Piece 2's flush fails, but only once piece 3 is being copied: it runs beside the copy.
    Moments moments;
    std::atomic<bool> copiedMeanwhile = false;
    InterceptingFileSystem files(
        [&](Call call, const std::string& path) {
            if (call == Call::KernelCopy && path == Piece(base, 3)) moments.Reach("piece 3");
            if (call != Call::Flush || path != Piece(base, 2)) return Fault::None;
            copiedMeanwhile = moments.WaitFor("piece 3");
            return Fault::Fail;
        },
        platform::DefaultFileSystem(), InterceptingFileSystem::Calls::AtOnce);
    auto settings = SettingsFor(temp / "out", kChunk);
    EXPECT_FALSE(SplitFile(settings, input, {}, files));
    EXPECT_TRUE(copiedMeanwhile) << "piece 3 was not copied while piece 2 was flushed";
    EXPECT_EQ(settings.StatusMessage, messages::kSplitFailed);
    EXPECT_EQ(ListedLines(base), LinesFor(base, Slices(bytes, kChunk, 1)))
        << "the list names a piece that is not on the medium";
}

}  // namespace
}  // namespace tessel::testing
