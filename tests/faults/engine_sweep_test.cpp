// Every call the engine makes to its file services, made to fail in turn: for each scenario the
// Nth call fails (and, for reads, writes and kernel copies, comes up short instead), for every N
// until no call is left to fail. Whatever fails, the input stays as it was, the target holds its
// old bytes or the whole original, a success leaves a correct result, a failure says so, nothing
// is left behind or left open, no file is more open than what it came from, and the next join
// of that name never passes off wrong bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "engine/checksum.h"
#include "engine/join.h"
#include "engine/merge_batch.h"
#include "engine/messages.h"
#include "engine/split.h"
#include "tests/support/checked_runs.h"
#include "tests/support/intercepting_file_system.h"
#include "tests/support/piece_checks.h"
#include "tests/support/temp_folder.h"

namespace tessel::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kChunk = 4096;
constexpr std::int64_t kInputSize = 3 * kChunk + 123;
constexpr fs::perms kInputBits =
    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;

// Fails the call numbered `failAt` (from 1) the way `fault` says; counts every call.
struct Sweep {
    std::int64_t failAt = 0;
    Fault fault = Fault::None;
    std::int64_t calls = 0;
    bool fired = false;
    std::string failed;  // which call failed, for the report

    InterceptingFileSystem::Interceptor Interceptor() {
        return [this](Call call, const std::string& path) {
            if (++calls != failAt) return Fault::None;
            const bool canBeShort =
                call == Call::Read || call == Call::Write || call == Call::KernelCopy;
            if (fault == Fault::Short && !canBeShort) return Fault::None;
            fired = true;
            failed = std::string(NameOf(call)) + " " + path;
            return fault;
        };
    }
};

fs::perms PermissionsOf(const fs::path& path) {
    return fs::symlink_status(path).permissions() & fs::perms::all;
}

// Everything a folder holds, name by name: bytes and permission bits.
std::map<std::string, std::pair<std::vector<char>, fs::perms>> Take(const fs::path& folder) {
    std::map<std::string, std::pair<std::vector<char>, fs::perms>> taken;
    for (const auto& entry : fs::directory_iterator(folder))
        taken[entry.path().filename().string()] = {ReadFile(entry.path()),
                                                   PermissionsOf(entry.path())};
    return taken;
}

// One way the engine is run, in a fresh folder: the files it starts from, and the operation.
struct Scenario {
    enum class Writes { Pieces, BatchFile, Target };
    const char* name;
    std::function<void(const TempFolder&)> prepare;
    // Runs the operation through `files`; true when it reported success.
    std::function<bool(const TempFolder&, platform::FileSystem& files)> run;
    Writes writes;
};

std::string Input(const TempFolder& temp) {
    return temp / "data.bin";
}
std::string Target(const TempFolder& temp) {
    return temp / "out/data.bin";
}

void WriteInput(const TempFolder& temp) {
    WritePattern(Input(temp), kInputSize, 7);
    fs::permissions(Input(temp), kInputBits);
    fs::create_directory(temp / "out");
}

void SplitFirst(const TempFolder& temp, std::int64_t chunk) {
    WriteInput(temp);
    auto settings = SettingsFor(temp / "out", chunk);
    ASSERT_TRUE(SplitFile(settings, Input(temp))) << settings.StatusMessage;
}

bool Split(const TempFolder& temp, platform::FileSystem& files) {
    auto settings = SettingsFor(temp / "out", kChunk);
    const bool done = SplitFile(settings, Input(temp), {}, files);
    EXPECT_EQ(done, settings.StatusMessage == messages::kSplitSucceeded) << settings.StatusMessage;
    return done;
}

bool Join(const TempFolder& temp, platform::FileSystem& files) {
    auto settings = SettingsFor(temp / "out", kChunk);
    const bool done = JoinFiles(settings, Target(temp), {}, files);
    EXPECT_EQ(done, settings.StatusMessage == messages::kJoinVerified ||
                        settings.StatusMessage == messages::kJoinSucceeded)
        << settings.StatusMessage;
    return done;
}

const std::vector<Scenario>& Scenarios() {
    static const std::vector<Scenario> scenarios = {
        {"split into an empty folder", WriteInput, Split, Scenario::Writes::Pieces},
        {"split over an older set", [](const TempFolder& temp) { SplitFirst(temp, kChunk / 2); },
         Split, Scenario::Writes::Pieces},
        {"batch file after a split", [](const TempFolder& temp) { SplitFirst(temp, kChunk); },
         [](const TempFolder& temp, platform::FileSystem& files) {
             auto settings = SettingsFor(temp / "out", kChunk);
             settings.PieceCount = static_cast<double>(kInputSize) / kChunk;
             WriteMergeBatch(settings, Input(temp), files);
             return settings.InfoMessage.empty();
         },
         Scenario::Writes::BatchFile},
        {"join with a list onto the placeholder",
         [](const TempFolder& temp) { SplitFirst(temp, kChunk); }, Join, Scenario::Writes::Target},
        {"join with a list onto an older file",
         [](const TempFolder& temp) {
             SplitFirst(temp, kChunk);
             WritePattern(Target(temp), 2 * kChunk + 5, 9);
             fs::permissions(Target(temp), kInputBits);
         },
         Join, Scenario::Writes::Target},
        {"join without a list",
         [](const TempFolder& temp) {
             SplitFirst(temp, kChunk);
             fs::remove(Target(temp) + kChecksumSuffix);
         },
         Join, Scenario::Writes::Target},
    };
    return scenarios;
}

// The checks after one run; `succeeded` is what it reported.
void CheckRun(const TempFolder& temp, const Scenario& scenario, bool succeeded,
              const std::map<std::string, std::pair<std::vector<char>, fs::perms>>& before,
              const std::vector<char>& original) {
    EXPECT_TRUE(SameBytes(ReadFile(Input(temp)), original)) << "the input changed";
    const auto after = Take(temp.path() / "out");
    for (const auto& [name, content] : after) {
        EXPECT_FALSE(name.starts_with(".tessel-join")) << "a scratch file was left: " << name;
        // No file written is more open than the input; the joined one no more than the pieces.
        EXPECT_EQ(content.second & ~kInputBits, fs::perms::none) << name << " is too open";
    }
    if (scenario.writes == Scenario::Writes::Target) {
        const auto target = after.find("data.bin");
        const auto old = before.find("data.bin");
        ASSERT_NE(target, after.end()) << "the target vanished";
        const bool unchanged = target->second.first == old->second.first;
        const bool whole = target->second.first == original;
        EXPECT_TRUE(unchanged || whole) << "the target holds neither its old bytes nor the file";
        if (succeeded) {
            EXPECT_TRUE(whole) << "a join reported success with wrong bytes";
        }
        for (const auto& [name, content] : before)
            if (name != "data.bin") {
                EXPECT_EQ(after.at(name), content) << name << " changed";
            }
        return;
    }
    if (succeeded && scenario.writes == Scenario::Writes::Pieces)
        ExpectPiecesAreExactlyTheSlices(Target(temp), original, kChunk);
    // Whatever the run left, a join of that name never passes off wrong bytes.
    auto settings = SettingsFor(temp / "out", kChunk);
    if (JoinFiles(settings, Target(temp))) {
        EXPECT_TRUE(SameBytes(ReadFile(Target(temp)), original))
            << "a later join reported success for wrong bytes: " << settings.StatusMessage;
    }
}

TEST(EngineSweep, EveryCallFailingInTurnNeverEndsInAWrongResult) {
    const mode_t oldMask = ::umask(022);
    std::int64_t runs = 0;
    for (const auto& scenario : Scenarios()) {
        for (const Fault fault : {Fault::Fail, Fault::Short}) {
            for (std::int64_t n = 1;; ++n) {
                SCOPED_TRACE(std::string(scenario.name) + ", call " + std::to_string(n) +
                             (fault == Fault::Fail ? " fails" : " comes up short"));
                TempFolder temp;
                scenario.prepare(temp);
                if (HasFatalFailure()) return;
                const auto original = ReadFile(Input(temp));
                const auto before = Take(temp.path() / "out");
                Sweep sweep;
                sweep.failAt = n;
                sweep.fault = fault;
                InterceptingFileSystem files(sweep.Interceptor());
                const int descriptors = OpenDescriptorCount();
                const bool succeeded = scenario.run(temp, files);
                EXPECT_EQ(OpenDescriptorCount(), descriptors) << "a descriptor was left open";
                if (n > sweep.calls) break;  // every call has had its turn
                if (!sweep.fired) continue;
                ++runs;
                SCOPED_TRACE("failed: " + sweep.failed);
                CheckRun(temp, scenario, succeeded, before, original);
                if (HasFailure()) {
                    ::umask(oldMask);
                    return;
                }
            }
        }
    }
    ::umask(oldMask);
    std::cout << "[   INFO   ] " << runs << " runs, each with one call failing\n";
    EXPECT_GT(runs, 100);
}

}  // namespace
}  // namespace tessel::testing
