// What a caller hands a long split or join: where to tell how far it has come, and a flag that
// stops it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace tessel {

// Told, as a split or join copies, how many of its bytes are done; may be empty.
using ProgressCallback = std::function<void(std::int64_t done, std::int64_t total)>;

struct OperationControl {
    ProgressCallback progress;                  // called on the thread doing the work
    const std::atomic<bool>* cancel = nullptr;  // set by anyone to stop the work soon

    bool Cancelled() const { return cancel != nullptr && cancel->load(std::memory_order_relaxed); }
};

}  // namespace tessel
