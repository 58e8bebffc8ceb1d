// CutAtNul on random field texts: the result is the text up to, not including, its first NUL.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "ui/field_text.h"

using tessel::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string cut = tessel::ui::CutAtNul(text);
    Require(text.starts_with(cut), "the cut text is the start of the text");
    Require(cut.find('\0') == std::string::npos, "the cut text holds no NUL");
    Require(cut.size() == text.size() || text[cut.size()] == '\0',
            "the text is cut at a NUL or not at all");
    Require(tessel::ui::CutAtNul(cut) == cut, "cutting twice changes nothing");
    return 0;
}
