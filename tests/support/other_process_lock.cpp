#include "tests/support/other_process_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <stdexcept>

namespace tessel::testing {

OtherProcessLock::OtherProcessLock(const std::string& path, Kind kind) {
    child_ = ::fork();
    if (child_ == 0) {
        // Only async-signal-safe calls between fork() and _exit().
        locked_.CloseReadEnd();
        release_.CloseWriteEnd();
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::flock(fd, (kind == Kind::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0)
            ::_exit(1);
        locked_.Open();
        release_.Wait();
        ::_exit(0);
    }
    locked_.CloseWriteEnd();
    release_.CloseReadEnd();
    if (child_ < 0 || !locked_.Wait()) {
        Release();
        throw std::runtime_error("another process could not lock " + path);
    }
}

OtherProcessLock::~OtherProcessLock() {
    Release();
}

void OtherProcessLock::Release() {
    release_.CloseWriteEnd();
    if (child_ > 0) WaitForChild(child_);
    child_ = -1;
}

}  // namespace tessel::testing
