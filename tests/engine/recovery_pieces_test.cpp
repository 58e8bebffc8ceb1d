// Recovery pieces through the split and the join: whichever R of the N + R pieces go missing or
// come back damaged (a flipped byte, cut short, made longer), the join rebuilds the file byte for
// byte and says how many pieces it rebuilt; one more is refused with the target as it was.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/checksum.h"
#include "engine/join.h"
#include "engine/messages.h"
#include "engine/split.h"
#include "engine/verify.h"
#include "tests/support/checked_runs.h"
#include "tests/support/child_process.h"
#include "tests/support/intercepting_file_system.h"
#include "tests/support/piece_checks.h"
#include "tests/support/run_tool.h"
#include "tests/support/temp_folder.h"

namespace tessel::testing {
namespace {

namespace fs = std::filesystem;

// Splits `input` into `folder` with `recovery` recovery pieces, as the window does.
SplitResult SplitWithRecovery(const std::string& input, const std::string& folder,
                              std::int64_t chunk, std::int64_t recovery,
                              const OperationControl& control = {},
                              platform::FileSystem& files = platform::DefaultFileSystem()) {
    auto request = SplitRequestFrom(SettingsFor(folder, chunk), input);
    request.recovery = recovery;
    const SplitCheck check = CheckSplit(request, files);
    EXPECT_TRUE(check.plan.has_value()) << check.report.status;
    if (!check.plan) return {};
    return WriteSplit(*check.plan, control, files);
}

JoinResult Join(const std::string& target) {
    const JoinCheck check = CheckJoin(JoinRequest{target, kDefaultPieceExtension});
    if (!check.plan)
        return JoinResult{check.report, check.pieces, check.recoveryPieces, false, 0, 0};
    return WriteJoin(*check.plan);
}

// A set split for real, whose pieces a test damages and puts back.
struct Set {
    Set(std::int64_t count, std::int64_t chunk, std::int64_t lastLength, std::int64_t recoveryCount)
        : pieces(count), recovery(recoveryCount) {
        const std::int64_t size = (pieces - 1) * chunk + lastLength;
        bytes = WritePattern(temp / "data.bin", size,
                             static_cast<std::uint32_t>(pieces * 7 + recovery));
        const auto result = SplitWithRecovery(temp / "data.bin", temp / "out", chunk, recovery);
        EXPECT_TRUE(result.report.Done()) << result.report.status;
        for (std::int64_t n = 1; n <= pieces + recovery; ++n)
            originals[Name(n - 1)] = ReadFile(Name(n - 1));
    }
    // Piece from 0: the numbered ones, then the recovery ones.
    std::string Name(std::int64_t piece) const {
        const std::string base = temp / "out/data.bin";
        return piece < pieces ? Piece(base, piece + 1) : RecoveryPiece(base, piece - pieces + 1);
    }
    void Restore() {
        for (const auto& [name, content] : originals) WriteFile(name, content);
    }

    TempFolder temp;
    std::int64_t pieces;
    std::int64_t recovery;
    std::vector<char> bytes;
    std::map<std::string, std::vector<char>> originals;
};

// Loses `piece` in one of the ways a medium loses a file.
void Lose(const std::string& path, int how, std::mt19937& random) {
    auto bytes = ReadFile(path);
    switch (bytes.empty() ? 0 : how % 4) {
        case 0:
            fs::remove(path);
            return;
        case 1:
            bytes[random() % bytes.size()] ^= 0x20;
            break;
        case 2:
            bytes.pop_back();
            break;
        default:
            bytes.push_back('x');
    }
    WriteFile(path, bytes);
}

std::string RebuiltText(std::size_t rebuilt) {
    if (rebuilt == 0) return messages::kJoinVerified;
    if (rebuilt == 1) return std::string(messages::kJoinVerified) + messages::kJoinRebuiltOne;
    return std::string(messages::kJoinVerified) + messages::kJoinRebuiltOpen +
           std::to_string(rebuilt) + messages::kJoinRebuiltClose;
}

// Every pattern of at most R lost pieces where the pieces are few, random ones of R where they
// are many, always with the short last piece and a recovery piece among them now and then.
std::vector<std::vector<std::int64_t>> Patterns(std::int64_t n, std::int64_t r,
                                                std::mt19937& random) {
    std::vector<std::vector<std::int64_t>> patterns;
    const std::int64_t all = n + r;
    if (all <= 7) {
        for (unsigned mask = 1; mask < (1u << all); ++mask) {
            std::vector<std::int64_t> pattern;
            for (std::int64_t piece = 0; piece < all; ++piece)
                if (mask & (1u << piece)) pattern.push_back(piece);
            if (std::ssize(pattern) <= r) patterns.push_back(pattern);
        }
        return patterns;
    }
    for (int k = 0; k < 3; ++k) {
        std::vector<std::int64_t> pattern = {n - 1};
        if (k > 0) pattern.push_back(n + k % r);
        while (std::ssize(pattern) < r) {
            const auto piece = static_cast<std::int64_t>(random() % static_cast<unsigned>(all));
            if (std::ranges::find(pattern, piece) == pattern.end()) pattern.push_back(piece);
        }
        pattern.resize(static_cast<std::size_t>(r));
        patterns.push_back(pattern);
    }
    return patterns;
}

TEST(RecoveryPieces, AnyRLostOrDamagedPiecesAreRebuiltAndOneMoreIsRefused) {
    std::mt19937 random(1515);
    for (const std::int64_t n : {1, 2, 3, 254, 255, 256, 300}) {
        for (const std::int64_t r : {1, 2, 4}) {
            SCOPED_TRACE("N = " + std::to_string(n) + ", R = " + std::to_string(r));
            // An odd chunk, with an odd short last piece: the recovery pieces' odd tail too.
            const std::int64_t chunk = n > 3 ? 37 : 4099;
            Set set(n, chunk, n == 1 ? chunk : chunk / 2 + 1, r);
            if (HasFailure()) return;
            const std::string target = set.temp / "out/data.bin";
            for (const auto& pattern : Patterns(n, r, random)) {
                SCOPED_TRACE("lost " + ::testing::PrintToString(pattern));
                int how = 0;
                for (const auto piece : pattern) Lose(set.Name(piece), how++, random);
                const auto lostPieces =
                    std::ranges::count_if(pattern, [&](auto p) { return p < n; });
                const JoinResult result = Join(target);
                EXPECT_EQ(result.report.status, RebuiltText(static_cast<std::size_t>(lostPieces)));
                EXPECT_EQ(result.rebuilt, lostPieces);
                EXPECT_TRUE(SameBytes(ReadFile(target), set.bytes));
                for (std::int64_t piece = 0; piece < n + r; ++piece) {
                    if (std::ranges::find(pattern, piece) != pattern.end()) continue;
                    EXPECT_EQ(ReadFile(set.Name(piece)), set.originals.at(set.Name(piece)))
                        << "an intact piece changed";
                }
                set.Restore();
                WriteFile(target, {});
            }
            // One more than R: refused, the placeholder as it was; an older file as it was.
            for (const auto& before : {std::vector<char>{}, PatternBytes(3 * chunk, 4)}) {
                WriteFile(target, before);
                for (std::int64_t k = 0; k <= r; ++k)
                    Lose(set.Name(k * (n + r) / (r + 1)), 0, random);
                const JoinResult refused = Join(target);
                EXPECT_EQ(refused.report.status, "Error - " + std::to_string(r + 1) +
                                                     " pieces are missing or damaged, at most " +
                                                     std::to_string(r) + " can be rebuilt");
                EXPECT_TRUE(SameBytes(ReadFile(target), before));
                set.Restore();
            }
        }
    }
}

TEST(RecoveryPieces, AreListedForSha256sumAndTheJoinWithEveryPieceNeverReadsThem) {
    Set set(5, 64 * 1024, 1000, 3);
    const std::string target = set.temp / "out/data.bin";
    const auto check =
        RunTool(set.temp / "out", {"sha256sum", "--strict", "-c", "data.bin.sha256"});
    EXPECT_EQ(check.exitCode, 0) << check.output;
    EXPECT_NE(check.output.find("data.bin.R3.BRK: OK"), std::string::npos) << check.output;
    ChecksumList list;
    const auto text = ReadFile(target + kChecksumSuffix);
    ASSERT_EQ(
        ParseChecksumFile({text.begin(), text.end()}, "data.bin", kDefaultPieceExtension, list),
        ListReading::Complete);
    EXPECT_EQ(list.header->recovery, 3);
    EXPECT_EQ(list.RecoveryPieces(), 3);
    for (std::int64_t j = 1; j <= 3; ++j)
        EXPECT_EQ(fs::file_size(RecoveryPiece(target, j)), 64u * 1024) << "as long as a piece";

    // Every piece intact: the recovery pieces are never opened, even when they are all gone.
    for (std::int64_t j = 1; j <= 3; ++j) fs::remove(RecoveryPiece(target, j));
    std::vector<std::string> opened;
    InterceptingFileSystem files([&](Call call, const std::string& path) {
        if (call == Call::OpenForReading) opened.push_back(path);
        return Fault::None;
    });
    auto settings = SettingsFor(set.temp / "out", 64 * 1024);
    ASSERT_TRUE(JoinFiles(settings, target, {}, files)) << settings.StatusMessage;
    EXPECT_EQ(settings.StatusMessage, messages::kJoinVerified);
    EXPECT_TRUE(SameBytes(ReadFile(target), set.bytes));
    for (const auto& path : opened) EXPECT_EQ(path.find(".R"), std::string::npos) << path;

    // A set split again without recovery pieces: the old ones go with its list.
    set.Restore();
    ASSERT_TRUE(
        SplitWithRecovery(set.temp / "data.bin", set.temp / "out", 64 * 1024, 1).report.Done());
    EXPECT_TRUE(fs::exists(RecoveryPiece(target, 1)));
    EXPECT_FALSE(fs::exists(RecoveryPiece(target, 2))) << "a stale recovery piece stayed";
}

TEST(RecoveryPieces, ASplitCancelledOrKilledWhileWritingThemLeavesNoSetThatPassesForWhole) {
    TempFolder temp;
    const std::int64_t chunk = 64 * 1024;
    const auto bytes = WritePattern(temp / "data.bin", 6 * chunk + 5, 3);
    const std::string target = temp / "out/data.bin";

    // Cancelled once every piece is copied, while the recovery pieces are written: nothing stays.
    std::atomic<bool> cancel = false;
    OperationControl control{[&](std::int64_t done, std::int64_t total) {
                                 if (done == total) cancel = true;
                             },
                             &cancel};
    const auto cancelled = SplitWithRecovery(temp / "data.bin", temp / "out", chunk, 2, control);
    EXPECT_EQ(cancelled.report.outcome, Outcome::Cancelled);
    EXPECT_TRUE(fs::is_empty(temp / "out")) << "a cancelled split left files";

    // Killed while writing recovery piece 2: the list lacks it, so no join passes the set off
    // as whole; the split run again makes a whole set.
    const pid_t child = RunInChild([&] {
        InterceptingFileSystem files([&](Call call, const std::string& path) {
            if (call == Call::Write && path == RecoveryPiece(target, 2))
                ::kill(::getpid(), SIGKILL);
            return Fault::None;
        });
        SplitWithRecovery(temp / "data.bin", temp / "out", chunk, 2, {}, files);
        return 0;
    });
    ASSERT_EQ(WaitForChild(child), 128 + SIGKILL);
    ASSERT_TRUE(fs::exists(RecoveryPiece(target, 1)));
    fs::remove(Piece(target, 3));
    const JoinResult cut = Join(target);
    EXPECT_EQ(cut.report.status, messages::kChecksumFileIncomplete);
    EXPECT_EQ(fs::file_size(target), 0u);
    ASSERT_TRUE(SplitWithRecovery(temp / "data.bin", temp / "out", chunk, 2).report.Done());
    fs::remove(Piece(target, 3));
    fs::remove(Piece(target, 6));
    EXPECT_EQ(Join(target).rebuilt, 2);
    EXPECT_TRUE(SameBytes(ReadFile(target), bytes));
}

TEST(RecoveryPieces, VerifyNamesEveryLostPieceAndRepairWritesOnlyThoseAnew) {
    std::mt19937 random(77);
    Set set(6, 4097, 1000, 2);
    const std::string target = set.temp / "out/data.bin";
    const JoinRequest request{target, kDefaultPieceExtension};
    const auto found = [](const VerifyResult& result) {
        std::string states;
        for (const auto state : result.pieces) states += "FMD"[static_cast<int>(state)];
        states += '+';
        for (const auto state : result.recoveryPieces) states += "FMD"[static_cast<int>(state)];
        return states;
    };
    EXPECT_EQ(found(VerifyPieces(request)), "FFFFFF+FF");
    EXPECT_TRUE(VerifyPieces(request).Joinable());

    Lose(set.Name(1), 0, random);  // missing
    Lose(set.Name(7), 1, random);  // recovery piece 2, a flipped byte
    auto verified = VerifyPieces(request);
    EXPECT_EQ(found(verified), "FMFFFF+FD");
    EXPECT_FALSE(verified.Joinable());
    EXPECT_TRUE(verified.Rebuildable());
    Lose(set.Name(4), 1, random);  // one more than R
    verified = VerifyPieces(request);
    EXPECT_EQ(found(verified), "FMFFDF+FD");
    EXPECT_FALSE(verified.Rebuildable());
    const auto refused = RepairPieces(request);
    EXPECT_EQ(refused.report.status, messages::TooManyLost(3, 2));
    EXPECT_FALSE(fs::exists(set.Name(1))) << "a refused repair wrote a piece";

    // Within R: only the lost pieces are written anew, and checked; the intact ones stay the
    // very files they were.
    set.Restore();
    Lose(set.Name(5), 2, random);
    Lose(set.Name(6), 0, random);
    const auto intact = InodeOf(set.Name(0));
    const auto repair = RepairPieces(request);
    EXPECT_TRUE(repair.report.Done()) << repair.report.status;
    EXPECT_EQ(repair.repaired, 2);
    EXPECT_EQ(InodeOf(set.Name(0)), intact);
    for (const auto& [name, content] : set.originals) EXPECT_EQ(ReadFile(name), content) << name;
    EXPECT_EQ(found(VerifyPieces(request)), "FFFFFF+FF");
    EXPECT_EQ(fs::file_size(target), 0u) << "a repair never writes the target";

    // No list, or one cut short: nothing to check against.
    auto list = ReadFile(target + kChecksumSuffix);
    list.pop_back();
    list.erase(std::find(list.rbegin(), list.rend(), '\n').base(), list.end());
    WriteFile(target + kChecksumSuffix, list);
    EXPECT_EQ(VerifyPieces(request).report.status, messages::kChecksumFileIncomplete);
    fs::remove(target + kChecksumSuffix);
    EXPECT_EQ(VerifyPieces(request).report.status, messages::kChecksumFileUnreadable);
}

}  // namespace
}  // namespace tessel::testing
