#include "engine/copy_loop.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace tessel {
namespace {

// Progress is told after this many bytes at least, and at the start of every copy.
constexpr std::int64_t kProgressStepBytes = std::int64_t{16} << 20;
// A copy inside the kernel goes in slices of this size, so that a cancel is seen soon and the
// hashing of a piece can start on its first bytes.
constexpr std::int64_t kKernelSliceBytes = std::int64_t{4} << 20;
// What a hashing thread reads again of a copy at a time: always this much but for the last
// part, so that the same copy is read in the same calls every time (fault sweeps count them).
constexpr std::size_t kReadBackBytes = std::size_t{256} << 10;
// No more hashing threads than this, however many cores: each holds a buffer.
constexpr int kMostHashingThreads = 16;

}  // namespace

int CopyLoop::CoresToHashOn() {
    const auto cores = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(cores, 1, kMostHashingThreads);
}

// Hashes copies on threads of their own, each copy's bytes in order on one thread (a SHA-256
// runs through its bytes in order) and the copies side by side, copy n on thread n mod the
// threads, so that every thread's calls come in the same order from one run to the next.
// Its bytes come either read again from where the copy wrote them, as they land, or in the
// buffers the copying thread fills and writes ("fed").
class CopyLoop::Hashers {
  public:
    struct Job {
        std::int64_t ordinal = 0;  // the copy's place among the copies
        WrittenAt from;            // read again from here; with no file, fed
        std::int64_t available = 0;
        std::deque<std::pair<std::size_t, std::size_t>> fed;  // buffer and length, in order
        bool ended = false;                                   // no more bytes will come
        bool abandoned = false;
        bool started = false;
        bool finished = false;
        bool whole = false;
        Digest digest{};
    };
    using JobPointer = std::shared_ptr<Job>;

    explicit Hashers(const OperationControl& control)
        : control_(control),
          threads_(CoresToHashOn()),
          queues_(threads_),
          free_(kCopyBuffers, true) {
        for (int t = 0; t < threads_; ++t) {
            readBuffers_.emplace_back(new std::byte[kReadBackBytes]);
            hashes_.push_back(std::make_unique<Sha256>());
        }
        for (int t = 0; t < threads_; ++t) workers_.emplace_back([this, t] { Work(t); });
    }

    ~Hashers() {
        AbandonAll();
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        for (auto& worker : workers_) worker.join();
    }

    Hashers(const Hashers&) = delete;
    Hashers& operator=(const Hashers&) = delete;

    int Threads() const { return threads_; }
    void Observe(Observer observer) { observer_ = std::move(observer); }
    bool ObserverFailed() const {
        const std::lock_guard lock(mutex_);
        return observerFailed_;
    }

    // A new copy to hash, its digest wanted once it ends well.
    JobPointer Begin(std::int64_t ordinal, WrittenAt from) {
        auto job = std::make_shared<Job>();
        job->ordinal = ordinal;
        job->from = from;
        {
            const std::lock_guard lock(mutex_);
            queues_[static_cast<std::size_t>(ordinal % threads_)].push_back(job);
            kept_.push_back(job);
        }
        changed_.notify_all();
        return job;
    }

    // `bytes` more of a read-again copy stand in its file.
    void Landed(Job& job, std::int64_t bytes) {
        {
            const std::lock_guard lock(mutex_);
            job.available += bytes;
        }
        changed_.notify_all();
    }

    // Waits for a free buffer and takes it.
    std::size_t Acquire() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return std::ranges::find(free_, true) != free_.end(); });
        const auto index = static_cast<std::size_t>(std::ranges::find(free_, true) - free_.begin());
        free_[index] = false;
        if (buffers_ == nullptr) buffers_.reset(new std::byte[kCopyBuffers * kCopyBufferBytes]);
        return index;
    }

    std::span<std::byte> Buffer(std::size_t index) {
        return {buffers_.get() + index * kCopyBufferBytes, kCopyBufferBytes};
    }

    // Hands the first `length` bytes of a taken buffer to a fed copy, to be hashed, then freed.
    void Feed(Job& job, std::size_t index, std::size_t length) {
        {
            const std::lock_guard lock(mutex_);
            if (job.abandoned || job.finished)
                free_[index] = true;  // it stopped (cancelled): the bytes go unhashed
            else
                job.fed.emplace_back(index, length);
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

    // No more bytes come for the copy. With `keep` false (a copy that did not end well) its
    // digest is dropped, and once this returns no thread touches its file any more.
    void End(const JobPointer& job, bool keep) {
        std::unique_lock lock(mutex_);
        job->ended = true;
        if (!keep) {
            std::erase(kept_, job);
            Drop(*job);
            changed_.notify_all();
            changed_.wait(lock, [&] { return job->finished; });
        }
        changed_.notify_all();
    }

    // The digest of the earliest copy kept, once it is worked out; nothing when it could not be.
    std::optional<Digest> Take() {
        std::unique_lock lock(mutex_);
        if (kept_.empty()) return std::nullopt;
        const JobPointer job = kept_.front();
        changed_.wait(lock, [&] { return job->finished; });
        kept_.pop_front();
        return job->whole ? std::optional(job->digest) : std::nullopt;
    }

    // Every copy stops being hashed; returns once no thread works on any.
    void AbandonAll() {
        std::unique_lock lock(mutex_);
        kept_.clear();
        for (auto& queue : queues_)
            for (const auto& job : std::vector(queue.begin(), queue.end())) Drop(*job);
        changed_.notify_all();
        changed_.wait(lock, [this] {
            return std::ranges::all_of(queues_, [](const auto& queue) { return queue.empty(); });
        });
    }

  private:
    // Under the lock: a copy not started yet leaves its thread's queue at once; one under way
    // is told to stop. Its fed buffers are freed either way.
    void Drop(Job& job) {
        job.abandoned = true;
        FreeFed(job);
        if (job.started || job.finished) return;
        auto& queue = queues_[static_cast<std::size_t>(job.ordinal % threads_)];
        std::erase_if(queue, [&](const JobPointer& queued) { return queued.get() == &job; });
        job.finished = true;
    }

    void FreeFed(Job& job) {
        for (const auto& [index, length] : job.fed) free_[index] = true;
        job.fed.clear();
    }

    void Work(int thread) {
        auto& queue = queues_[static_cast<std::size_t>(thread)];
        for (;;) {
            JobPointer job;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stopping_ || !queue.empty(); });
                if (queue.empty()) return;
                job = queue.front();
                job->started = true;
            }
            const bool whole = Hash(*job, thread);
            const Digest digest = hashes_[static_cast<std::size_t>(thread)]->Finish();
            {
                const std::lock_guard lock(mutex_);
                job->whole = whole && !job->abandoned;
                job->digest = digest;
                FreeFed(*job);  // what came after the hashing stopped
                job->finished = true;
                queue.pop_front();
            }
            changed_.notify_all();
        }
    }

    // Under the lock: whether the job has bytes for its thread, or has ended.
    static bool Ready(const Job& job, std::int64_t offset) {
        if (job.abandoned || job.ended) return true;
        if (job.from.file == nullptr) return !job.fed.empty();
        return job.available - offset >= static_cast<std::int64_t>(kReadBackBytes);
    }

    // Runs the job's bytes through the thread's hash; false when they could not all be had.
    bool Hash(Job& job, int thread) {
        auto& sha = *hashes_[static_cast<std::size_t>(thread)];
        const std::span<std::byte> readBuffer(readBuffers_[static_cast<std::size_t>(thread)].get(),
                                              kReadBackBytes);
        for (std::int64_t offset = 0;;) {
            std::optional<std::size_t> fedBuffer;
            std::span<std::byte> bytes;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return Ready(job, offset); });
                if (job.abandoned) return false;
                if (job.from.file == nullptr) {
                    if (job.fed.empty()) return true;
                    const auto [index, length] = job.fed.front();
                    job.fed.pop_front();
                    fedBuffer = index;
                    bytes = Buffer(index).first(length);
                } else {
                    const std::int64_t left = job.available - offset;
                    if (left == 0) return true;
                    bytes = readBuffer.first(static_cast<std::size_t>(
                        std::min<std::int64_t>(left, std::ssize(readBuffer))));
                }
            }
            const bool ok = !control_.Cancelled() && (fedBuffer || ReadAgain(job, offset, bytes));
            if (ok) {
                sha.Update(bytes);
                Tell(job.ordinal, offset, bytes);
                offset += std::ssize(bytes);
            }
            if (fedBuffer) Release(*fedBuffer);
            if (!ok) return false;
        }
    }

    static bool ReadAgain(const Job& job, std::int64_t offset, std::span<std::byte> into) {
        return job.from.file->ReadAt(into, job.from.offset + offset) == into.size();
    }

    void Tell(std::int64_t ordinal, std::int64_t offset, std::span<const std::byte> bytes) {
        if (!observer_) return;
        const bool observed = observer_(ordinal, offset, bytes);
        const std::lock_guard lock(mutex_);
        observerFailed_ = observerFailed_ || !observed;
    }

    const OperationControl& control_;
    const int threads_;
    std::vector<std::deque<JobPointer>> queues_;  // each thread's copies, in order
    std::deque<JobPointer> kept_;                 // copies whose digests are wanted, in order
    std::unique_ptr<std::byte[]> buffers_;        // the fed buffers, made when first needed
    std::vector<bool> free_;
    std::vector<std::unique_ptr<std::byte[]>> readBuffers_;  // one for each thread
    std::vector<std::unique_ptr<Sha256>> hashes_;            // one for each thread
    Observer observer_;
    bool observerFailed_ = false;
    bool stopping_ = false;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::thread> workers_;
};

CopyLoop::CopyLoop(std::int64_t totalBytes, const OperationControl& control, bool hashing,
                   std::int64_t doneBefore)
    : total_(totalBytes), done_(doneBefore), lastTold_(doneBefore), control_(control) {
    if (hashing) hashers_ = std::make_unique<Hashers>(control);
}

CopyLoop::~CopyLoop() = default;

CopyStatus CopyLoop::Copy(platform::File& from, platform::File& to, std::int64_t count,
                          WrittenAt written) {
    TellProgress();
    const std::int64_t ordinal = copies_++;
    const bool readAgain = hashers_ && written.file != nullptr && !kernelRefused_;
    if (hashers_ && !readAgain) return CopyFeeding(from, to, count, ordinal);
    Hashers::JobPointer job;
    if (readAgain) job = hashers_->Begin(ordinal, written);
    const auto landed = [&](std::int64_t bytes) {
        if (job) hashers_->Landed(*job, bytes);
        Advance(bytes);
    };
    std::int64_t copied = 0;
    auto status = CopyInKernel(from, to, count, copied, landed);
    if (!status && job) {
        // Not a byte moved: the copy starts again through the fed buffers.
        hashers_->End(job, false);
        return CopyFeeding(from, to, count, ordinal);
    }
    // A kernel copy that comes up short says only that the source may have ended: reading on
    // tells. Bytes written so are read again like the kernel's.
    if (!status || *status == CopyStatus::InputShort)
        status = CopyThroughBuffer(from, to, count - copied, landed);
    if (job) hashers_->End(job, *status == CopyStatus::Done);
    return *status;
}

std::optional<Digest> CopyLoop::NextDigest() {
    return hashers_ ? hashers_->Take() : std::nullopt;
}

int CopyLoop::HashingThreads() const {
    return hashers_ ? hashers_->Threads() : 0;
}

void CopyLoop::TellProgress() {
    const std::int64_t done = std::min(done_, held_);
    if (control_.progress && done != lastTold_) {
        lastTold_ = done;
        control_.progress(done, std::max(total_, done_));
    }
}

void CopyLoop::HoldProgressAt(std::int64_t bytes) {
    held_ = bytes;
}

void CopyLoop::Abandon() {
    if (hashers_) hashers_->AbandonAll();
}

void CopyLoop::Observe(Observer observer) {
    if (hashers_) hashers_->Observe(std::move(observer));
}

bool CopyLoop::ObserverFailed() const {
    return hashers_ && hashers_->ObserverFailed();
}

// The copying thread reads into the fed buffers and writes them, a hashing thread hashes them
// meanwhile.
CopyStatus CopyLoop::CopyFeeding(platform::File& from, platform::File& to, std::int64_t count,
                                 std::int64_t ordinal) {
    const auto job = hashers_->Begin(ordinal, {});
    const auto end = [&](CopyStatus status) {
        hashers_->End(job, status == CopyStatus::Done);
        return status;
    };
    for (std::int64_t copied = 0; copied < count;) {
        if (control_.Cancelled()) return end(CopyStatus::Cancelled);
        const std::size_t index = hashers_->Acquire();
        const auto buffer = hashers_->Buffer(index);
        const auto want =
            static_cast<std::size_t>(std::min<std::int64_t>(count - copied, std::ssize(buffer)));
        const auto got = from.Read(buffer.first(want));
        if (!got || *got == 0) {
            hashers_->Release(index);
            return end(got ? CopyStatus::InputShort : CopyStatus::InputFailed);
        }
        hashers_->Feed(*job, index, *got);
        if (!to.Write(buffer.first(*got))) return end(CopyStatus::OutputFailed);
        copied += static_cast<std::int64_t>(*got);
        Advance(static_cast<std::int64_t>(*got));
    }
    return end(CopyStatus::Done);
}

// Where both files lie on one file system the kernel copies without the bytes passing through
// the process, and file systems that share extents copy almost nothing at all. Nothing when the
// kernel cannot copy between these files: not a byte has moved then.
std::optional<CopyStatus> CopyLoop::CopyInKernel(platform::File& from, platform::File& to,
                                                 std::int64_t count, std::int64_t& copied,
                                                 const std::function<void(std::int64_t)>& landed) {
    if (kernelRefused_) return std::nullopt;
    while (copied < count) {
        if (control_.Cancelled()) return CopyStatus::Cancelled;
        const auto slice = std::min(count - copied, kKernelSliceBytes);
        const auto step = to.CopyInKernelFrom(from, slice);
        if (step.status == platform::KernelCopy::Status::Unsupported) {
            if (copied > 0) return CopyStatus::OutputFailed;
            kernelRefused_ = true;
            return std::nullopt;
        }
        copied += step.copied;
        landed(step.copied);
        if (step.status == platform::KernelCopy::Status::Failed) return CopyStatus::OutputFailed;
        if (step.copied < slice) return CopyStatus::InputShort;
    }
    return CopyStatus::Done;
}

CopyStatus CopyLoop::CopyThroughBuffer(platform::File& from, platform::File& to, std::int64_t count,
                                       const std::function<void(std::int64_t)>& landed) {
    if (plainBuffer_ == nullptr) plainBuffer_.reset(new std::byte[kCopyBufferBytes]);
    const std::span<std::byte> buffer(plainBuffer_.get(), kCopyBufferBytes);
    for (std::int64_t copied = 0; copied < count;) {
        if (control_.Cancelled()) return CopyStatus::Cancelled;
        const auto want =
            static_cast<std::size_t>(std::min<std::int64_t>(count - copied, std::ssize(buffer)));
        const auto got = from.Read(buffer.first(want));
        if (!got || *got == 0) return got ? CopyStatus::InputShort : CopyStatus::InputFailed;
        if (!to.Write(buffer.first(*got))) return CopyStatus::OutputFailed;
        copied += static_cast<std::int64_t>(*got);
        landed(static_cast<std::int64_t>(*got));
    }
    return CopyStatus::Done;
}

void CopyLoop::Advance(std::int64_t bytes) {
    done_ += bytes;
    if (std::min(done_, held_) - lastTold_ >= kProgressStepBytes) TellProgress();
}

}  // namespace tessel
