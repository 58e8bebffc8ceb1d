// What every fuzz target does when an invariant breaks: say which one, then abort so that
// libFuzzer keeps the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace tessel::fuzz {

inline void Require(bool holds, std::string_view invariant) {
    if (holds) return;
    std::fprintf(stderr, "Invariant broken: %.*s\n", static_cast<int>(invariant.size()),
                 invariant.data());
    std::abort();
}

}  // namespace tessel::fuzz
