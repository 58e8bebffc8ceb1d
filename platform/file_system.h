// File services the engine reaches the operating system through. One implementation per
// platform is compiled in by the build; tests may hand the engine their own FileSystem to
// inject faults that real media produce only by chance.
//
// Every query tells a name that is missing apart from one it could not look at: an error is
// never taken for an answer. Everything written into a folder is created, removed and renamed
// relative to that folder once it is opened (Folder), so that a folder swapped for a link while
// the work goes on cannot redirect a file into another one.
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
// The read, write and execute bits for owner, group and others: all a file Tessel makes may get.
inline constexpr Permissions kPermissionBits = 0777;
// Read and write for the owner alone: for a file made from nothing another user could read.
inline constexpr Permissions kOwnerOnly = 0600;
// The bit of a folder in which only a file's owner may remove or rename it.
inline constexpr Permissions kStickyBit = 01000;

// What a name stands for. Unknown: it could not be looked at (an error other than the name
// being missing), so nothing may be concluded from it.
enum class EntryKind { Missing, RegularFile, Link, Folder, Other, Unknown };

// What one query found out about a name or an open file.
struct EntryInfo {
    EntryKind kind = EntryKind::Unknown;
    std::int64_t length = 0;
    Permissions permissions = 0;  // with the sticky bit, for a folder
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    bool Exists() const { return kind != EntryKind::Missing && kind != EntryKind::Unknown; }
};

// Whether two queries found one and the same existing file.
inline bool SameFile(const EntryInfo& one, const EntryInfo& two) {
    return one.Exists() && two.Exists() && one.device == two.device && one.inode == two.inode;
}

enum class Follow { No, Yes };

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
    // What the open file is: its length, permissions, owner and identity.
    virtual EntryInfo Info() = 0;
    // Cuts the file (or lengthens it with zeros) to `length` bytes.
    virtual bool Truncate(std::int64_t length) = 0;
    // Gives the file exactly `permissions` (the bits the platform keeps).
    virtual bool SetPermissions(Permissions permissions) = 0;
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
    // The file takes the owner and group of the file it replaces where the user may set them,
    // and its user extended attributes where the file system keeps them.
    virtual bool Commit() = 0;
};

// A folder opened once: every name below is looked up in it, and only in it.
class Folder {
  public:
    virtual ~Folder() = default;
    Folder() = default;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    // What `name` stands for; "." is the folder itself.
    virtual EntryInfo Examine(const std::string& name, Follow follow) = 0;
    // Names of the entries (not "." or ".."); nothing when they cannot all be read.
    virtual std::optional<std::vector<std::string>> List() = 0;
    // Removes the name (never a folder).
    virtual bool Remove(const std::string& name) = 0;
    // The longest name a file in this folder may have, in bytes; nothing when it cannot be told.
    virtual std::optional<std::int64_t> NameMax() = 0;
    // Bytes still free on the folder's medium for this user; nothing when it cannot be told.
    virtual std::optional<std::int64_t> FreeBytes() = 0;
    // True when some open of `name` (this process's or another's) holds a lock on it.
    virtual bool IsLocked(const std::string& name) = 0;
    // Whether this user may make a new file here and give it the name `name` over whatever
    // stands there: the folder must be writable, and where it has the sticky bit only the owner
    // of the folder or of that file may rename over it.
    virtual bool MayRenameOver(const std::string& name) = 0;

    // Opens for reading and writing, creating a missing file empty with `permissions` (less the
    // umask) and keeping an existing one's contents, at its first byte; locked exclusively.
    // Never through a link. Nothing when it cannot be opened or another process holds a lock.
    virtual std::unique_ptr<File> OpenOrCreate(const std::string& name,
                                               Permissions permissions) = 0;
    // Creates a file that must be new (an existing name or a link there refuses it), with
    // `permissions` less the umask; locked exclusively.
    virtual std::unique_ptr<File> CreateNew(const std::string& name, Permissions permissions) = 0;
    // Opens an existing regular file for reading only, at its first byte, locked against
    // writers; through a final link only when `follow` says so.
    virtual std::unique_ptr<File> OpenForReading(const std::string& name, Follow follow) = 0;
    // Opens an existing regular file, never through a link, only to hold it locked exclusively.
    virtual std::unique_ptr<File> HoldExclusive(const std::string& name) = 0;
    // A new, nameless file in this folder that replaces `name` when committed, made with
    // `permissions` less the umask.
    virtual std::unique_ptr<Replacement> CreateReplacement(const std::string& name,
                                                           Permissions permissions) = 0;
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // What the file at `path` is.
    virtual EntryInfo Examine(const std::string& path, Follow follow) = 0;
    // Opens an existing regular file for reading only, at its first byte (through links),
    // locked against writers, or, with `exclusive`, against everyone else.
    virtual std::unique_ptr<File> OpenForReading(const std::string& path, bool exclusive) = 0;
    // Creates the last level of `path`; an existing folder or any failure is ignored (opening
    // the folder afterwards tells).
    virtual void CreateDirectory(const std::string& path) = 0;
    // Opens the folder at `path` (through links) for the work inside it; nothing when it cannot
    // be opened.
    virtual std::unique_ptr<Folder> OpenFolder(const std::string& path) = 0;
};

// The file system of the platform this build is for.
FileSystem& DefaultFileSystem();

// The path separator of this platform ("/" on Linux, "\" on Windows).
char PathSeparator();
// The folder the pieces go to until the user chooses another: "Tessel" in the user's home
// folder; empty when no home folder can be told.
std::string DefaultOutputFolder();
// The permission bits that this process's new files lose (the umask on POSIX systems).
Permissions CreationMask();

}  // namespace tessel::platform
