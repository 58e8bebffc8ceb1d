// The diskette presets against real diskettes: FAT12 images formatted by mkfs.fat as a user would
// format the diskette, and a piece cut at the preset's size copied onto one with mtools.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "engine/messages.h"
#include "tests/support/case_names.h"
#include "tests/support/checked_runs.h"
#include "tests/support/fat_image.h"
#include "tests/support/recording_dialog.h"
#include "tests/support/temp_folder.h"
#include "ui/field_text.h"

namespace tessel::testing {
namespace {

namespace fs = std::filesystem;

// A diskette preset and the size of the diskette it names, in KiB, as mkfs.fat formats it.
struct Diskette {
    std::size_t entry;
    std::string_view label;
    std::int64_t kibibytes;
};
constexpr Diskette kDiskettes[] = {
    {0, "Diskette 3'5 High Density (1.44 MB)", 1440},
    {1, "Diskette 5'25 High Density (1.2 MM)", 1200},
    {2, "Diskette 2.8 MB", 2880},
};
// Bytes of the input past the first piece, so the split cuts a whole piece and a short one.
constexpr std::int64_t kInputPastOnePiece = 1000;

// The preset's size, read from the list entry as the window reads it.
std::int64_t PresetSize(const Diskette& diskette) {
    const auto entry = ui::kPresetEntries[diskette.entry];
    EXPECT_TRUE(entry.starts_with(std::string(diskette.label) + "  ")) << entry;
    return ui::ParseChunkSize(ui::PresetSizeText(entry)).value_or(0);
}

class DiskettePresetsEach : public ::testing::TestWithParam<Diskette> {};

TEST_P(DiskettePresetsEach, APieceOfEachDiskettePresetFitsAFreshlyFormattedDiskette) {
    if (const auto missing = MissingFatTools(); !missing.empty()) GTEST_SKIP() << missing;
    TempFolder temp;
    const auto& diskette = GetParam();
    const std::string name = std::to_string(diskette.kibibytes);
    const std::int64_t chunk = PresetSize(diskette);
    ASSERT_GT(chunk, 0);

    const std::string image = temp / (name + ".img");
    std::string said;
    ASSERT_TRUE(FormatFat(image, diskette.kibibytes, false, said)) << said;
    const auto room = FatFreeBytes(image);
    ASSERT_TRUE(room.has_value()) << "mdir gave no free room for " << image;
    EXPECT_LE(chunk, *room) << "the preset is larger than the formatted diskette";
    std::cout << "[ MEASURED ] " << diskette.label << ": " << *room << " bytes free on a "
              << diskette.kibibytes << " KiB image, preset " << chunk << '\n';

    // The room measured is what the diskette holds: one byte more is refused, and leaves
    // the diskette as empty as it was.
    const std::string tooLarge = temp / (name + ".too-large");
    WriteFile(tooLarge, {});
    fs::resize_file(tooLarge, static_cast<std::uintmax_t>(*room + 1));
    EXPECT_FALSE(CopyOntoFat(image, tooLarge, "TOOLARGE.BIN", said)) << said;
    EXPECT_EQ(FatFreeBytes(image), room);

    // A piece that the split cuts at the preset's size goes onto the diskette whole.
    const std::string input = temp / (name + " notes.txt");
    WritePattern(input, chunk + kInputPastOnePiece, static_cast<std::uint32_t>(diskette.kibibytes));
    auto settings = SettingsFor(temp / (name + " pieces"), chunk);
    RecordingDialog dialog;
    ASSERT_TRUE(CheckedSplit(settings, input, dialog)) << settings.StatusMessage;
    EXPECT_EQ(settings.StatusMessage, messages::kSplitSucceeded);
    const std::string piece = Piece(temp / (name + " pieces/" + name + " notes.txt"), 1);
    ASSERT_EQ(fs::file_size(piece), static_cast<std::uintmax_t>(chunk));

    const std::string onDiskette = fs::path(piece).filename().string();
    const bool copied = CopyOntoFat(image, piece, onDiskette, said);
    EXPECT_TRUE(copied) << said;
    if (!copied) return;
    const std::string back = temp / (name + " back from the diskette");
    ASSERT_TRUE(CopyOffFat(image, onDiskette, back));
    EXPECT_EQ(ReadFile(back), ReadFile(piece)) << "the piece came back changed";
}

// "Diskette35HighDensity144MB" and so on, after the preset's label.
INSTANTIATE_TEST_SUITE_P(, DiskettePresetsEach, ::testing::ValuesIn(kDiskettes),
                         [](const auto& test) { return CamelCase(test.param.label); });

}  // namespace
}  // namespace tessel::testing
