#include "engine/flush_thread.h"

#include <utility>

namespace tessel {

FlushThread::FlushThread() : worker_([this] { Work(); }) {}

FlushThread::~FlushThread() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

std::future<bool> FlushThread::Flush(platform::File& file) {
    std::promise<bool> flushed;
    auto result = flushed.get_future();
    {
        const std::lock_guard lock(mutex_);
        tasks_.push_back({&file, std::move(flushed)});
    }
    changed_.notify_all();
    return result;
}

void FlushThread::Finish() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return tasks_.empty() && !busy_; });
}

void FlushThread::Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty()) return;  // stopping, and nothing left
        Task task = std::move(tasks_.front());
        tasks_.pop_front();
        busy_ = true;
        lock.unlock();
        task.flushed.set_value(task.file->Flush());
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}

}  // namespace tessel
