// File services on POSIX systems: plain file descriptors, flock() for the exclusive and shared
// locks that keep two programs from writing one file, fsync() for flushing, O_NOFOLLOW and
// O_EXCL so that a link planted under a name Tessel writes is never followed.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
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

int OpenRetrying(const char* path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

std::optional<struct stat> StatOf(const std::string& path, bool followLink) {
    const char* systemPath = SystemPath(path);
    struct stat info {};
    if (systemPath == nullptr) return std::nullopt;
    if ((followLink ? ::stat(systemPath, &info) : ::lstat(systemPath, &info)) != 0)
        return std::nullopt;
    return info;
}

// The folder part of `path` and its last component.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
    const auto last = path.rfind('/');
    if (last == std::string::npos) return {".", path};
    return {last == 0 ? "/" : path.substr(0, last), path.substr(last + 1)};
}

class PosixFile : public File {
  public:
    explicit PosixFile(int fd) : fd_(fd) {}

    int fd() const { return fd_.get(); }

    std::optional<std::size_t> Read(std::span<std::byte> into) override {
        ssize_t got;
        do {
            got = ::read(fd_.get(), into.data(), into.size());
        } while (got < 0 && errno == EINTR);
        if (got < 0) return std::nullopt;
        return static_cast<std::size_t>(got);
    }

    bool Write(std::span<const std::byte> bytes) override {
        if (!WriteAll(fd_.get(), bytes.data(), bytes.size())) return false;
        StartWriteback(std::ssize(bytes));
        return true;
    }

    bool Flush() override { return ::fsync(fd_.get()) == 0; }

    KernelCopy CopyInKernelFrom(File& source, std::int64_t count) override {
        auto* posixSource = dynamic_cast<PosixFile*>(&source);
        if (posixSource == nullptr || !SameFileSystem(*posixSource)) return {};
        KernelCopy result{KernelCopy::Status::Copied, 0};
        while (result.copied < count) {
            const auto want = static_cast<std::size_t>(
                std::min<std::int64_t>(count - result.copied, std::int64_t{1} << 30));
            const ssize_t put =
                ::copy_file_range(posixSource->fd(), nullptr, fd_.get(), nullptr, want, 0);
            if (put < 0) {
                if (errno == EINTR) continue;
                // Refused before a byte moved: this pair cannot be copied in the kernel.
                if (result.copied == 0 && written_ == 0 &&
                    (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                     errno == EBADF))
                    return {};
                return {KernelCopy::Status::Failed, result.copied};
            }
            if (put == 0) break;
            StartWriteback(put);
            result.copied += put;
        }
        return result;
    }

  private:
    bool SameFileSystem(const PosixFile& other) const {
        struct stat mine {};
        struct stat theirs {};
        return ::fstat(fd_.get(), &mine) == 0 && ::fstat(other.fd(), &theirs) == 0 &&
               mine.st_dev == theirs.st_dev;
    }

    // Starts putting the bytes just written on the medium without waiting for them, so that the
    // device works while the copy goes on and the flush that ends each file finds little left to
    // do. Only a hint: its errors are ignored, since that flush reports every real one.
    void StartWriteback(std::int64_t length) {
        ::sync_file_range(fd_.get(), written_, length, SYNC_FILE_RANGE_WRITE);
        written_ += length;
    }

    Descriptor fd_;
    std::int64_t written_ = 0;  // where the next write lands: writes go on from the first byte
};

// Keeps the opened file only when it is a regular file and the lock of the given kind can be
// taken at once; a lock held by another process refuses the open like any other refusal.
std::unique_ptr<PosixFile> KeepLocked(int fd, int lockKind) {
    if (fd < 0) return nullptr;
    auto file = std::make_unique<PosixFile>(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
    if (::flock(fd, lockKind | LOCK_NB) != 0) return nullptr;
    return file;
}

// Opens non-blocking, so that a FIFO cannot hang the open.
std::unique_ptr<PosixFile> OpenLocked(const std::string& path, int flags, mode_t mode,
                                      int lockKind) {
    const char* systemPath = SystemPath(path);
    if (systemPath == nullptr) return nullptr;
    return KeepLocked(OpenRetrying(systemPath, flags | O_NONBLOCK, mode), lockKind);
}

// The name a join's new file is linked under just before it is renamed over its target, and
// the name it is written under where the file system cannot make nameless files. A join that
// was killed may leave it behind; the next join of that name removes it.
std::string ScratchName(const std::string& target) {
    const auto [folder, name] = SplitPath(target);
    return folder + "/." + name + ".tessel-join";
}

// Removes a scratch file that a killed join left, unless it is not a regular file (a link is
// left alone) or a running join holds it.
bool ClearScratch(const std::string& scratch) {
    const auto info = StatOf(scratch, false);
    if (!info) return errno == ENOENT;
    if (!S_ISREG(info->st_mode)) return false;
    const Descriptor probe(OpenRetrying(scratch.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0));
    if (!probe.valid() || ::flock(probe.get(), LOCK_EX | LOCK_NB) != 0) return false;
    return ::unlink(scratch.c_str()) == 0;
}

class PosixReplacement final : public Replacement {
  public:
    PosixReplacement(std::unique_ptr<PosixFile> file, std::string target, bool named)
        : file_(std::move(file)),
          target_(std::move(target)),
          scratch_(ScratchName(target_)),
          named_(named) {}
    ~PosixReplacement() override {
        if (named_ && !committed_) ::unlink(scratch_.c_str());
    }

    std::optional<std::size_t> Read(std::span<std::byte> into) override {
        return file_->Read(into);
    }
    bool Write(std::span<const std::byte> bytes) override { return file_->Write(bytes); }
    bool Flush() override { return file_->Flush(); }
    KernelCopy CopyInKernelFrom(File& source, std::int64_t count) override {
        return file_->CopyInKernelFrom(source, count);
    }

    bool Commit() override {
        if (!named_) {
            if (!ClearScratch(scratch_)) return false;
            const std::string self = "/proc/self/fd/" + std::to_string(file_->fd());
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, scratch_.c_str(), AT_SYMLINK_FOLLOW) !=
                0)
                return false;
            named_ = true;
        }
        if (::rename(scratch_.c_str(), target_.c_str()) != 0) return false;
        committed_ = true;
        return true;
    }

    int fd() const { return file_->fd(); }

  private:
    std::unique_ptr<PosixFile> file_;
    std::string target_;
    std::string scratch_;
    bool named_;  // the file has its scratch name
    bool committed_ = false;
};

std::unique_ptr<Replacement> NewReplacement(const std::string& target, Permissions permissions) {
    if (SystemPath(target) == nullptr) return nullptr;
    const auto folder = SplitPath(target).first;
    const auto mode = static_cast<mode_t>(permissions & 0777);
    std::unique_ptr<PosixFile> file;
    bool named = false;
    if (const int fd = OpenRetrying(folder.c_str(), O_TMPFILE | O_RDWR, mode); fd >= 0) {
        file = std::make_unique<PosixFile>(fd);
    } else if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) {
        // No nameless files here: write under the scratch name instead.
        const std::string scratch = ScratchName(target);
        if (!ClearScratch(scratch)) return nullptr;
        file = OpenLocked(scratch, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, mode, LOCK_EX);
        named = file != nullptr;
    }
    if (file == nullptr) return nullptr;
    // Exactly the bits asked for, past the umask. Media without permission bits (FAT) refuse;
    // the file then has no more than the umask allowed of them, which is never more.
    [[maybe_unused]] const int exact = ::fchmod(file->fd(), mode);
    return std::make_unique<PosixReplacement>(std::move(file), target, named);
}

class PosixFileSystem final : public FileSystem {
  public:
    std::optional<std::int64_t> FileLength(const std::string& path) override {
        const auto info = StatOf(path, true);
        if (!info || !S_ISREG(info->st_mode)) return std::nullopt;
        return static_cast<std::int64_t>(info->st_size);
    }

    bool IsOrdinaryFile(const std::string& path) override { return FileLength(path).has_value(); }

    EntryKind KindOf(const std::string& path) override {
        const auto info = StatOf(path, false);
        if (!info)
            return errno == ENOENT || errno == ENOTDIR ? EntryKind::Missing : EntryKind::Other;
        if (S_ISLNK(info->st_mode)) return EntryKind::Link;
        return S_ISREG(info->st_mode) ? EntryKind::RegularFile : EntryKind::Other;
    }

    std::optional<Permissions> PermissionsOf(const std::string& path) override {
        const auto info = StatOf(path, true);
        if (!info) return std::nullopt;
        return static_cast<Permissions>(info->st_mode & 07777);
    }

    bool DeleteFile(const std::string& path) override {
        const char* systemPath = SystemPath(path);
        return systemPath != nullptr && ::unlink(systemPath) == 0;
    }

    void CreateDirectory(const std::string& path) override {
        if (const char* systemPath = SystemPath(path)) ::mkdir(systemPath, 0777);
    }

    bool IsSameFile(const std::string& first, const std::string& second) override {
        const auto one = StatOf(first, true);
        if (!one) return false;
        const auto two = StatOf(second, true);
        return two && one->st_dev == two->st_dev && one->st_ino == two->st_ino;
    }

    bool IsLocked(const std::string& path) override {
        const char* systemPath = SystemPath(path);
        if (systemPath == nullptr) return false;
        const Descriptor probe(OpenRetrying(systemPath, O_RDONLY | O_NONBLOCK, 0));
        return probe.valid() && ::flock(probe.get(), LOCK_EX | LOCK_NB) != 0 &&
               errno == EWOULDBLOCK;
    }

    std::optional<std::vector<std::string>> ListFolder(const std::string& folder) override {
        const char* systemPath = folder.empty() ? "." : SystemPath(folder);
        DIR* dir = systemPath == nullptr ? nullptr : ::opendir(systemPath);
        if (dir == nullptr) return std::nullopt;
        std::vector<std::string> names;
        errno = 0;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        const bool complete = errno == 0;
        ::closedir(dir);
        if (!complete) return std::nullopt;
        return names;
    }

    std::unique_ptr<File> OpenOrCreate(const std::string& path, Permissions permissions) override {
        return OpenLocked(path, O_RDWR | O_CREAT | O_NOFOLLOW, Mode(permissions), LOCK_EX);
    }

    std::unique_ptr<File> CreateNew(const std::string& path, Permissions permissions) override {
        return OpenLocked(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, Mode(permissions), LOCK_EX);
    }

    std::unique_ptr<File> OpenForReading(const std::string& path) override {
        return OpenLocked(path, O_RDONLY, 0, LOCK_SH);
    }

    std::unique_ptr<File> HoldExclusive(const std::string& path) override {
        return OpenLocked(path, O_RDONLY | O_NOFOLLOW, 0, LOCK_EX);
    }

    std::unique_ptr<Replacement> CreateReplacement(const std::string& path,
                                                   Permissions permissions) override {
        return NewReplacement(path, permissions);
    }

  private:
    static mode_t Mode(Permissions permissions) { return static_cast<mode_t>(permissions & 0777); }
};

// The home folder: $HOME, or the password database's entry when it is unset or empty.
std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr)
        return entry->pw_dir;
    return "/";
}

}  // namespace

FileSystem& DefaultFileSystem() {
    static PosixFileSystem fileSystem;
    return fileSystem;
}

char PathSeparator() {
    return '/';
}

std::string DefaultOutputFolder() {
    std::string home = HomeFolder();
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    return home == "/" ? "/Tessel" : home + "/Tessel";
}

}  // namespace tessel::platform
