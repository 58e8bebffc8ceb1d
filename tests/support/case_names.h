// Names for the cases of a value-parameterised test, in the letters, digits and '_' GoogleTest
// allows, so that each case is a CTest entry of its own whose name says which case it is.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

namespace tessel::testing {

inline bool IsNameCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 && static_cast<unsigned char>(c) < 0x80;
}

// "piece 2 cannot be opened" gives "Piece2CannotBeOpened": each word begun with a capital,
// whatever is not a letter or a digit left out.
inline std::string CamelCase(std::string_view words) {
    std::string name;
    bool wordStarts = true;
    for (const char c : words) {
        if (c == '\'') continue;  // "target's" is one word
        if (!IsNameCharacter(c)) {
            wordStarts = true;
            continue;
        }
        name += wordStarts ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        wordStarts = false;
    }
    return name.empty() ? "Empty" : name;
}

// A text where every byte counts (a field, a file name), kept whole in the name: letters and
// digits as they are, a blank as '_', the usual signs spelled out ("." gives "Dot"), any other
// byte in hex ("\xc3" gives "xC3"); "Empty" for no text at all.
inline std::string SpelledOut(std::string_view text) {
    static constexpr std::pair<char, const char*> kSigns[] = {
        {' ', "_"},     {'.', "Dot"},     {'/', "Slash"}, {'\\', "Backslash"}, {'-', "Dash"},
        {'+', "Plus"},  {'%', "Percent"}, {'"', "Quote"}, {'\'', "Tick"},      {'&', "Amp"},
        {':', "Colon"}, {'(', "Open"},    {')', "Close"}, {'~', "Tilde"},      {'_', "Underscore"}};
    std::string name;
    for (const char c : text) {
        if (IsNameCharacter(c)) {
            name += c;
            continue;
        }
        const char* spelled = nullptr;
        for (const auto& [sign, word] : kSigns)
            if (sign == c) spelled = word;
        if (spelled != nullptr) {
            name += spelled;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "x%02X", static_cast<unsigned char>(c));
            name += hex;
        }
    }
    return name.empty() ? "Empty" : name;
}

// The name generator for cases that say what they are in a field `what`.
struct NamedByWhat {
    template <typename Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
        return CamelCase(info.param.what);
    }
};

}  // namespace tessel::testing
