#include "engine/copy_loop.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace tessel {
namespace {

// Progress is told after this many bytes at least, and at the end of every copy.
constexpr std::int64_t kProgressStepBytes = std::int64_t{16} << 20;
// A copy inside the kernel goes in slices of this size, so that a cancel is seen soon.
constexpr std::int64_t kKernelSliceBytes = std::int64_t{4} << 20;

}  // namespace

// Hashes filled buffers on its own thread, in the order they were handed over, while the copying
// thread reads and writes the next ones. A buffer is free again once it has been hashed; the
// copying thread has written it by then, since it writes a buffer before it asks for another.
class CopyLoop::Hasher {
  public:
    Hasher() : buffers_(new std::byte[kCopyBuffers * kCopyBufferBytes]), free_(kCopyBuffers, true) {
        worker_ = std::thread([this] { Work(); });
    }

    ~Hasher() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        worker_.join();
    }

    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;

    // Waits for a free buffer and takes it.
    std::size_t Acquire() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return std::ranges::find(free_, true) != free_.end(); });
        const auto index = static_cast<std::size_t>(std::ranges::find(free_, true) - free_.begin());
        free_[index] = false;
        return index;
    }

    std::span<std::byte> Buffer(std::size_t index) {
        return {buffers_.get() + index * kCopyBufferBytes, kCopyBufferBytes};
    }

    // Hands the first `length` bytes of a taken buffer over to be hashed, then freed.
    void Submit(std::size_t index, std::size_t length) {
        {
            const std::lock_guard lock(mutex_);
            queue_.push_back({index, length});
        }
        changed_.notify_all();
    }

    // Frees a taken buffer without hashing it.
    void Release(std::size_t index) {
        {
            const std::lock_guard lock(mutex_);
            free_[index] = true;
        }
        changed_.notify_all();
    }

    // Ends one piece: once the buffers handed over before are hashed, their digest is kept
    // for TakeDigest, and hashing starts anew. With `keep` false the digest is dropped (after a
    // copy that did not end well).
    void EndPiece(bool keep) {
        {
            const std::lock_guard lock(mutex_);
            queue_.push_back({keep ? Job::kKeepDigest : Job::kDropDigest, 0});
        }
        changed_.notify_all();
    }

    // The digest of the earliest piece ended and kept, once it is worked out.
    Digest TakeDigest() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !digests_.empty(); });
        const Digest digest = digests_.front();
        digests_.pop_front();
        return digest;
    }

  private:
    struct Job {
        static constexpr std::size_t kKeepDigest = SIZE_MAX;
        static constexpr std::size_t kDropDigest = SIZE_MAX - 1;
        std::size_t index;  // a buffer, or one of the two ends of a piece
        std::size_t length;
    };

    void Work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;  // stopping, and nothing left
            const Job job = queue_.front();
            queue_.pop_front();
            lock.unlock();
            if (job.index == Job::kKeepDigest || job.index == Job::kDropDigest) {
                const Digest digest = sha_.Finish();
                lock.lock();
                if (job.index == Job::kKeepDigest) digests_.push_back(digest);
            } else {
                sha_.Update(Buffer(job.index).first(job.length));
                lock.lock();
                free_[job.index] = true;
            }
            changed_.notify_all();
        }
    }

    std::unique_ptr<std::byte[]> buffers_;
    std::vector<bool> free_;
    std::deque<Job> queue_;
    std::deque<Digest> digests_;
    bool stopping_ = false;
    Sha256 sha_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread worker_;
};

CopyLoop::CopyLoop(std::int64_t totalBytes, const OperationControl& control, bool hashing,
                   std::int64_t doneBefore)
    : total_(totalBytes), done_(doneBefore), lastTold_(doneBefore), control_(control) {
    if (hashing)
        hasher_ = std::make_unique<Hasher>();
    else
        plainBuffer_.reset(new std::byte[kCopyBufferBytes]);
}

CopyLoop::~CopyLoop() = default;

CopyStatus CopyLoop::Copy(platform::File& from, platform::File& to, std::int64_t count) {
    CopyStatus status;
    if (hasher_ == nullptr) {
        bool unsupported = false;
        status = CopyInKernel(from, to, count, unsupported);
        if (unsupported) status = CopyThroughBuffers(from, to, count);
    } else {
        status = CopyThroughBuffers(from, to, count);
        hasher_->EndPiece(status == CopyStatus::Done);
    }
    if (control_.progress && done_ != lastTold_) {
        lastTold_ = done_;
        control_.progress(done_, std::max(total_, done_));
    }
    return status;
}

Digest CopyLoop::NextDigest() {
    return hasher_ ? hasher_->TakeDigest() : Digest{};
}

// Where both files lie on one file system the kernel copies without the bytes passing through
// the process, and file systems that share extents copy almost nothing at all.
CopyStatus CopyLoop::CopyInKernel(platform::File& from, platform::File& to, std::int64_t count,
                                  bool& unsupported) {
    std::int64_t copied = 0;
    while (copied < count) {
        if (control_.Cancelled()) return CopyStatus::Cancelled;
        const auto slice = std::min(count - copied, kKernelSliceBytes);
        const auto step = to.CopyInKernelFrom(from, slice);
        if (step.status == platform::KernelCopy::Status::Unsupported) {
            unsupported = copied == 0;
            return unsupported ? CopyStatus::Done : CopyStatus::OutputFailed;
        }
        copied += step.copied;
        Advance(step.copied);
        if (step.status == platform::KernelCopy::Status::Failed) return CopyStatus::OutputFailed;
        if (step.copied < slice) return CopyStatus::InputShort;
    }
    return CopyStatus::Done;
}

CopyStatus CopyLoop::CopyThroughBuffers(platform::File& from, platform::File& to,
                                        std::int64_t count) {
    std::int64_t copied = 0;
    while (copied < count) {
        if (control_.Cancelled()) return CopyStatus::Cancelled;
        const std::size_t index = hasher_ ? hasher_->Acquire() : 0;
        const auto buffer = hasher_ ? hasher_->Buffer(index)
                                    : std::span<std::byte>(plainBuffer_.get(), kCopyBufferBytes);
        const auto want =
            static_cast<std::size_t>(std::min<std::int64_t>(count - copied, std::ssize(buffer)));
        const auto got = from.Read(buffer.first(want));
        if (!got || *got == 0) {
            if (hasher_) hasher_->Release(index);
            return got ? CopyStatus::InputShort : CopyStatus::InputFailed;
        }
        if (hasher_) hasher_->Submit(index, *got);
        if (!to.Write(buffer.first(*got))) return CopyStatus::OutputFailed;
        copied += static_cast<std::int64_t>(*got);
        Advance(static_cast<std::int64_t>(*got));
    }
    return CopyStatus::Done;
}

void CopyLoop::Advance(std::int64_t bytes) {
    done_ += bytes;
    if (control_.progress && done_ - lastTold_ >= kProgressStepBytes) {
        lastTold_ = done_;
        control_.progress(done_, std::max(total_, done_));
    }
}

}  // namespace tessel
