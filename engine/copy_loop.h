// The one copy loop of the split and the join: it moves a piece's bytes between two open files,
// hashes them on a second thread as they pass, tells progress, stops when cancelled, and says
// how the copy ended in one way for both operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/checksum.h"
#include "engine/progress.h"
#include "platform/file_system.h"

namespace tessel {

// The buffers a copy passes through, whatever the piece size: memory stays bounded while reads
// and writes stay large enough to run at the medium's speed.
inline constexpr std::size_t kCopyBufferBytes = std::size_t{1} << 20;
inline constexpr std::size_t kCopyBuffers = 4;

enum class CopyStatus {
    Done,          // every byte asked for was copied
    InputShort,    // the source ended early
    InputFailed,   // the source could not be read
    OutputFailed,  // the destination could not be written
    Cancelled,     // the caller's cancel flag was set
};

class CopyLoop {
  public:
    // `totalBytes` is what the whole operation copies, for progress, of which `doneBefore` were
    // done by an earlier loop. With `hashing` on, every copy also gives the SHA-256 of its bytes.
    CopyLoop(std::int64_t totalBytes, const OperationControl& control, bool hashing,
             std::int64_t doneBefore = 0);
    ~CopyLoop();
    CopyLoop(const CopyLoop&) = delete;
    CopyLoop& operator=(const CopyLoop&) = delete;

    // Copies exactly `count` bytes from `from`'s position to `to`'s. With hashing on, the
    // SHA-256 of a copy that is Done is worked out meanwhile, for NextDigest.
    CopyStatus Copy(platform::File& from, platform::File& to, std::int64_t count);
    // The SHA-256 of the earliest Done copy whose digest has not been taken yet, waiting for the
    // hashing thread where it is still at work. Taking it late lets the hashing overlap whatever
    // the caller does next: flushing the piece, copying the next one.
    Digest NextDigest();

  private:
    class Hasher;

    CopyStatus CopyInKernel(platform::File& from, platform::File& to, std::int64_t count,
                            bool& unsupported);
    CopyStatus CopyThroughBuffers(platform::File& from, platform::File& to, std::int64_t count);
    void Advance(std::int64_t bytes);

    std::int64_t total_;
    std::int64_t done_ = 0;
    std::int64_t lastTold_ = 0;
    const OperationControl& control_;
    std::unique_ptr<Hasher> hasher_;            // only with hashing on
    std::unique_ptr<std::byte[]> plainBuffer_;  // only with hashing off
};

}  // namespace tessel
