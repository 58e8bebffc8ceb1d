// Streams bytes from one open file into another through one bounded buffer, telling the caller
// how far the whole operation has come.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/progress.h"
#include "platform/file_system.h"

namespace tessel {

// The one buffer a split or join copies through, whatever the piece size: memory stays bounded
// while reads and writes stay large enough to run at the medium's speed.
inline constexpr std::size_t kCopyBufferBytes = std::size_t{1} << 20;

class StreamCopier {
  public:
    StreamCopier(std::int64_t totalBytes, const ProgressCallback& progress);

    // Copies up to `count` bytes; fewer with status Ok means the source ended.
    platform::CopyResult Copy(platform::File& from, platform::File& to, std::int64_t count);

  private:
    std::vector<std::byte> buffer_;
    std::int64_t total_;
    std::int64_t done_ = 0;
    const ProgressCallback& progress_;
};

}  // namespace tessel
