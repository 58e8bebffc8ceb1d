// File services on POSIX systems: plain file descriptors, flock() for the exclusive and shared
// locks that keep two programs from writing one file, fsync() for flushing.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/file_system.h"

namespace tessel::platform {
namespace {

// Owns a descriptor; closes it on every way out.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

  private:
    int fd_;
};

// Reads up to `size` bytes; loops over EINTR only, so a short count means the end of the file.
ssize_t ReadSome(int fd, std::byte* into, std::size_t size) {
    ssize_t got;
    do {
        got = ::read(fd, into, size);
    } while (got < 0 && errno == EINTR);
    return got;
}

bool WriteAll(int fd, const std::byte* from, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(fd, from, size);
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (put == 0) return false;
        from += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

// The path as the system takes it, or nothing when it cannot be handed over faithfully: an
// empty path, or one holding a NUL, which the system would read as its end and so take for the
// name of some other file.
const char* SystemPath(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return nullptr;
    return path.c_str();
}

class PosixFile final : public File {
  public:
    explicit PosixFile(int fd) : fd_(fd) {}

    int fd() const { return fd_.get(); }

    CopyResult CopyFrom(File& source, std::int64_t count, std::span<std::byte> buffer) override {
        auto* posixSource = dynamic_cast<PosixFile*>(&source);
        if (posixSource == nullptr || buffer.empty()) return {CopyResult::Status::ReadFailed, 0};
        return CopyThroughBuffer(posixSource->fd(), count, buffer);
    }

    bool Write(std::span<const std::byte> bytes) override {
        if (!WriteAll(fd_.get(), bytes.data(), bytes.size())) return false;
        StartWriteback(std::ssize(bytes));
        return true;
    }

    bool Flush() override { return ::fsync(fd_.get()) == 0; }

    bool SetLength(std::int64_t length) override {
        int rc;
        do {
            rc = ::ftruncate(fd_.get(), static_cast<off_t>(length));
        } while (rc < 0 && errno == EINTR);
        return rc == 0;
    }

  private:
    // Large sequential reads and writes through the caller's buffer.
    CopyResult CopyThroughBuffer(int from, std::int64_t count, std::span<std::byte> buffer) {
        CopyResult result;
        while (result.copied < count) {
            const auto want = static_cast<std::size_t>(
                std::min<std::int64_t>(count - result.copied, std::ssize(buffer)));
            const ssize_t got = ReadSome(from, buffer.data(), want);
            if (got < 0) return {CopyResult::Status::ReadFailed, result.copied};
            if (got == 0) break;
            if (!WriteAll(fd_.get(), buffer.data(), static_cast<std::size_t>(got)))
                return {CopyResult::Status::WriteFailed, result.copied};
            StartWriteback(got);
            result.copied += got;
        }
        return result;
    }

    // Starts putting the bytes just written on the medium without waiting for them, so that the
    // device works while the copy goes on and the flush that ends each piece finds little left to
    // do. Only a hint: its errors are ignored, since that flush reports every real one.
    void StartWriteback(std::int64_t length) {
        ::sync_file_range(fd_.get(), written_, length, SYNC_FILE_RANGE_WRITE);
        written_ += length;
    }

    Descriptor fd_;
    std::int64_t written_ = 0;  // where the next write lands: writes go on from the first byte
};

// Opens `path` (non-blocking, so a FIFO cannot hang the open; only regular files are kept)
// and takes a non-blocking flock of the given kind; a lock held by another
// process makes the open fail like any other refusal.
std::unique_ptr<File> OpenLocked(const std::string& path, int flags, int lockKind) {
    const char* systemPath = SystemPath(path);
    if (systemPath == nullptr) return nullptr;
    int fd;
    do {
        fd = ::open(systemPath, flags | O_CLOEXEC | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;
    auto file = std::make_unique<PosixFile>(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
    if (::flock(fd, lockKind | LOCK_NB) != 0) return nullptr;
    return file;
}

class PosixFileSystem final : public FileSystem {
  public:
    std::optional<std::int64_t> FileLength(const std::string& path) override {
        struct stat info {};
        const char* systemPath = SystemPath(path);
        if (systemPath == nullptr || ::stat(systemPath, &info) != 0 || !S_ISREG(info.st_mode))
            return std::nullopt;
        return static_cast<std::int64_t>(info.st_size);
    }

    bool IsOrdinaryFile(const std::string& path) override { return FileLength(path).has_value(); }

    bool DeleteFile(const std::string& path) override {
        const char* systemPath = SystemPath(path);
        return systemPath != nullptr && ::unlink(systemPath) == 0;
    }

    void CreateDirectory(const std::string& path) override {
        if (const char* systemPath = SystemPath(path)) ::mkdir(systemPath, 0777);
    }

    bool IsSameFile(const std::string& first, const std::string& second) override {
        struct stat one {};
        struct stat two {};
        const char* firstPath = SystemPath(first);
        const char* secondPath = SystemPath(second);
        return firstPath != nullptr && secondPath != nullptr && ::stat(firstPath, &one) == 0 &&
               ::stat(secondPath, &two) == 0 && one.st_dev == two.st_dev &&
               one.st_ino == two.st_ino;
    }

    bool IsLocked(const std::string& path) override {
        const char* systemPath = SystemPath(path);
        if (systemPath == nullptr) return false;
        const Descriptor probe(::open(systemPath, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        return probe.valid() && ::flock(probe.get(), LOCK_EX | LOCK_NB) != 0 &&
               errno == EWOULDBLOCK;
    }

    std::vector<std::string> ListFolder(const std::string& folder) override {
        std::vector<std::string> names;
        const char* systemPath = folder.empty() ? "." : SystemPath(folder);
        DIR* dir = systemPath == nullptr ? nullptr : ::opendir(systemPath);
        if (dir == nullptr) return names;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(dir);
        return names;
    }

    std::unique_ptr<File> OpenExclusive(const std::string& path) override {
        return OpenLocked(path, O_RDWR | O_CREAT, LOCK_EX);
    }

    std::unique_ptr<File> OpenForReading(const std::string& path) override {
        return OpenLocked(path, O_RDONLY, LOCK_SH);
    }
};

}  // namespace

FileSystem& DefaultFileSystem() {
    static PosixFileSystem fileSystem;
    return fileSystem;
}

char PathSeparator() {
    return '/';
}

std::string DefaultOutputFolder() {
    return "/tmp/Tessel";
}

}  // namespace tessel::platform
