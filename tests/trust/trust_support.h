// Helpers shared by the trust tests: a dialog that answers at once, settings for a split into a
// given folder, quick whole-file reads and comparisons, descriptor counting, child processes and
// a lock held by one, and a file system that passes every call through to the real one so a
// test can override just the call it wants to disturb.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/piece_naming.h"
#include "engine/shared_settings.h"
#include "engine/split.h"
#include "platform/file_system.h"
#include "tests/support/pass_through_file_system.h"

namespace tessel::trust {

// Stands in for the modal summary: returns at once, remembering what it was shown.
class SilentDialog final : public InfoDialog {
  public:
    void ShowModal(const std::string& infoMessage) override { shown.push_back(infoMessage); }
    std::vector<std::string> shown;
};

// Start-up settings with the output folder and chunk size a test wants.
inline SharedSettings SettingsFor(const std::string& outputFolder, std::int64_t chunkSize) {
    SharedSettings settings;
    SetStartupDefaults(settings);
    settings.OutputFolder = outputFolder;
    settings.ChunkSize = chunkSize;
    return settings;
}

// Piece n of `base` with the default extension.
inline std::string PiecePath(const std::string& base, std::int64_t n) {
    return PieceName(base, n, kDefaultPieceExtension);
}

// Number of pieces a split of `size` bytes into `chunk`-byte pieces writes; an empty input
// still gives one (empty) piece.
inline std::int64_t ExpectedPieces(std::int64_t size, std::int64_t chunk) {
    return size == 0 ? 1 : (size + chunk - 1) / chunk;
}

// The bytes of `whole` from `offset`, at most `length` of them.
inline std::vector<char> Slice(const std::vector<char>& whole, std::int64_t offset,
                               std::int64_t length) {
    const auto size = static_cast<std::int64_t>(whole.size());
    const auto from = std::min(offset, size);
    const auto to = std::min(from + length, size);
    return {whole.begin() + from, whole.begin() + to};
}

// The whole content of a file, read with plain system calls: quick even in instrumented builds,
// where stream iterators crawl. Throws when the file cannot be read.
inline std::vector<char> ReadWhole(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + path);
    std::vector<char> bytes;
    std::size_t used = 0;
    for (;;) {
        bytes.resize(std::max<std::size_t>(used + (1 << 20), bytes.size()));
        const ssize_t got = ::read(fd, bytes.data() + used, bytes.size() - used);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            ::close(fd);
            if (got < 0) throw std::runtime_error("cannot read " + path);
            bytes.resize(used);
            return bytes;
        }
        used += static_cast<std::size_t>(got);
    }
}

// True in builds instrumented by sanitizers (the test script sets TESSEL_SANITIZED=1), where
// the heaviest cases are cut down to keep the run short.
inline bool Sanitized() {
    const char* value = std::getenv("TESSEL_SANITIZED");
    return value != nullptr && std::string(value) == "1";
}

// Whether two byte strings are equal; on a difference, says where, without printing them whole.
inline ::testing::AssertionResult SameBytes(const std::vector<char>& actual,
                                            const std::vector<char>& expected) {
    const auto mismatch =
        std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    if (mismatch.first == actual.end() && mismatch.second == expected.end())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << actual.size() << " bytes where " << expected.size()
           << " were expected; first difference at offset " << (mismatch.first - actual.begin());
}

// How many descriptors this process has open; the directory listing's own descriptor is
// counted every time, so two counts compare fairly.
inline int CountOpenDescriptors() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    int count = 0;
    while (::readdir(dir) != nullptr) ++count;
    ::closedir(dir);
    return count;
}

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

// A pipe used to hold two processes at one point until the other side lets them go.
class Gate {
  public:
    Gate() {
        if (::pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
    }
    ~Gate() {
        CloseReadEnd();
        CloseWriteEnd();
    }
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;

    bool valid() const { return fds_[0] >= 0; }
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

// A flock on a file, held by a child process as another program that has the file open holds
// it: flock() locks belong to an open file, so only another open of the file meets them.
class HeldByAnotherProcess {
  public:
    enum class Lock { Shared = LOCK_SH, Exclusive = LOCK_EX };

    HeldByAnotherProcess(const std::string& path, Lock lock) {
        child_ = RunInChild([&] {
            locked_.CloseReadEnd();
            release_.CloseWriteEnd();
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || ::flock(fd, static_cast<int>(lock) | LOCK_NB) != 0) return 1;
            locked_.Open();
            release_.Wait();
            return 0;
        });
        locked_.CloseWriteEnd();
        release_.CloseReadEnd();
        holding_ = child_ > 0 && locked_.Wait();
    }
    // Lets the child go and waits for it, so the lock is gone once this returns.
    ~HeldByAnotherProcess() {
        release_.CloseWriteEnd();
        if (child_ > 0) WaitForChild(child_);
    }
    HeldByAnotherProcess(const HeldByAnotherProcess&) = delete;
    HeldByAnotherProcess& operator=(const HeldByAnotherProcess&) = delete;

    // Whether the child took the lock.
    bool holding() const { return holding_; }

  private:
    Gate locked_;
    Gate release_;
    pid_t child_ = -1;
    bool holding_ = false;
};

using testing::PassThroughFileSystem;

}  // namespace tessel::trust
