// A split killed part way (power switch, task manager, SIGKILL): the pieces finished before the
// kill are whole, the one it was writing holds only the input's own bytes, and running the same
// split again over what was left, then a join, gives the input back.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/join.h"
#include "engine/messages.h"
#include "engine/split.h"
#include "platform/file_system.h"
#include "tests/support/checked_runs.h"
#include "tests/support/child_process.h"
#include "tests/support/pass_through_file_system.h"
#include "tests/support/piece_checks.h"
#include "tests/support/recording_dialog.h"
#include "tests/support/temp_folder.h"

namespace tessel::testing {
namespace {

constexpr std::int64_t kChunk = std::int64_t{1} << 20;
constexpr std::int64_t kPieces = 64;
constexpr std::int64_t kInputSize = kPieces * kChunk;
// Pieces are written in small steps with a pause after each, so a kill can land inside one.
constexpr std::int64_t kStepBytes = 64 * 1024;
constexpr auto kPauseAfterStep = std::chrono::microseconds(800);
constexpr auto kPoll = std::chrono::milliseconds(2);
constexpr auto kGiveUpAfter = std::chrono::seconds(60);
constexpr std::uint32_t kKillSeed = 0x5161;

// A file whose writes go in small, slow steps; everything else goes straight through.
class SlowFile final : public ForwardingFile<platform::File> {
  public:
    using ForwardingFile::ForwardingFile;

    bool Write(std::span<const std::byte> bytes) override {
        while (!bytes.empty()) {
            const auto step = std::min(bytes.size(), static_cast<std::size_t>(kStepBytes));
            if (!inner_->Write(bytes.first(step))) return false;
            bytes = bytes.subspan(step);
            std::this_thread::sleep_for(kPauseAfterStep);
        }
        return true;
    }
    // Every byte goes through the slow steps, none around them through the kernel.
    platform::KernelCopy CopyInKernelFrom(platform::File&, std::int64_t) override { return {}; }
};

// The files a split creates in its output folder are slow.
class SlowWritingFileSystem final : public PassThroughFileSystem {
    class SlowFolder final : public PassThroughFolder {
      public:
        using PassThroughFolder::PassThroughFolder;
        std::unique_ptr<platform::File> CreateNew(const std::string& name,
                                                  platform::Permissions permissions) override {
            auto file = inner_->CreateNew(name, permissions);
            if (!file) return file;
            return std::make_unique<SlowFile>(std::move(file));
        }
    };

  protected:
    std::unique_ptr<platform::Folder> WrapFolder(const std::string& path,
                                                 std::unique_ptr<platform::Folder> inner) override {
        return std::make_unique<SlowFolder>(path, std::move(inner));
    }
};

// Starts a slow split in a child, waits until piece `killAt` has appeared and a little more,
// then kills the child. Returns how the child ended (128 + signal when killed).
int SplitAndKill(const std::string& input, const std::string& folder, std::int64_t killAt,
                 std::chrono::milliseconds extraWait) {
    const pid_t child = RunInChild([&] {
        SlowWritingFileSystem files;
        auto settings = SettingsFor(folder, kChunk);
        RecordingDialog dialog;
        return SplitShowing(settings, input, dialog, {}, files) ? 0 : 1;
    });
    if (child < 0) return -1;
    const std::string awaited =
        Piece(folder + "/" + std::filesystem::path(input).filename().string(), killAt);
    const auto deadline = std::chrono::steady_clock::now() + kGiveUpAfter;
    int status = 0;
    while (!std::filesystem::exists(awaited) && std::chrono::steady_clock::now() < deadline &&
           ::waitpid(child, &status, WNOHANG) == 0)
        std::this_thread::sleep_for(kPoll);
    std::this_thread::sleep_for(extraWait);
    ::kill(child, SIGKILL);
    return WaitForChild(child);
}

// What the killed split left: pieces 1..h from number 1 without a gap, each but the last whole
// and equal to its slice, the last a beginning of its slice; returns h.
std::int64_t ExpectLeftoversAreSlices(const std::string& base, const std::vector<char>& input) {
    std::int64_t present = 0;
    while (std::filesystem::exists(Piece(base, present + 1))) ++present;
    for (std::int64_t n = 1; n < present; ++n)
        EXPECT_TRUE(SameBytes(ReadFile(Piece(base, n)), Slice(input, (n - 1) * kChunk, kChunk)))
            << "finished piece " << n;
    if (present > 0) {
        const auto last = ReadFile(Piece(base, present));
        EXPECT_LE(static_cast<std::int64_t>(last.size()), kChunk) << "last piece " << present;
        EXPECT_TRUE(SameBytes(
            last, Slice(input, (present - 1) * kChunk, static_cast<std::int64_t>(last.size()))))
            << "the piece being written, " << present << ", holds bytes not of its slice";
    }
    return present;
}

TEST(KilledSplit, PiecesBeforeTheKillAreWholeAndTheSplitCanBeRunAgain) {
    TempFolder temp;
    const std::string input = temp / "database.sqlite";
    const auto bytes = WritePattern(input, kInputSize, 51);
    const std::string folder = temp / "out";
    const std::string base = folder + "/database.sqlite";

    // Killed three times, each time further in, over what the kill before left.
    std::mt19937 random(kKillSeed);
    for (const std::int64_t killAt : {3, 12, 30}) {
        const auto extra =
            std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 25)(random));
        SCOPED_TRACE("killed once piece " + std::to_string(killAt) + " appeared, after " +
                     std::to_string(extra.count()) + " ms more");
        ASSERT_EQ(SplitAndKill(input, folder, killAt, extra), 128 + SIGKILL)
            << "the split was not running when it was killed";
        const auto present = ExpectLeftoversAreSlices(base, bytes);
        EXPECT_GE(present, killAt);
        EXPECT_LT(present, kPieces) << "the split finished before the kill";
        if (present > 0) {
            std::cout << "[ KILLED   ] after piece " << killAt << " appeared (+" << extra.count()
                      << " ms): " << present << " pieces present, the last of "
                      << std::filesystem::file_size(Piece(base, present)) << " bytes\n";
        }
        if (HasFatalFailure()) return;
    }

    auto settings = SettingsFor(folder, kChunk);
    RecordingDialog dialog;
    ASSERT_TRUE(SplitShowing(settings, input, dialog)) << settings.StatusMessage;
    EXPECT_EQ(settings.StatusMessage, messages::kSplitSucceeded);
    ExpectPiecesAreExactlyTheSlices(base, bytes, kChunk);

    ASSERT_TRUE(JoinFiles(settings, base)) << settings.StatusMessage;
    EXPECT_EQ(settings.StatusMessage, messages::kJoinVerified);
    EXPECT_TRUE(SameBytes(ReadFile(base), bytes)) << "the joined file";
    EXPECT_TRUE(SameBytes(ReadFile(input), bytes)) << "the input changed";
}

}  // namespace
}  // namespace tessel::testing
