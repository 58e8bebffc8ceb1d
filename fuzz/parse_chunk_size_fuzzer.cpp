// ParseChunkSize on random field texts, against a plain model of what the field accepts: blanks
// at both ends, an optional sign, decimal digits, and a value in the signed 64-bit range. A
// text it takes reads back through std::to_string up to blanks, a plus sign and leading zeros.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "ui/field_text.h"

namespace {

using tessel::fuzz::Require;

constexpr std::string_view kDigits = "0123456789";
constexpr std::string_view kLargest = "9223372036854775807";
constexpr std::string_view kLargestNegated = "9223372036854775808";

// The number a well-formed text stands for, written as std::to_string writes it; nothing for a
// text that is not blanks, an optional sign, digits and blanks.
std::optional<std::string> CanonicalNumber(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return std::nullopt;
    text = text.substr(first, text.find_last_not_of(' ') - first + 1);
    const bool negative = text.front() == '-';
    if (text.front() == '-' || text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.find_first_not_of(kDigits) != std::string_view::npos)
        return std::nullopt;
    const auto significant = text.find_first_not_of('0');
    if (significant == std::string_view::npos) return "0";
    return (negative ? "-" : "") + std::string(text.substr(significant));
}

// Whether the canonical digits of a number lie outside the signed 64-bit range.
bool OutOfRange(std::string_view canonical) {
    const bool negative = canonical.front() == '-';
    if (negative) canonical.remove_prefix(1);
    const std::string_view limit = negative ? kLargestNegated : kLargest;
    if (canonical.size() != limit.size()) return canonical.size() > limit.size();
    return canonical > limit;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = tessel::ui::ParseChunkSize(text);
    const auto canonical = CanonicalNumber(text);
    if (parsed) {
        Require(canonical.has_value(), "only a blank-framed signed decimal number is taken");
        Require(*canonical == std::to_string(*parsed), "a number taken reads back unchanged");
    } else {
        Require(!canonical.has_value() || OutOfRange(*canonical),
                "every number in the signed 64-bit range is taken");
    }
    return 0;
}
