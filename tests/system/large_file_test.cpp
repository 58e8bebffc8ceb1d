// A file of 5 GiB split with the "Jaz Disk 2 GB" preset and joined again: byte counts past the
// 32-bit ranges, pieces of 2 GiB, and memory that stays bounded while they stream. The FAT32
// preset: pieces one byte short of 4 GiB, which a FAT32 stick takes and one byte more it refuses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/join.h"
#include "engine/messages.h"
#include "engine/split.h"
#include "tests/support/checked_runs.h"
#include "tests/support/fat_image.h"
#include "tests/support/recording_dialog.h"
#include "tests/support/sanitized.h"
#include "tests/support/temp_folder.h"
#include "ui/field_text.h"

namespace tessel::testing {
namespace {

constexpr std::int64_t kGiB = std::int64_t{1} << 30;
constexpr std::int64_t kInputSize = 5 * kGiB;
// Pieces and the joined file take twice the input; the rest is headroom for other users.
constexpr std::int64_t kSpaceNeeded = 12 * kGiB;
constexpr std::size_t kJazDisk2GbEntry = 9;
constexpr std::size_t kFat32StickEntry = 10;
// A stick of 4.5 GiB, with room for more than the largest file FAT32 holds.
constexpr std::int64_t kStickKiB = 4 * 1024 * 1024 + 512 * 1024;
constexpr std::size_t kMarkerBytes = 16;
constexpr std::size_t kHashReadBytes = std::size_t{1} << 20;
// Streaming through a bounded buffer keeps the process far below one piece of 2 GiB.
constexpr long kMaxResidentKiB = 512 * 1024;

// Where the large files go: $TESSEL_LARGE_FILE_DIR, else /var/tmp, else the working folder
// (the build folder under ctest). A memory-backed file system or too little free space rules
// a place out.
std::optional<std::filesystem::path> PlaceForLargeFiles(std::string& whyNot) {
    std::vector<std::filesystem::path> candidates;
    if (const char* chosen = std::getenv("TESSEL_LARGE_FILE_DIR")) candidates.emplace_back(chosen);
    candidates.emplace_back("/var/tmp");
    candidates.push_back(std::filesystem::current_path());
    for (const auto& place : candidates) {
        struct statfs kind {};
        struct statvfs space {};
        if (::statfs(place.c_str(), &kind) != 0 || ::statvfs(place.c_str(), &space) != 0) {
            whyNot += place.string() + " cannot be examined; ";
            continue;
        }
        if (kind.f_type == TMPFS_MAGIC || kind.f_type == RAMFS_MAGIC) {
            whyNot += place.string() + " is held in memory; ";
            continue;
        }
        const auto freeBytes =
            static_cast<std::int64_t>(space.f_bavail) * static_cast<std::int64_t>(space.f_frsize);
        if (freeBytes < kSpaceNeeded) {
            whyNot += place.string() + " has only " + std::to_string(freeBytes >> 20) +
                      " MiB free (12 GiB needed); ";
            continue;
        }
        return place;
    }
    return std::nullopt;
}

// The marker written at `offset`: sixteen non-zero bytes that name their own offset, so a
// slice moved by any amount is seen.
std::array<unsigned char, kMarkerBytes> MarkerAt(std::int64_t offset) {
    std::array<unsigned char, kMarkerBytes> marker{};
    for (std::size_t i = 0; i < kMarkerBytes; ++i)
        marker[i] = static_cast<unsigned char>(((offset >> ((i % 8) * 8)) & 0x7f) | 0x80);
    return marker;
}

// Offsets of the markers: both ends, straddling the first two piece boundaries and next to
// them where the input reaches that far, and past the 32-bit and 4 GiB limits.
std::vector<std::int64_t> MarkerOffsets(std::int64_t chunk) {
    constexpr auto marker = static_cast<std::int64_t>(kMarkerBytes);
    std::vector<std::int64_t> offsets = {0,
                                         chunk - marker / 2,
                                         chunk + 64,
                                         2 * chunk - marker / 2,
                                         2 * chunk + 64,
                                         3 * kGiB + 12345,
                                         4 * kGiB + 4096,
                                         kInputSize - marker};
    std::erase_if(offsets, [](std::int64_t offset) { return offset > kInputSize - marker; });
    return offsets;
}

// The size of a preset entry, read as the window reads it.
std::int64_t PresetSize(std::size_t entry) {
    return ui::ParseChunkSize(ui::PresetSizeText(ui::kPresetEntries[entry])).value_or(0);
}

// A sparse file of kInputSize bytes: zeros except for the markers.
void MakeSparseInput(const std::string& path, const std::vector<std::int64_t>& markers) {
    Fd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    ASSERT_GE(fd.get(), 0) << path;
    ASSERT_EQ(::ftruncate(fd.get(), kInputSize), 0);
    for (const auto offset : markers) {
        const auto marker = MarkerAt(offset);
        ASSERT_EQ(::pwrite(fd.get(), marker.data(), marker.size(), offset),
                  static_cast<ssize_t>(marker.size()));
    }
}

// A 64-bit FNV-1a-style hash taken eight bytes at a time, over 1 MiB reads of the whole file.
std::optional<std::uint64_t> StreamingHash(const std::string& path) {
    constexpr std::uint64_t kOffsetBasis = 0xcbf29ce484222325ull;
    constexpr std::uint64_t kPrime = 0x100000001b3ull;
    std::uint64_t hash = kOffsetBasis;
    const bool read = ReadInBlocks(path, kHashReadBytes, [&hash](std::span<const char> block) {
        std::size_t i = 0;
        for (std::uint64_t word; i + sizeof word <= block.size(); i += sizeof word) {
            std::memcpy(&word, block.data() + i, sizeof word);
            hash = (hash ^ word) * kPrime;
        }
        for (; i < block.size(); ++i) hash = (hash ^ static_cast<unsigned char>(block[i])) * kPrime;
    });
    return read ? std::optional(hash) : std::nullopt;
}

// Each marker is found in the piece that holds its offset, at the offset within that piece;
// markers that straddle a boundary are checked on both sides.
void ExpectMarkersInPieces(const std::string& base, std::int64_t chunk,
                           const std::vector<std::int64_t>& markers) {
    for (const auto offset : markers) {
        const auto expected = MarkerAt(offset);
        for (std::size_t i = 0; i < kMarkerBytes; ++i) {
            const auto at = offset + static_cast<std::int64_t>(i);
            const std::string piece = Piece(base, at / chunk + 1);
            Fd fd(::open(piece.c_str(), O_RDONLY | O_CLOEXEC));
            unsigned char found = 0;
            ASSERT_EQ(::pread(fd.get(), &found, 1, at % chunk), 1) << piece;
            EXPECT_EQ(found, expected[i]) << "input offset " << at << " in " << piece;
        }
    }
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long PeakResidentKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(LargeFile, FiveGibibytesSplitIntoJazDiskPiecesAndJoinBack) {
    if (Sanitized())
        GTEST_SKIP() << "skipped under sanitizers: 10 GiB of instrumented copying takes too long";
    std::string whyNot;
    const auto place = PlaceForLargeFiles(whyNot);
    if (!place) GTEST_SKIP() << "no place for 10 GiB of pieces: " << whyNot;

    // The chunk size comes from the preset list, as the window would take it.
    const auto chunk = ui::ParseChunkSize(ui::PresetSizeText(ui::kPresetEntries[kJazDisk2GbEntry]));
    ASSERT_EQ(chunk, std::optional<std::int64_t>(2 * kGiB));

    TempFolder temp(*place);
    const std::string input = temp / "disk image.raw";
    const auto markers = MarkerOffsets(*chunk);
    MakeSparseInput(input, markers);
    const auto inputHash = StreamingHash(input);
    ASSERT_TRUE(inputHash.has_value());
    const auto inputWritten = std::filesystem::last_write_time(input);

    auto settings = SettingsFor(temp / "out", *chunk);
    RecordingDialog dialog;
    const auto splitStart = std::chrono::steady_clock::now();
    ASSERT_TRUE(SplitShowing(settings, input, dialog)) << settings.StatusMessage;
    const double splitSeconds = SecondsSince(splitStart);
    EXPECT_EQ(settings.StatusMessage, messages::kSplitSucceeded);
    EXPECT_DOUBLE_EQ(settings.PieceCount, 2.5);
    ASSERT_EQ(dialog.shown.size(), 1u);
    EXPECT_TRUE(
        dialog.shown[0].ends_with("Size of file  : 5368709120 bytes  \r\n"
                                  " This will require 3 Files."))
        << dialog.shown[0];

    const std::string target = temp / "out/disk image.raw";
    EXPECT_EQ(std::filesystem::file_size(Piece(target, 1)), static_cast<std::uintmax_t>(*chunk));
    EXPECT_EQ(std::filesystem::file_size(Piece(target, 2)), static_cast<std::uintmax_t>(*chunk));
    EXPECT_EQ(std::filesystem::file_size(Piece(target, 3)),
              static_cast<std::uintmax_t>(kInputSize - 2 * *chunk));
    EXPECT_FALSE(std::filesystem::exists(Piece(target, 4)));
    ExpectMarkersInPieces(target, *chunk, markers);

    const auto joinStart = std::chrono::steady_clock::now();
    ASSERT_TRUE(JoinFiles(settings, target)) << settings.StatusMessage;
    const double joinSeconds = SecondsSince(joinStart);
    EXPECT_EQ(settings.StatusMessage, messages::kJoinVerified);
    EXPECT_EQ(std::filesystem::file_size(target), static_cast<std::uintmax_t>(kInputSize));
    EXPECT_EQ(StreamingHash(target), inputHash) << "the joined file differs from the input";
    EXPECT_EQ(std::filesystem::file_size(input), static_cast<std::uintmax_t>(kInputSize));
    EXPECT_EQ(std::filesystem::last_write_time(input), inputWritten) << "the input was written to";
    EXPECT_LT(PeakResidentKiB(), kMaxResidentKiB) << "memory grew with the piece size";

    std::cout << "[ TIMING   ] split " << splitSeconds << " s, join " << joinSeconds
              << " s, peak resident " << PeakResidentKiB() / 1024 << " MiB, in " << place->string()
              << '\n';
    RecordProperty("split_seconds", std::to_string(splitSeconds));
    RecordProperty("join_seconds", std::to_string(joinSeconds));
}

TEST(LargeFile, AFat32StickTakesAPieceOfTheFat32PresetAndRefusesOneByteMore) {
    if (const auto missing = MissingFatTools(); !missing.empty()) GTEST_SKIP() << missing;
    std::string whyNot;
    const auto place = PlaceForLargeFiles(whyNot);
    if (!place) GTEST_SKIP() << "no place for a 4 GiB piece on a stick image: " << whyNot;
    ASSERT_TRUE(ui::kPresetEntries[kFat32StickEntry].starts_with("USB stick FAT32 (4 GB)  "));
    const std::int64_t chunk = PresetSize(kFat32StickEntry);

    TempFolder temp(*place);
    const std::string stick = temp / "stick.img";
    std::string said;
    ASSERT_TRUE(FormatFat(stick, kStickKiB, true, said)) << said;
    const auto room = FatFreeBytes(stick);
    ASSERT_TRUE(room.has_value()) << "mdir gave no free room for " << stick;
    ASSERT_GT(*room, chunk + 1) << "the stick must have room, so that only FAT32 itself refuses";

    // Sparse pieces: their bytes are zeros that take no room in the temporary folder.
    const std::string tooLarge = temp / "disk image.raw.2.BRK";
    const std::string piece = temp / "disk image.raw.1.BRK";
    for (const auto& [path, size] : {std::pair{tooLarge, chunk + 1}, std::pair{piece, chunk}}) {
        WriteFile(path, {});
        std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
    }

    EXPECT_FALSE(CopyOntoFat(stick, tooLarge, "disk image.raw.2.BRK", said)) << said;
    EXPECT_EQ(FatFileSize(stick, "disk image.raw.2.BRK"), std::nullopt) << "4 GiB went onto FAT32";
    EXPECT_TRUE(CopyOntoFat(stick, piece, "disk image.raw.1.BRK", said)) << said;
    EXPECT_EQ(FatFileSize(stick, "disk image.raw.1.BRK"), chunk);
}

TEST(LargeFile, FiveGibibytesSplitAtTheFat32PresetGiveTwoPiecesTheFirstJustUnder4GiB) {
    if (Sanitized())
        GTEST_SKIP() << "skipped under sanitizers: 5 GiB of instrumented copying takes too long";
    std::string whyNot;
    const auto place = PlaceForLargeFiles(whyNot);
    if (!place) GTEST_SKIP() << "no place for 5 GiB of pieces: " << whyNot;
    ASSERT_TRUE(ui::kPresetEntries[kFat32StickEntry].starts_with("USB stick FAT32 (4 GB)  "));
    const std::int64_t chunk = PresetSize(kFat32StickEntry);
    ASSERT_EQ(chunk, 4 * kGiB - 1);

    TempFolder temp(*place);
    const std::string input = temp / "disk image.raw";
    const auto markers = MarkerOffsets(chunk);
    MakeSparseInput(input, markers);

    auto settings = SettingsFor(temp / "out", chunk);
    RecordingDialog dialog;
    const auto splitStart = std::chrono::steady_clock::now();
    ASSERT_TRUE(SplitShowing(settings, input, dialog)) << settings.StatusMessage;
    const double splitSeconds = SecondsSince(splitStart);
    EXPECT_EQ(settings.StatusMessage, messages::kSplitSucceeded);
    ASSERT_EQ(dialog.shown.size(), 1u);
    EXPECT_TRUE(dialog.shown[0].ends_with(" This will require 2 Files.")) << dialog.shown[0];

    const std::string target = temp / "out/disk image.raw";
    EXPECT_EQ(std::filesystem::file_size(Piece(target, 1)), 4294967295u);
    EXPECT_EQ(std::filesystem::file_size(Piece(target, 2)),
              static_cast<std::uintmax_t>(kInputSize - chunk));
    EXPECT_FALSE(std::filesystem::exists(Piece(target, 3)));
    ExpectMarkersInPieces(target, chunk, markers);
    EXPECT_LT(PeakResidentKiB(), kMaxResidentKiB) << "memory grew with the piece size";

    std::cout << "[ TIMING   ] split " << splitSeconds << " s in " << place->string() << '\n';
    RecordProperty("split_seconds", std::to_string(splitSeconds));
}

}  // namespace
}  // namespace tessel::testing
