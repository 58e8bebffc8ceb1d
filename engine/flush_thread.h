// Puts files on their medium one after another on a thread of its own, so that the work that
// follows a file (copying the next piece) goes on while the medium takes it.
#pragma once

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include "platform/file_system.h"

namespace tessel {

class FlushThread {
  public:
    FlushThread();
    // Finishes every flush it was given, then ends.
    ~FlushThread();
    FlushThread(const FlushThread&) = delete;
    FlushThread& operator=(const FlushThread&) = delete;

    // Flushes `file` after the files given before it; the future says whether it is on the
    // medium. The file must stay open until then.
    std::future<bool> Flush(platform::File& file);
    // Returns once every flush given so far has ended.
    void Finish();

  private:
    struct Task {
        platform::File* file;
        std::promise<bool> flushed;
    };

    void Work();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Task> tasks_;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace tessel
