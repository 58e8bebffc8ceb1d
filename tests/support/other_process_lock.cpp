#include "tests/support/other_process_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace tessel::testing {
namespace {

constexpr char kLocked = 'L';
constexpr char kRefused = 'R';

// Runs in the child: only async-signal-safe calls between fork() and _exit().
[[noreturn]] void HoldLock(const char* path, int lockKind, int readyFd, int releaseFd) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    const bool locked = fd >= 0 && ::flock(fd, lockKind | LOCK_NB) == 0;
    const char answer = locked ? kLocked : kRefused;
    if (::write(readyFd, &answer, 1) != 1 || !locked) ::_exit(1);
    char ignored;
    while (::read(releaseFd, &ignored, 1) > 0) {
    }
    ::_exit(0);
}

}  // namespace

OtherProcessLock::OtherProcessLock(const std::string& path, Kind kind) {
    int ready[2];
    int release[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (::pipe2(release, O_CLOEXEC) != 0) {
        ::close(ready[0]);
        ::close(ready[1]);
        throw std::runtime_error("pipe failed");
    }
    child_ = ::fork();
    if (child_ == 0) {
        ::close(release[1]);
        HoldLock(path.c_str(), kind == Kind::Exclusive ? LOCK_EX : LOCK_SH, ready[1], release[0]);
    }
    ::close(ready[1]);
    ::close(release[0]);
    releaseFd_ = release[1];
    char answer = kRefused;
    const bool heard = child_ > 0 && ::read(ready[0], &answer, 1) == 1;
    ::close(ready[0]);
    if (!heard || answer != kLocked) {
        Release();
        throw std::runtime_error("another process could not lock " + path);
    }
}

OtherProcessLock::~OtherProcessLock() {
    Release();
}

void OtherProcessLock::Release() {
    if (releaseFd_ >= 0) ::close(releaseFd_);
    releaseFd_ = -1;
    if (child_ > 0) ::waitpid(child_, nullptr, 0);
    child_ = -1;
}

}  // namespace tessel::testing
