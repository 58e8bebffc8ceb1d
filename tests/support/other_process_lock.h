// A flock on a file held by a child process, as another program that has the file open holds it.
// flock() locks belong to an open file, so a lock in another process is what the engine meets
// when a second program works on the same file.
#pragma once

#include <sys/types.h>

#include <string>

#include "tests/support/child_process.h"

namespace tessel::testing {

class OtherProcessLock {
  public:
    enum class Kind { Shared, Exclusive };

    // Returns once the child holds the lock; throws when it cannot take it.
    explicit OtherProcessLock(const std::string& path, Kind kind = Kind::Exclusive);
    // Lets the child go and waits for it, so the lock is gone when this returns.
    ~OtherProcessLock();
    OtherProcessLock(const OtherProcessLock&) = delete;
    OtherProcessLock& operator=(const OtherProcessLock&) = delete;

  private:
    void Release();

    Gate locked_;   // the child says it holds the lock
    Gate release_;  // closing its write end tells the child to exit
    pid_t child_ = -1;
};

}  // namespace tessel::testing
