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

// What a streaming copy between two open files ended with.
struct CopyResult {
    enum class Status { Ok, ReadFailed, WriteFailed };
    Status status = Status::Ok;
    std::int64_t copied = 0;  // bytes that reached the destination
};

// An open file. Closing happens in the destructor, so every way out releases it.
class File {
  public:
    virtual ~File() = default;
    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Appends up to `count` bytes read from `source` at its current position, streaming through
    // `buffer`. Fewer bytes than asked with status Ok means the source ended.
    virtual CopyResult CopyFrom(File& source, std::int64_t count, std::span<std::byte> buffer) = 0;
    // Writes all of `bytes` at the current position.
    virtual bool Write(std::span<const std::byte> bytes) = 0;
    // Puts everything written so far on the medium.
    virtual bool Flush() = 0;
    // Cuts or extends the file to `length` bytes.
    virtual bool SetLength(std::int64_t length) = 0;
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // Length in bytes of the regular file at `path`; nothing for a missing, unreadable or
    // non-regular file.
    virtual std::optional<std::int64_t> FileLength(const std::string& path) = 0;
    // True when an ordinary (regular) file of that name exists.
    virtual bool IsOrdinaryFile(const std::string& path) = 0;
    virtual bool DeleteFile(const std::string& path) = 0;
    // Creates the last level of `path`; an existing folder or any failure is ignored.
    virtual void CreateDirectory(const std::string& path) = 0;
    // True when both paths name one and the same existing file.
    virtual bool IsSameFile(const std::string& first, const std::string& second) = 0;
    // True when some open of `path` (this process's or another's) holds a lock on it.
    virtual bool IsLocked(const std::string& path) = 0;
    // Names of the entries of a folder (not "." or ".."); empty when it cannot be read.
    virtual std::vector<std::string> ListFolder(const std::string& folder) = 0;

    // Opens for reading and writing, creating a missing file empty and keeping an existing
    // one's contents, at its first byte; locked exclusively. Nothing when it cannot be opened or
    // another process holds a lock on it.
    virtual std::unique_ptr<File> OpenExclusive(const std::string& path) = 0;
    // Opens an existing file for reading only, at its first byte, locked against writers.
    virtual std::unique_ptr<File> OpenForReading(const std::string& path) = 0;
};

// The file system of the platform this build is for.
FileSystem& DefaultFileSystem();

// The path separator of this platform ("/" on Linux, "\" on Windows).
char PathSeparator();
// The folder the pieces go to until the user chooses another.
std::string DefaultOutputFolder();

}  // namespace tessel::platform
