// File services on POSIX systems: plain file descriptors, flock() for the exclusive and shared
// locks that keep two programs from writing one file, fsync() for flushing, O_NOFOLLOW and
// O_EXCL so that a link planted under a name Tessel writes is never followed, and one folder
// descriptor per operation (openat, linkat, renameat, unlinkat) so that a folder swapped during
// the work cannot redirect a file into another one.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string_view>
#include <utility>

#include "platform/file_system.h"

namespace tessel::platform {
namespace {

// Owns a descriptor; closes it on every way out.
class Descriptor {
  public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
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

// A name inside a folder: as a path, and never one that leads out of the folder.
const char* SystemName(const std::string& name) {
    if (name.find('/') != std::string::npos) return nullptr;
    return SystemPath(name);
}

// A second descriptor of the same open folder, closed on exec like every other.
int Duplicate(int fd) {
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

int OpenAtRetrying(int folder, const char* name, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::openat(folder, name, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

EntryKind KindOfMode(mode_t mode) {
    if (S_ISREG(mode)) return EntryKind::RegularFile;
    if (S_ISLNK(mode)) return EntryKind::Link;
    if (S_ISDIR(mode)) return EntryKind::Folder;
    return EntryKind::Other;
}

EntryInfo InfoOf(const struct stat& status) {
    return EntryInfo{KindOfMode(status.st_mode),
                     static_cast<std::int64_t>(status.st_size),
                     static_cast<Permissions>(status.st_mode & 07777),
                     status.st_uid,
                     status.st_gid,
                     static_cast<std::uint64_t>(status.st_dev),
                     static_cast<std::uint64_t>(status.st_ino)};
}

// What a failed lookup says: only "no such name" means missing; any other error tells nothing.
EntryInfo FailedLookup() {
    return EntryInfo{errno == ENOENT || errno == ENOTDIR ? EntryKind::Missing : EntryKind::Unknown};
}

EntryInfo StatAt(int folder, const char* name, Follow follow) {
    struct stat status {};
    if (name == nullptr) return EntryInfo{};
    const int flags = follow == Follow::Yes ? 0 : AT_SYMLINK_NOFOLLOW;
    if (::fstatat(folder, name, &status, flags) != 0) return FailedLookup();
    return InfoOf(status);
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

    EntryInfo Info() override {
        struct stat status {};
        if (::fstat(fd_.get(), &status) != 0) return EntryInfo{};
        return InfoOf(status);
    }

    bool Truncate(std::int64_t length) override {
        int result;
        do {
            result = ::ftruncate(fd_.get(), static_cast<off_t>(length));
        } while (result != 0 && errno == EINTR);
        return result == 0;
    }

    bool SetPermissions(Permissions permissions) override {
        return ::fchmod(fd_.get(), static_cast<mode_t>(permissions & kPermissionBits)) == 0;
    }

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
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return nullptr;
    if (::flock(fd, lockKind | LOCK_NB) != 0) return nullptr;
    return file;
}

// Opens non-blocking, so that a FIFO cannot hang the open.
std::unique_ptr<PosixFile> OpenLocked(int folder, const char* name, int flags, mode_t mode,
                                      int lockKind) {
    if (name == nullptr) return nullptr;
    return KeepLocked(OpenAtRetrying(folder, name, flags | O_NONBLOCK, mode), lockKind);
}

mode_t Mode(Permissions permissions) {
    return static_cast<mode_t>(permissions & kPermissionBits);
}

// The join's new file, where the file system cannot make nameless files, is written under a
// name of this form; it has a fixed length whatever the target's name, so that every name a
// split accepts can be joined. A join that was killed may leave one behind: the next join in
// that folder removes it.
constexpr std::string_view kScratchPrefix = ".tessel-join.";
constexpr std::size_t kScratchRandomLetters = 8;

bool IsScratchName(std::string_view name) {
    return name.starts_with(kScratchPrefix) &&
           name.size() == kScratchPrefix.size() + kScratchRandomLetters;
}

std::string NewScratchName() {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    std::string name(kScratchPrefix);
    for (std::size_t i = 0; i < kScratchRandomLetters; ++i) name += kLetters[pick(random)];
    return name;
}

// Names of the entries of an open folder (not "." or ".."); nothing when they cannot all be read.
// The folder is held for its path only, so it is opened once more, through itself, to be read.
std::optional<std::vector<std::string>> ListNames(int folder) {
    const int listing = OpenAtRetrying(folder, ".", O_RDONLY | O_DIRECTORY, 0);
    DIR* dir = listing < 0 ? nullptr : ::fdopendir(listing);
    if (dir == nullptr) {
        if (listing >= 0) ::close(listing);
        return std::nullopt;
    }
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    const bool complete = errno == 0;
    ::closedir(dir);
    if (!complete) return std::nullopt;
    return names;
}

// Removes what killed joins left in the folder: this user's own scratch files that no running
// join holds. Anything else under such a name (a link above all) is left alone.
void ClearStaleScratch(int folder) {
    const auto names = ListNames(folder);
    if (!names) return;
    for (const auto& name : *names) {
        if (!IsScratchName(name)) continue;
        const auto info = StatAt(folder, name.c_str(), Follow::No);
        if (info.kind != EntryKind::RegularFile || info.owner != ::geteuid()) continue;
        const Descriptor probe(
            OpenAtRetrying(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0));
        if (probe.valid() && ::flock(probe.get(), LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(folder, name.c_str(), 0);
    }
}

// Gives `to` the owner and group of `from` where this user may set them: root always, anyone
// the group when they belong to it. What may not be set stays as it is.
bool TakeOwner(int to, const struct stat& from) {
    if (::fchown(to, from.st_uid, from.st_gid) == 0) return true;
    if (errno != EPERM) return false;
    return ::fchown(to, static_cast<uid_t>(-1), from.st_gid) == 0 || errno == EPERM;
}

bool NotKeptHere(int error) {
    return error == ENOTSUP || error == EOPNOTSUPP;
}

// Copies the user extended attributes of `from` onto `to`, where the file systems keep them.
bool TakeUserAttributes(int to, int from) {
    const ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size < 0) return NotKeptHere(errno);
    std::string names(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::flistxattr(from, names.data(), names.size());
    if (got < 0) return NotKeptHere(errno);
    names.resize(static_cast<std::size_t>(got));
    for (std::size_t at = 0; at < names.size(); at += std::strlen(names.c_str() + at) + 1) {
        const char* name = names.c_str() + at;
        if (std::string_view(name).substr(0, 5) != "user.") continue;
        const ssize_t length = ::fgetxattr(from, name, nullptr, 0);
        if (length < 0) return false;
        std::string value(static_cast<std::size_t>(length), '\0');
        const ssize_t read = ::fgetxattr(from, name, value.data(), value.size());
        if (read < 0) return false;
        if (::fsetxattr(to, name, value.data(), static_cast<std::size_t>(read), 0) != 0)
            return NotKeptHere(errno);
    }
    return true;
}

class PosixReplacement final : public Replacement {
  public:
    PosixReplacement(std::unique_ptr<PosixFile> file, int folder, std::string target,
                     std::string scratch)
        : file_(std::move(file)),
          folder_(Duplicate(folder)),
          target_(std::move(target)),
          scratch_(std::move(scratch)) {}
    ~PosixReplacement() override {
        if (!scratch_.empty() && !committed_) ::unlinkat(folder_.get(), scratch_.c_str(), 0);
    }

    std::optional<std::size_t> Read(std::span<std::byte> into) override {
        return file_->Read(into);
    }
    bool Write(std::span<const std::byte> bytes) override { return file_->Write(bytes); }
    bool Flush() override { return file_->Flush(); }
    EntryInfo Info() override { return file_->Info(); }
    bool Truncate(std::int64_t length) override { return file_->Truncate(length); }
    bool SetPermissions(Permissions permissions) override {
        return file_->SetPermissions(permissions);
    }
    KernelCopy CopyInKernelFrom(File& source, std::int64_t count) override {
        return file_->CopyInKernelFrom(source, count);
    }

    bool Commit() override {
        if (!TakeOverReplaced()) return false;
        if (scratch_.empty()) {
            const std::string scratch = NewScratchName();
            if (!LinkNameless(scratch)) return false;
            scratch_ = scratch;
        }
        if (!folder_.valid() ||
            ::renameat(folder_.get(), scratch_.c_str(), folder_.get(), target_.c_str()) != 0)
            return false;
        committed_ = true;
        return true;
    }

  private:
    // The owner, group and user attributes of the file about to be replaced, if there is one.
    bool TakeOverReplaced() {
        const Descriptor old(OpenAtRetrying(folder_.get(), target_.c_str(),
                                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0));
        if (!old.valid()) return errno == ENOENT || errno == ELOOP;  // nothing, or a link, there
        struct stat status {};
        if (::fstat(old.get(), &status) != 0) return false;
        if (!S_ISREG(status.st_mode)) return true;
        return TakeOwner(file_->fd(), status) && TakeUserAttributes(file_->fd(), old.get());
    }

    // Gives the nameless file a name in the folder. The link through /proc works for every user;
    // where /proc is missing, the descriptor itself is linked (which needs privilege).
    bool LinkNameless(const std::string& scratch) {
        const std::string self = "/proc/self/fd/" + std::to_string(file_->fd());
        if (::linkat(AT_FDCWD, self.c_str(), folder_.get(), scratch.c_str(), AT_SYMLINK_FOLLOW) ==
            0)
            return true;
        return errno == ENOENT &&
               ::linkat(file_->fd(), "", folder_.get(), scratch.c_str(), AT_EMPTY_PATH) == 0;
    }

    std::unique_ptr<PosixFile> file_;
    Descriptor folder_;  // its own copy of the folder's descriptor
    std::string target_;
    std::string scratch_;  // the name the file is written under; empty while it has none
    bool committed_ = false;
};

bool NamelessFilesUnsupported(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// A named scratch file, where nameless files cannot be made.
std::unique_ptr<PosixFile> CreateScratch(int folder, mode_t mode, std::string& name) {
    ClearStaleScratch(folder);
    for (int attempt = 0; attempt < 16; ++attempt) {
        name = NewScratchName();
        const int fd = OpenAtRetrying(folder, name.c_str(),
                                      O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK, mode);
        if (fd >= 0) return KeepLocked(fd, LOCK_EX);
        if (errno != EEXIST) return nullptr;
    }
    return nullptr;
}

class PosixFolder final : public Folder {
  public:
    explicit PosixFolder(int fd) : fd_(fd) {}

    EntryInfo Examine(const std::string& name, Follow follow) override {
        if (name == ".") return StatAt(fd_.get(), ".", Follow::Yes);
        return StatAt(fd_.get(), SystemName(name), follow);
    }

    std::optional<std::vector<std::string>> List() override { return ListNames(fd_.get()); }

    bool Remove(const std::string& name) override {
        const char* systemName = SystemName(name);
        return systemName != nullptr && ::unlinkat(fd_.get(), systemName, 0) == 0;
    }

    std::optional<std::int64_t> NameMax() override {
        errno = 0;
        const long longest = ::fpathconf(fd_.get(), _PC_NAME_MAX);
        if (longest < 0) {
            if (errno != 0) return std::nullopt;
            return INT64_MAX;  // no limit
        }
        return longest;
    }

    std::optional<std::int64_t> FreeBytes() override {
        struct statvfs space {};
        if (::fstatvfs(fd_.get(), &space) != 0) return std::nullopt;
        const auto blocks = static_cast<std::int64_t>(space.f_bavail);
        const auto blockSize = static_cast<std::int64_t>(space.f_frsize);
        return blocks > INT64_MAX / std::max<std::int64_t>(blockSize, 1) ? INT64_MAX
                                                                         : blocks * blockSize;
    }

    bool IsLocked(const std::string& name) override {
        const char* systemName = SystemName(name);
        if (systemName == nullptr) return false;
        const Descriptor probe(
            OpenAtRetrying(fd_.get(), systemName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0));
        return probe.valid() && ::flock(probe.get(), LOCK_EX | LOCK_NB) != 0 &&
               errno == EWOULDBLOCK;
    }

    bool MayRenameOver(const std::string& name) override {
        const char* systemName = SystemName(name);
        struct stat folder {};
        if (systemName == nullptr || ::fstat(fd_.get(), &folder) != 0 ||
            ::faccessat(fd_.get(), ".", W_OK | X_OK, AT_EACCESS) != 0)
            return false;
        const uid_t user = ::geteuid();
        if ((folder.st_mode & S_ISVTX) == 0 || user == 0 || user == folder.st_uid) return true;
        struct stat existing {};
        if (::fstatat(fd_.get(), systemName, &existing, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT;
        return existing.st_uid == user;
    }

    std::unique_ptr<File> OpenOrCreate(const std::string& name, Permissions permissions) override {
        return OpenLocked(fd_.get(), SystemName(name), O_RDWR | O_CREAT | O_NOFOLLOW,
                          Mode(permissions), LOCK_EX);
    }

    std::unique_ptr<File> CreateNew(const std::string& name, Permissions permissions) override {
        return OpenLocked(fd_.get(), SystemName(name), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW,
                          Mode(permissions), LOCK_EX);
    }

    std::unique_ptr<File> OpenForReading(const std::string& name, Follow follow) override {
        return OpenLocked(fd_.get(), SystemName(name),
                          O_RDONLY | O_NOCTTY | (follow == Follow::Yes ? 0 : O_NOFOLLOW), 0,
                          LOCK_SH);
    }

    std::unique_ptr<File> HoldExclusive(const std::string& name) override {
        return OpenLocked(fd_.get(), SystemName(name), O_RDONLY | O_NOFOLLOW | O_NOCTTY, 0,
                          LOCK_EX);
    }

    std::unique_ptr<Replacement> CreateReplacement(const std::string& name,
                                                   Permissions permissions) override {
        if (SystemName(name) == nullptr) return nullptr;
        const mode_t mode = Mode(permissions);
        std::string scratch;
        std::unique_ptr<PosixFile> file;
        if (const int fd = OpenAtRetrying(fd_.get(), ".", O_TMPFILE | O_RDWR, mode); fd >= 0)
            file = std::make_unique<PosixFile>(fd);
        else if (NamelessFilesUnsupported(errno))
            file = CreateScratch(fd_.get(), mode, scratch);
        if (file == nullptr) return nullptr;
        return std::make_unique<PosixReplacement>(std::move(file), fd_.get(), name, scratch);
    }

  private:
    Descriptor fd_;
};

class PosixFileSystem final : public FileSystem {
  public:
    EntryInfo Examine(const std::string& path, Follow follow) override {
        return StatAt(AT_FDCWD, SystemPath(path), follow);
    }

    std::unique_ptr<File> OpenForReading(const std::string& path, bool exclusive) override {
        return OpenLocked(AT_FDCWD, SystemPath(path), O_RDONLY | O_NOCTTY, 0,
                          exclusive ? LOCK_EX : LOCK_SH);
    }

    void CreateDirectory(const std::string& path) override {
        if (SystemPath(path) == nullptr) return;
        std::error_code ignored;
        std::filesystem::create_directory(path, ignored);
    }

    std::unique_ptr<Folder> OpenFolder(const std::string& path) override {
        const char* systemPath = SystemPath(path);
        if (systemPath == nullptr) return nullptr;
        // Held for its path alone: a folder its user may enter but not list still serves.
        const int fd = OpenAtRetrying(AT_FDCWD, systemPath, O_PATH | O_DIRECTORY, 0);
        if (fd < 0) return nullptr;
        return std::make_unique<PosixFolder>(fd);
    }
};

bool IsAbsolute(const char* path) {
    return path != nullptr && path[0] == '/';
}

// The home folder: $HOME when it is a full path, else the password database's entry when that
// is one; nothing when neither tells.
std::optional<std::string> HomeFolder() {
    if (const char* home = std::getenv("HOME"); IsAbsolute(home)) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && IsAbsolute(entry->pw_dir))
        return entry->pw_dir;
    return std::nullopt;
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
    auto home = HomeFolder();
    if (!home) return {};
    while (home->size() > 1 && home->back() == '/') home->pop_back();
    return *home == "/" ? "/Tessel" : *home + "/Tessel";
}

Permissions CreationMask() {
    // The kernel tells the umask without changing it; only where it does not is it read by
    // setting it, which other threads could see for a moment.
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (!line.starts_with("Umask:")) continue;
        return static_cast<Permissions>(std::strtoul(line.c_str() + 6, nullptr, 8)) &
               kPermissionBits;
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return static_cast<Permissions>(mask) & kPermissionBits;
}

}  // namespace tessel::platform
