// File services the engine reaches the operating system through. One implementation per
// platform is compiled in by the build; tests may hand the engine their own FileSystem to
// inject faults that real media produce only by chance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tessel::platform {

// Permission bits of a file as the platform keeps them (the POSIX mode bits on Linux).
using Permissions = unsigned;

// What a name in a folder stands for, without following a final link.
enum class EntryKind { Missing, RegularFile, Link, Other };

// What a copy inside the kernel came to.
struct KernelCopy {
    enum class Status { Unsupported, Copied, Failed };
    Status status = Status::Unsupported;
    std::int64_t copied = 0;  // bytes copied; fewer than asked with Copied means the source ended
};

// An open file. Closing happens in the destructor, so every way out releases it.
class File {
  public:
    virtual ~File() = default;
    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Reads up to `into.size()` bytes at the current position: the count read, 0 at the end of
    // the file, nothing on an error.
    virtual std::optional<std::size_t> Read(std::span<std::byte> into) = 0;
    // Writes all of `bytes` at the current position.
    virtual bool Write(std::span<const std::byte> bytes) = 0;
    // Puts everything written so far on the medium.
    virtual bool Flush() = 0;
    // Copies up to `count` bytes from `source`'s position to this file's position without
    // passing them through the process (both positions advance). Unsupported, with nothing
    // copied, where this pair of files cannot be copied so; the caller then reads and writes.
    virtual KernelCopy CopyInKernelFrom(File& /*source*/, std::int64_t /*count*/) { return {}; }
};

// A new file without a name of its own yet, in the folder of the file it is to replace. It takes
// that file's name only when Commit is called; destroyed without it, it leaves nothing behind.
class Replacement : public File {
  public:
    // Gives the file the name it replaces, in one step: until then the old file stays whole.
    virtual bool Commit() = 0;
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // Length in bytes of the regular file at `path` (following links); nothing for a missing,
    // unreadable or non-regular file.
    virtual std::optional<std::int64_t> FileLength(const std::string& path) = 0;
    // True when an ordinary (regular) file of that name exists, following links.
    virtual bool IsOrdinaryFile(const std::string& path) = 0;
    // What the name itself is: a link is reported as a link, not as what it points to.
    virtual EntryKind KindOf(const std::string& path) = 0;
    // Permission bits of the file at `path` (following links); nothing when it cannot be read.
    virtual std::optional<Permissions> PermissionsOf(const std::string& path) = 0;
    virtual bool DeleteFile(const std::string& path) = 0;
    // Creates the last level of `path`; an existing folder or any failure is ignored.
    virtual void CreateDirectory(const std::string& path) = 0;
    // True when both paths name one and the same existing file.
    virtual bool IsSameFile(const std::string& first, const std::string& second) = 0;
    // True when some open of `path` (this process's or another's) holds a lock on it.
    virtual bool IsLocked(const std::string& path) = 0;
    // Names of the entries of a folder (not "." or ".."); nothing when it cannot be listed.
    virtual std::optional<std::vector<std::string>> ListFolder(const std::string& folder) = 0;

    // Opens for reading and writing, creating a missing file empty with `permissions` (less the
    // umask) and keeping an existing one's contents, at its first byte; locked exclusively.
    // Never through a link. Nothing when it cannot be opened or another process holds a lock.
    virtual std::unique_ptr<File> OpenOrCreate(const std::string& path,
                                               Permissions permissions) = 0;
    // Creates a file that must be new (an existing name or a link there refuses it), with
    // `permissions` less the umask; locked exclusively.
    virtual std::unique_ptr<File> CreateNew(const std::string& path, Permissions permissions) = 0;
    // Opens an existing file for reading only, at its first byte, locked against writers.
    virtual std::unique_ptr<File> OpenForReading(const std::string& path) = 0;
    // Opens an existing regular file, never through a link, only to hold it locked exclusively.
    virtual std::unique_ptr<File> HoldExclusive(const std::string& path) = 0;
    // A new, nameless file in `path`'s folder that replaces `path` when committed; it gets
    // exactly `permissions`.
    virtual std::unique_ptr<Replacement> CreateReplacement(const std::string& path,
                                                           Permissions permissions) = 0;
};

// The file system of the platform this build is for.
FileSystem& DefaultFileSystem();

// The path separator of this platform ("/" on Linux, "\" on Windows).
char PathSeparator();
// The folder the pieces go to until the user chooses another: one of the user's own.
std::string DefaultOutputFolder();
// Permission bits for a file when nothing tells otherwise (read and write for everyone, less
// the umask).
inline constexpr Permissions kDefaultPermissions = 0666;

}  // namespace tessel::platform
