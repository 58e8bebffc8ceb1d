#include "cli/piece_size.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <limits>
#include <optional>
#include <vector>

#include "engine/shared_settings.h"
#include "ui/field_text.h"

namespace tessel::cli {
namespace {

struct Unit {
    std::string_view name;
    std::int64_t bytes;
};

constexpr std::int64_t kKibi = 1024;
constexpr std::int64_t kKilo = 1000;
// Compared in any case: "k", "mb" and "GiB" all name a unit.
constexpr std::array<Unit, 13> kUnits = {{
    {"B", 1},
    {"K", kKibi},
    {"M", kKibi* kKibi},
    {"G", kKibi* kKibi* kKibi},
    {"T", kKibi* kKibi* kKibi* kKibi},
    {"KiB", kKibi},
    {"MiB", kKibi* kKibi},
    {"GiB", kKibi* kKibi* kKibi},
    {"TiB", kKibi* kKibi* kKibi* kKibi},
    {"kB", kKilo},
    {"MB", kKilo* kKilo},
    {"GB", kKilo* kKilo* kKilo},
    {"TB", kKilo* kKilo* kKilo* kKilo},
}};

// The last entry of the list is "Custom", which lets the user type a size: no size of its own.
constexpr std::size_t kSizedPresets = ui::kPresetEntries.size() - 1;

bool SameInAnyCase(std::string_view one, std::string_view two) {
    return std::ranges::equal(one, two, [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
}

std::optional<std::int64_t> UnitBytes(std::string_view name) {
    for (const Unit& unit : kUnits)
        if (SameInAnyCase(unit.name, name)) return unit.bytes;
    return std::nullopt;
}

// The digits at the start of `text` as a number, and where they end; nothing without digits
// or when the number does not fit.
std::optional<std::int64_t> LeadingNumber(std::string_view text, std::size_t& end) {
    std::int64_t value = 0;
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || stop == text.data() || text.front() == '-') return std::nullopt;
    end = static_cast<std::size_t>(stop - text.data());
    return value;
}

// 'text', as the messages quote what the user gave. Built by appending: GCC 12 takes a
// literal + std::string for an overlapping copy when it optimises.
std::string Quoted(std::string_view text) {
    std::string quoted(1, '\'');
    quoted.append(text);
    quoted += '\'';
    return quoted;
}

// "a, b, c" from the texts.
std::string Listed(const std::vector<std::string_view>& texts) {
    std::string list;
    for (const auto text : texts) {
        if (!list.empty()) list += ", ";
        list.append(text);
    }
    return list;
}

std::string NotASize(std::string_view text) {
    std::vector<std::string_view> units;
    for (const Unit& unit : kUnits)
        if (unit.bytes > 1) units.push_back(unit.name);
    return Quoted(text) + " is not a size: give a whole number of bytes, optionally with a unit (" +
           Listed(units) + ")";
}

// A preset's label: its entry without the size and the blanks before it.
std::string_view Label(std::string_view entry) {
    const std::string size = ui::PresetSizeText(entry);
    entry.remove_suffix(size.size());
    return entry.substr(0, entry.find_last_not_of(' ') + 1);
}

std::int64_t PresetBytes(std::size_t index) {
    return ui::ParseChunkSize(ui::PresetSizeText(ui::kPresetEntries[index])).value_or(0);
}

SizeReading Preset(std::size_t index) {
    if (index >= kSizedPresets)
        return Quoted(Label(ui::kPresetEntries[index])) +
               " is no size of its own: give --size instead";
    return PresetBytes(index);
}

bool StartsInAnyCase(std::string_view text, std::string_view start) {
    return text.size() >= start.size() && SameInAnyCase(text.substr(0, start.size()), start);
}

// Whether `start` ends where a word of `label` ends.
bool EndsAWord(std::string_view label, std::string_view start) {
    return label.size() == start.size() ||
           !std::isalnum(static_cast<unsigned char>(label[start.size()]));
}

SizeReading PresetByNumber(std::string_view text, std::int64_t number) {
    if (number < 1 || number > std::ssize(ui::kPresetEntries))
        return std::string("there is no preset ").append(text) + ": choose 1 to " +
               std::to_string(kSizedPresets) + ", or the start of a label";
    return Preset(static_cast<std::size_t>(number - 1));
}

SizeReading PresetByLabel(std::string_view text) {
    std::vector<std::size_t> starting, wordEnding;
    for (std::size_t i = 0; i < ui::kPresetEntries.size(); ++i) {
        const auto label = Label(ui::kPresetEntries[i]);
        if (!StartsInAnyCase(label, text)) continue;
        starting.push_back(i);
        if (EndsAWord(label, text)) wordEnding.push_back(i);
    }
    if (starting.size() == 1) return Preset(starting.front());
    if (wordEnding.size() == 1) return Preset(wordEnding.front());
    if (starting.empty()) return "no preset's label starts with " + Quoted(text);
    std::vector<std::string_view> labels;
    for (const std::size_t i : starting) labels.push_back(Label(ui::kPresetEntries[i]));
    return Quoted(text) + " starts more than one preset's label: " + Listed(labels);
}

}  // namespace

SizeReading ReadSize(std::string_view text) {
    std::size_t end = 0;
    const auto number = text.empty() ? std::nullopt : LeadingNumber(text, end);
    if (!number) return NotASize(text);
    const auto unit =
        end == text.size() ? std::optional<std::int64_t>(1) : UnitBytes(text.substr(end));
    if (!unit) return NotASize(text);
    if (*number == 0) return "the size must be at least one byte";
    if (*number > std::numeric_limits<std::int64_t>::max() / *unit)
        return Quoted(text) + " is more bytes than a file can hold";
    return *number * *unit;
}

SizeReading ReadPreset(std::string_view text) {
    std::size_t end = 0;
    if (const auto number = text.empty() ? std::nullopt : LeadingNumber(text, end);
        number && end == text.size())
        return PresetByNumber(text, *number);
    if (text.empty()) return std::string("--preset needs a number or the start of a label");
    return PresetByLabel(text);
}

std::string PresetList() {
    std::string list;
    for (std::size_t i = 0; i < kSizedPresets; ++i) {
        const std::string number = std::to_string(i + 1);
        list += std::string(4 - number.size(), ' ') + number + "  " +
                std::string(ui::kPresetEntries[i]) + "\n";
    }
    return list;
}

std::string SizeHelp() {
    constexpr std::int64_t kExample = 700;
    return "SIZE is a whole number of bytes, optionally with a unit in any case:\n"
           "  K, M, G, T or KiB, MiB, GiB, TiB   powers of 1024: 700M is " +
           std::to_string(kExample * kKibi * kKibi) +
           " bytes\n"
           "  kB, MB, GB, TB                     powers of 1000: 700MB is " +
           std::to_string(kExample * kKilo * kKilo) +
           " bytes\n"
           "Without --size or --preset the pieces are " +
           std::to_string(kDefaultChunkSize) + " bytes.\n";
}

}  // namespace tessel::cli
