// Child processes for the tests that need a second program at work: one that runs a piece of the
// test and exits with its result, the wait for how it ended, and a gate that holds a process at
// one point until another lets it go.
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>

namespace tessel::testing {

// Runs `body` in a forked child, which exits with its result without returning into the test
// framework. Returns the child's pid (or -1 when fork fails).
inline pid_t RunInChild(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    return pid;
}

// The exit code of a child, or 128 + signal when a signal ended it, or -1 on error.
inline int WaitForChild(pid_t pid) {
    int status = 0;
    pid_t got;
    do {
        got = ::waitpid(pid, &status, 0);
    } while (got < 0 && errno == EINTR);
    if (got != pid) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// Runs `body` in a forked child and returns the text it returned (empty for success, as the
// tests' checks report), with a note added when the child did not end normally.
inline std::string TextFromChild(const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return "no pipe to the child";
    const pid_t pid = RunInChild([&] {
        ::close(fds[0]);
        const std::string result = body();
        [[maybe_unused]] const auto put = ::write(fds[1], result.data(), result.size());
        return 0;
    });
    ::close(fds[1]);
    std::string result;
    char block[512];
    for (;;) {
        const ssize_t got = ::read(fds[0], block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        result.append(block, static_cast<std::size_t>(got));
    }
    ::close(fds[0]);
    if (pid < 0 || WaitForChild(pid) != 0) result += " (the child did not end normally)";
    return result;
}

// A pipe used to hold two processes at one point until the other side lets them go. Each call
// is a bare system call, so a child may use it anywhere between fork() and _exit().
class Gate {
  public:
    Gate() {
        if (::pipe2(fds_, O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
    }
    ~Gate() {
        CloseReadEnd();
        CloseWriteEnd();
    }
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;

    // Lets one waiter through.
    void Open() {
        const char token = 1;
        [[maybe_unused]] const auto put = ::write(fds_[1], &token, 1);
    }
    // Blocks until Open() is called on the other side (or every writer is gone).
    bool Wait() {
        char token = 0;
        ssize_t got;
        do {
            got = ::read(fds_[0], &token, 1);
        } while (got < 0 && errno == EINTR);
        return got == 1;
    }
    void CloseReadEnd() { Close(fds_[0]); }
    void CloseWriteEnd() { Close(fds_[1]); }

  private:
    static void Close(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int fds_[2] = {-1, -1};
};

}  // namespace tessel::testing
