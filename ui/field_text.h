// Text rules of the main window's fields, kept free of Qt so they can be fuzzed and tested alone.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessel::ui {

// The text cut before its first NUL character; a text without one comes back whole.
std::string CutAtNul(std::string_view text);

// Whether the text holds nothing but blanks (spaces and tabs), or nothing at all: a field left
// so says that no value was given.
bool IsBlank(std::string_view text);

// The chunk-size field's text as a whole number of bytes, or nothing when it does not read as a
// decimal whole number (blanks around it allowed) in the signed 64-bit range (empty, letters, a
// lone sign, out of range).
std::optional<std::int64_t> ParseChunkSize(std::string_view text);

// The entries of the preset list, in list order: a medium's label, blanks, and its size in bytes
// ending at the last column, laid out for a fixed-pitch font; "Custom" stands last. The pieces of
// the 1.44, 1.2 and 2.8 MB diskettes fit the room their freshly formatted FAT12 leaves; the USB
// stick's size is the largest file FAT32 holds; the DVD's is the smaller of DVD+R and DVD-R.
inline constexpr std::array<std::string_view, 14> kPresetEntries = {
    "Diskette 3'5 High Density (1.44 MB)        1457644",
    "Diskette 5'25 High Density (1.2 MM)        1213952",
    "Diskette 2.8 MB                            2931712",
    "Diskette 4 MB                              4194304",
    "Iomega Zip 100 (100 MB)                  104857600",
    "SuperDisk LS-120 (120 MB)                 125829120",
    "Iomega Zip 250 (250 MB)                  262144000",
    "CD-ROM (350 MB)                          367001600",
    "Jaz Disk 1 GB                           1073741824",
    "Jaz Disk 2 GB                           2147483648",
    "USB stick FAT32 (4 GB)                  4294967295",
    "CD-R (700 MB)                            737280000",
    "DVD+R / DVD-R (4.7 GB)                  4700372992",
    "Custom                                           0",
};

// The size text of a preset entry: its last 10 characters with blanks removed from both ends.
std::string PresetSizeText(std::string_view entry);

}  // namespace tessel::ui
