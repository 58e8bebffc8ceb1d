// Whether this is a build instrumented by sanitizers, where the heaviest cases are cut down.
#pragma once

#include <cstdlib>
#include <string_view>

namespace tessel::testing {

// The test script sets TESSEL_SANITIZED=1 for its instrumented builds.
inline bool Sanitized() {
    const char* value = std::getenv("TESSEL_SANITIZED");
    return value != nullptr && std::string_view(value) == "1";
}

}  // namespace tessel::testing
