// PresetSizeText on random list entries. Any entry gives a blank-free piece of its last ten
// characters; an entry laid out as the preset list lays them out (a label, blanks, and digits
// ending at the last column) gives exactly its digits, which read back as the size.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "ui/field_text.h"

namespace {

using tessel::fuzz::Require;

// The size stands in the last ten columns of an entry.
constexpr std::size_t kSizeColumns = 10;
constexpr std::uint64_t kLargestTenDigitSize = 9'999'999'999;
constexpr std::size_t kMaxBlanks = 60;

void CheckAnyEntry(std::string_view entry) {
    const std::string size = tessel::ui::PresetSizeText(entry);
    const std::string_view tail =
        entry.size() > kSizeColumns ? entry.substr(entry.size() - kSizeColumns) : entry;
    Require(size.size() <= kSizeColumns, "a size text is at most ten characters long");
    Require(tail.find(size) != std::string_view::npos, "a size text comes from the last columns");
    Require(size.empty() || (size.front() != ' ' && size.back() != ' '),
            "a size text has no blanks at its ends");
    Require(!size.empty() || tail.find_first_not_of(' ') == std::string_view::npos,
            "only blank last columns give an empty size text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const auto bytes = input.ConsumeIntegralInRange<std::uint64_t>(0, kLargestTenDigitSize);
    const auto blanks = input.ConsumeIntegralInRange<std::size_t>(0, kMaxBlanks);
    const std::string label = input.ConsumeRemainingBytesAsString();
    const std::string digits = std::to_string(bytes);
    const std::string entry = label + std::string(blanks, ' ') + digits;

    CheckAnyEntry(label);
    CheckAnyEntry(entry);
    if (blanks + digits.size() >= kSizeColumns) {
        Require(tessel::ui::PresetSizeText(entry) == digits,
                "a laid-out entry gives its digits as the size text");
        const auto parsed = tessel::ui::ParseChunkSize(tessel::ui::PresetSizeText(entry));
        Require(parsed.has_value() && static_cast<std::uint64_t>(*parsed) == bytes,
                "a preset's size text reads back as its size");
    }
    return 0;
}
