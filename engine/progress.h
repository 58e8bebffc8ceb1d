#pragma once

#include <cstdint>
#include <functional>

namespace tessel {

// Told, as a split or join copies, how many of its bytes are done; may be empty.
using ProgressCallback = std::function<void(std::int64_t done, std::int64_t total)>;

}  // namespace tessel
