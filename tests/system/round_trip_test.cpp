// Split then join, over many random file and chunk sizes: whatever the sizes, the pieces are the
// input's slices, the join gives the input back (into a fresh target and over an older, longer
// file), a re-split with another chunk size leaves nothing stale, and the batch file lists exactly
// the pieces written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/checksum.h"
#include "engine/join.h"
#include "engine/merge_batch.h"
#include "engine/messages.h"
#include "engine/piece_naming.h"
#include "engine/shared_settings.h"
#include "engine/split.h"
#include "tests/support/checked_runs.h"
#include "tests/support/piece_checks.h"
#include "tests/support/recording_dialog.h"
#include "tests/support/sanitized.h"
#include "tests/support/temp_folder.h"

namespace tessel::testing {
namespace {

// The same cases every run unless TESSEL_TRUST_SEED asks for others; the seed is printed with
// every failure so a failing case can be replayed.
constexpr std::uint64_t kDefaultSeed = 0x7e55e1;
constexpr int kCases = 200;
constexpr int kCasesWhenSanitized = 50;
constexpr std::int64_t kMaxChunksPerFile = 4;

std::uint64_t Seed() {
    const char* text = std::getenv("TESSEL_TRUST_SEED");
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 0) : kDefaultSeed;
}

struct Case {
    std::int64_t chunk = 1;
    std::int64_t size = 0;
    std::int64_t resplitChunk = 1;  // a second split of the same input, with another chunk size
    std::string name;
};

std::string Describe(const Case& c) {
    std::ostringstream text;
    text << "name \"" << c.name << "\", size " << c.size << ", chunk " << c.chunk
         << ", re-split chunk " << c.resplitChunk;
    return text.str();
}

// Mostly small chunk sizes, so that files of a few chunks are cheap, with a few beyond one
// megabyte, where a piece no longer fits the engine's copy buffer in one pass.
std::int64_t RandomChunk(std::mt19937_64& random) {
    const auto pick = std::uniform_int_distribution<int>(0, 99)(random);
    auto within = [&random](std::int64_t low, std::int64_t high) {
        return std::uniform_int_distribution<std::int64_t>(low, high)(random);
    };
    if (pick < 40) return within(1, 16);
    if (pick < 75) return within(17, 4096);
    if (pick < 93) return within(4097, 64 * 1024);
    constexpr std::int64_t kMiB = 1 << 20;
    return within(kMiB - 2, kMiB + 2) * within(1, 3) + within(0, 1);
}

// Sizes at a chunk boundary (k*K - 1, k*K, k*K + 1) most of the time, anywhere otherwise.
std::int64_t RandomSize(std::mt19937_64& random, std::int64_t chunk) {
    auto within = [&random](std::int64_t low, std::int64_t high) {
        return std::uniform_int_distribution<std::int64_t>(low, high)(random);
    };
    if (within(0, 3) == 0) return within(0, kMaxChunksPerFile * chunk);
    return std::max<std::int64_t>(0, within(0, kMaxChunksPerFile) * chunk + within(-1, 1));
}

// A chunk size near `chunk`, smaller or larger, so that the second split writes more or fewer
// pieces than the first (and the pieces past its last must not survive).
std::int64_t OtherChunk(std::mt19937_64& random, std::int64_t chunk) {
    switch (std::uniform_int_distribution<int>(0, 3)(random)) {
        case 0:
            return std::max<std::int64_t>(1, chunk / 2);
        case 1:
            return std::max<std::int64_t>(1, chunk - 1);
        case 2:
            return chunk + 1;
        default:
            return 2 * chunk;
    }
}

std::vector<Case> RandomCases(std::uint64_t seed) {
    static const char* const kNames[] = {"input.bin", "with blanks.dat", "noextension",
                                         "many.dots.in.name.tar.gz", "Report 2024 (final).doc"};
    std::mt19937_64 random(seed);
    std::vector<Case> cases;
    const int count = Sanitized() ? kCasesWhenSanitized : kCases;
    for (int i = 0; i < count; ++i) {
        Case c;
        c.chunk = RandomChunk(random);
        c.size = RandomSize(random, c.chunk);
        c.resplitChunk = OtherChunk(random, c.chunk);
        c.name =
            kNames[std::uniform_int_distribution<std::size_t>(0, std::size(kNames) - 1)(random)];
        cases.push_back(c);
    }
    return cases;
}

// Splits `inputPath` into `folder` and checks the outcome; the progress reported stays within
// the input's size and never goes back.
void SplitAndCheck(SharedSettings& settings, const std::string& inputPath,
                   const std::vector<char>& input) {
    std::int64_t lastDone = 0;
    bool progressSane = true;
    const auto size = static_cast<std::int64_t>(input.size());
    auto progress = [&](std::int64_t done, std::int64_t total) {
        progressSane = progressSane && total == size && done >= lastDone && done <= total;
        lastDone = done;
    };
    RecordingDialog dialog;
    ASSERT_TRUE(SplitShowing(settings, inputPath, dialog, {progress}));
    EXPECT_EQ(settings.StatusMessage, messages::kSplitSucceeded);
    EXPECT_EQ(dialog.shown.size(), 1u);
    EXPECT_TRUE(progressSane) << "progress went back or past the input's size";
}

void JoinAndCheck(SharedSettings& settings, const std::string& target,
                  const std::vector<char>& input) {
    // The checksum file beside the pieces counts them and names each by its digest.
    const auto list = ReadFile(target + kChecksumSuffix);
    ChecksumList checksums;
    ASSERT_EQ(ParseChecksumFile(std::string(list.begin(), list.end()), FileNamePart(target),
                                kDefaultPieceExtension, checksums),
              ListReading::Complete)
        << "the checksum file of " << target;
    ASSERT_TRUE(checksums.header.has_value());
    EXPECT_EQ(checksums.header->size, static_cast<std::int64_t>(input.size()));
    EXPECT_EQ(checksums.header->pieces,
              ExpectedPieces(static_cast<std::int64_t>(input.size()), settings.ChunkSize));
    ASSERT_TRUE(JoinFiles(settings, target));
    EXPECT_EQ(settings.StatusMessage, messages::kJoinVerified);
    EXPECT_TRUE(SameBytes(ReadFile(target), input)) << "joined file";
}

// The lines of a CR LF text.
std::vector<std::string> CrLfLines(const std::vector<char>& text) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            lines.push_back(line);
            line.clear();
            ++i;
        } else {
            line += text[i];
        }
    }
    EXPECT_TRUE(line.empty()) << "the batch file's last line does not end in CR LF";
    return lines;
}

// The batch file names piece 1, 2, ... in its copy lines, one line per piece written.
void ExpectBatchListsPieces(const std::string& batchPath, const std::string& name,
                            std::int64_t pieces) {
    std::int64_t copies = 0;
    for (const auto& line : CrLfLines(ReadFile(batchPath))) {
        if (!line.starts_with("copy /b ")) continue;
        ++copies;
        const std::string piece = '"' + Piece(name, copies) + '"';
        EXPECT_NE(line.find(piece), std::string::npos) << "copy line " << copies << ": " << line;
    }
    EXPECT_EQ(copies, pieces);
}

void RunCase(const TempFolder& temp, int index, const Case& c, std::uint64_t seed) {
    const std::string inputFolder = temp / ("in-" + std::to_string(index));
    const std::string outputFolder = temp / ("out-" + std::to_string(index));
    std::filesystem::create_directory(inputFolder);
    const std::string inputPath = inputFolder + "/" + c.name;
    const auto input = WritePattern(inputPath, c.size, static_cast<std::uint32_t>(seed) + index);
    const std::string target = outputFolder + "/" + c.name;

    auto settings = SettingsFor(outputFolder, c.chunk);
    SplitAndCheck(settings, inputPath, input);
    ExpectPiecesAreExactlyTheSlices(target, input, c.chunk);
    ASSERT_TRUE(std::filesystem::is_regular_file(target)) << "no empty file left to join into";
    EXPECT_EQ(std::filesystem::file_size(target), 0u);

    WriteMergeBatch(settings, inputPath);
    ExpectBatchListsPieces(target + ".bat", c.name, ExpectedPieces(c.size, c.chunk));

    std::filesystem::remove(target);
    JoinAndCheck(settings, target, input);

    // An older, longer file of the same name: nothing of it may survive the join.
    WritePattern(target, c.size + 1 + index, static_cast<std::uint32_t>(seed) + 7);
    JoinAndCheck(settings, target, input);

    settings.ChunkSize = c.resplitChunk;
    if (c.size == 0) {
        // An empty file split again beside its own set may be the placeholder Break was
        // pressed on: it is refused, and the set stays.
        EXPECT_FALSE(SplitFile(settings, inputPath));
        EXPECT_EQ(settings.StatusMessage, messages::kSplitOfPlaceholder);
        ExpectPiecesAreExactlyTheSlices(target, input, c.chunk);
    } else {
        SplitAndCheck(settings, inputPath, input);
        ExpectPiecesAreExactlyTheSlices(target, input, c.resplitChunk);
    }
    JoinAndCheck(settings, target, input);
    EXPECT_TRUE(SameBytes(ReadFile(inputPath), input)) << "the input changed";

    std::filesystem::remove_all(inputFolder);
    std::filesystem::remove_all(outputFolder);
}

TEST(RoundTrip, RandomSizesAroundChunkBoundariesComeBackWhole) {
    const std::uint64_t seed = Seed();
    TempFolder temp;
    const auto cases = RandomCases(seed);
    for (int i = 0; i < static_cast<int>(cases.size()); ++i) {
        SCOPED_TRACE("seed " + std::to_string(seed) + " (TESSEL_TRUST_SEED), case " +
                     std::to_string(i) + ": " + Describe(cases[i]));
        RunCase(temp, i, cases[i], seed);
        if (HasFatalFailure()) return;
    }
}

// The sizes that most often go wrong, each with a chunk of 1, of a prime and of a power of two;
// each case numbered in turn, as its folders and its bytes' seed are.
struct EdgeCase {
    int index;
    const char* size;  // in words, for the case's name
    Case c;
};
std::vector<EdgeCase> EdgeCases() {
    std::vector<EdgeCase> cases;
    int index = 0;
    for (const std::int64_t chunk : {std::int64_t{1}, std::int64_t{7}, std::int64_t{4096}}) {
        const std::pair<const char*, std::int64_t> sizes[] = {{"Empty", 0},
                                                              {"OneByte", 1},
                                                              {"AChunkLessOne", chunk - 1},
                                                              {"AChunk", chunk},
                                                              {"AChunkAndOne", chunk + 1},
                                                              {"TwoChunks", 2 * chunk},
                                                              {"ThreeChunksLessOne", 3 * chunk - 1},
                                                              {"ThreeChunksAndOne", 3 * chunk + 1}};
        for (const auto& [words, size] : sizes) {
            const Case c{chunk, std::max<std::int64_t>(size, 0), chunk == 1 ? 3 : chunk / 2,
                         "edge.bin"};
            cases.push_back({index++, words, c});
        }
    }
    return cases;
}

class RoundTripEdgeSizes : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(RoundTripEdgeSizes, EdgeSizesComeBackWhole) {
    TempFolder temp;
    SCOPED_TRACE(Describe(GetParam().c));
    RunCase(temp, GetParam().index, GetParam().c, kDefaultSeed);
}

// "Chunk7_TwoChunks" for 14 bytes in pieces of 7.
INSTANTIATE_TEST_SUITE_P(, RoundTripEdgeSizes, ::testing::ValuesIn(EdgeCases()),
                         [](const auto& test) {
                             return "Chunk" + std::to_string(test.param.c.chunk) + "_" +
                                    test.param.size;
                         });

// With the output folder set to the input's own folder, the empty file the split leaves under
// the input's name is the input itself: it must come through untouched, and a join into it
// gives the same bytes.
TEST(RoundTrip, SplitIntoTheInputsOwnFolderLeavesTheInputWhole) {
    TempFolder temp;
    const std::string input = temp / "notes.txt";
    const std::int64_t chunk = 1000;
    const auto bytes = WritePattern(input, 3 * chunk + 1, 61);

    auto settings = SettingsFor(temp.path().string(), chunk);
    SplitAndCheck(settings, input, bytes);
    EXPECT_TRUE(SameBytes(ReadFile(input), bytes)) << "the input after the split";
    ExpectPiecesAreExactlyTheSlices(input, bytes, chunk);
    JoinAndCheck(settings, input, bytes);
}

}  // namespace
}  // namespace tessel::testing
