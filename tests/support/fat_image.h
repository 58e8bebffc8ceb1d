// FAT file-system images formatted by dosfstools' mkfs.fat, as a user formats a diskette or a
// USB stick, and files copied onto and off them with mtools, for the tests that check that the
// pieces of a preset fit the medium it names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tessel::testing {

// Why FAT images cannot be made or read here (a tool missing), or an empty text when they can.
std::string MissingFatTools();

// Formats `image`, a new file of `kibibytes` KiB, with mkfs.fat: the FAT type mkfs.fat picks for
// that size (FAT12 for a diskette), or FAT32 when asked. The file stays sparse. True when
// mkfs.fat succeeded; otherwise `output` holds what it said.
bool FormatFat(const std::string& image, std::int64_t kibibytes, bool fat32, std::string& output);

// The free room of the image's file system in bytes, as mdir reports it.
std::optional<std::int64_t> FatFreeBytes(const std::string& image);

// The size of the file `name` in the image's root folder, or nothing when it is not there.
std::optional<std::int64_t> FatFileSize(const std::string& image, const std::string& name);

// Copies `file` into the image's root folder as `name` with mcopy. True only when mcopy
// succeeded and the copy is there with the file's size (mcopy reports some refusals, such as a
// file too large for FAT, with success); otherwise `output` holds what mcopy said.
bool CopyOntoFat(const std::string& image, const std::string& file, const std::string& name,
                 std::string& output);

// Copies `name` from the image's root folder out to `destination` with mcopy.
bool CopyOffFat(const std::string& image, const std::string& name, const std::string& destination);

}  // namespace tessel::testing
