// How the command line reads a piece size: a byte count with an optional unit, or one of the
// window's presets, by its number in the list or by the start of its label.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace tessel::cli {

// A size, or the text that says why the given one is none.
using SizeReading = std::variant<std::int64_t, std::string>;

// SIZE as a number of bytes: a whole number from 1, optionally followed by a unit, read in any
// case: K, M, G, T, KiB, MiB, GiB and TiB are powers of 1024; kB, MB, GB and TB powers of 1000;
// B is one byte.
SizeReading ReadSize(std::string_view text);

// The preset that `text` names: its number in the list (1 for the first), or a start of its
// label, in any case, that fits no other label, or else that ends a word of one label only
// ("CD-R" is not "CD-ROM"). "Custom" is no size. Gives the preset's size in bytes.
SizeReading ReadPreset(std::string_view text);

// The presets that give a size, one a line, numbered as --preset takes them.
std::string PresetList();

// The text of --help that says how SIZE is read.
std::string SizeHelp();

// Whether a reading holds a size; the size, or the problem.
inline bool IsSize(const SizeReading& reading) {
    return std::holds_alternative<std::int64_t>(reading);
}

}  // namespace tessel::cli
