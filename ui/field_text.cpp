#include "ui/field_text.h"

#include <charconv>

namespace tessel::ui {
namespace {

constexpr std::size_t kPresetSizeColumns = 10;

std::string_view TrimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

}  // namespace

std::string CutAtNul(std::string_view text) {
    return std::string(text.substr(0, text.find('\0')));
}

bool IsBlank(std::string_view text) {
    return text.find_first_not_of(" \t") == std::string_view::npos;
}

std::optional<std::int64_t> ParseChunkSize(std::string_view text) {
    text = TrimBlanks(text);  // blanks typed around the digits are forgiven
    // from_chars takes no "+", so a leading plus is stepped over here (a lone sign stays refused).
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
    std::int64_t value = 0;
    const auto* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end) return std::nullopt;
    return value;
}

std::string PresetSizeText(std::string_view entry) {
    const auto tail =
        entry.size() > kPresetSizeColumns ? entry.substr(entry.size() - kPresetSizeColumns) : entry;
    return std::string(TrimBlanks(tail));
}

}  // namespace tessel::ui
