// The one copy loop of the split and the join: it moves a piece's bytes between two open files,
// inside the kernel where it can, hashes them on threads of their own, one copy to a thread so
// that pieces are hashed side by side on every core, tells progress, stops when cancelled, and
// says how the copy ended in one way for both operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

#include "engine/checksum.h"
#include "engine/progress.h"
#include "platform/file_system.h"

namespace tessel {

// The buffers a copy passes through, whatever the piece size: memory stays bounded while reads
// and writes stay large enough to run at the medium's speed.
inline constexpr std::size_t kCopyBufferBytes = std::size_t{1} << 20;
inline constexpr std::size_t kCopyBuffers = 4;

// Takes the bytes of a copy and keeps none: the hashing of a check that writes nothing.
class Discard final : public platform::File {
  public:
    std::optional<std::size_t> Read(std::span<std::byte>) override { return std::nullopt; }
    bool Write(std::span<const std::byte>) override { return true; }
    std::optional<std::size_t> ReadAt(std::span<std::byte>, std::int64_t) override {
        return std::nullopt;
    }
    bool WriteAt(std::span<const std::byte>, std::int64_t) override { return true; }
    bool Flush() override { return true; }
    platform::EntryInfo Info() override { return {}; }
    bool Truncate(std::int64_t) override { return true; }
    bool SetPermissions(platform::Permissions) override { return true; }
};

enum class CopyStatus {
    Done,          // every byte asked for was copied
    InputShort,    // the source ended early
    InputFailed,   // the source could not be read
    OutputFailed,  // the destination could not be written
    Cancelled,     // the caller's cancel flag was set
};

// Where the bytes a copy writes can be read again once they stand there: an open file, and the
// place in it of the copy's first byte.
struct WrittenAt {
    platform::File* file = nullptr;
    std::int64_t offset = 0;
};

class CopyLoop {
  public:
    // `totalBytes` is what the whole operation copies, for progress, of which `doneBefore` were
    // done by an earlier loop. With `hashing` on, every copy also gives the SHA-256 of its bytes.
    CopyLoop(std::int64_t totalBytes, const OperationControl& control, bool hashing,
             std::int64_t doneBefore = 0);
    // Abandons the hashing still under way, as Abandon does.
    ~CopyLoop();
    CopyLoop(const CopyLoop&) = delete;
    CopyLoop& operator=(const CopyLoop&) = delete;

    // Copies exactly `count` bytes from `from`'s position to `to`'s. Where both files lie on one
    // file system the kernel copies them without their passing through the process (and file
    // systems that share extents copy almost nothing); else they pass through buffers.
    //
    // With hashing on, the SHA-256 of a copy that is Done is worked out meanwhile, for
    // NextDigest, and always of the bytes written: of the bytes as they pass through the buffers,
    // or, where the kernel copied them, of the bytes read again from `written` once they stand
    // there, never of the source. Another program may change the source between the kernel's copy
    // and a reading of it, and a digest of what was read would then vouch for bytes that were
    // never written: a split would list a digest its piece does not have, and a join would
    // report a file whole that is not. Without `written` a hashing copy goes through buffers.
    CopyStatus Copy(platform::File& from, platform::File& to, std::int64_t count,
                    WrittenAt written = {});

    // The SHA-256 of the earliest Done copy whose digest has not been taken yet, waiting for its
    // hashing where it is still at work; nothing where its bytes could not be read again whole,
    // or the operation was cancelled before they were hashed. Taking it late lets the hashing
    // overlap whatever the caller does next: flushing the piece, copying the next ones.
    std::optional<Digest> NextDigest();
    // How many copies are hashed at once: one to a core, at least one (none without hashing).
    int HashingThreads() const;
    // How many a hashing loop hashes at once on this machine.
    static int CoresToHashOn();

    // Tells the progress not told yet. It is told as the bytes are copied, after a few MiB at a
    // time, and the rest at the start of the next copy or here: a caller tells it once it has
    // done what follows a copy (written a piece's line), so that what it reports is done.
    void TellProgress();
    // Progress told goes no further than `bytes` (of the whole operation) until this is called
    // again: for a caller whose work lags behind the copies it has made.
    void HoldProgressAt(std::int64_t bytes);

    // Stops the hashing still under way and waits until no thread of the loop touches any file
    // a copy was given, nor calls the observer; digests not taken are lost.
    void Abandon();

    // Sees every byte a hashing copy writes, on the copy's hashing thread, each copy's bytes in
    // order: the copy's place among the copies (from 0), the bytes' offset in it, and the bytes.
    // Several copies are seen at once, on their threads: whatever the observer adds them into,
    // it must keep from being written by two at once. Returns false when what it did with them
    // failed.
    using Observer =
        std::function<bool(std::int64_t copy, std::int64_t offset, std::span<const std::byte>)>;
    // Set before the first copy; hashing must be on.
    void Observe(Observer observer);
    // Whether the observer failed on any bytes of the copies whose digests were taken.
    bool ObserverFailed() const;

  private:
    class Hashers;

    CopyStatus CopyFeeding(platform::File& from, platform::File& to, std::int64_t count,
                           std::int64_t ordinal);
    std::optional<CopyStatus> CopyInKernel(platform::File& from, platform::File& to,
                                           std::int64_t count, std::int64_t& copied,
                                           const std::function<void(std::int64_t)>& landed);
    CopyStatus CopyThroughBuffer(platform::File& from, platform::File& to, std::int64_t count,
                                 const std::function<void(std::int64_t)>& landed);
    void Advance(std::int64_t bytes);

    std::int64_t total_;
    std::int64_t done_ = 0;
    std::int64_t lastTold_ = 0;
    std::int64_t held_ = INT64_MAX;  // progress goes no further
    std::int64_t copies_ = 0;
    bool kernelRefused_ = false;  // the kernel refused to copy between these file systems
    const OperationControl& control_;
    std::unique_ptr<std::byte[]> plainBuffer_;  // for bytes no hashing thread is fed
    std::unique_ptr<Hashers> hashers_;          // only with hashing on
};

}  // namespace tessel
