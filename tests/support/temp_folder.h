// A fresh temporary folder per test, removed with everything in it when the test ends, and the
// file helpers the tests build their inputs and read their results with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace tessel::testing {

class TempFolder {
  public:
    // Made under $TMPDIR (or /tmp), or under `parent` when one is given.
    TempFolder();
    explicit TempFolder(const std::filesystem::path& parent);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The path of `name` inside the folder, as the engine takes it.
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// Owns a descriptor for a test's own reads and writes; closes it when it goes.
class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd();
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// Bytes that differ from one offset to the next, so a misplaced slice is seen.
std::vector<char> PatternBytes(std::int64_t size, std::uint32_t seed = 1);
void WriteFile(const std::string& path, const std::vector<char>& bytes);
// Writes PatternBytes(size, seed) to `path` and returns them, to compare against later.
std::vector<char> WritePattern(const std::string& path, std::int64_t size, std::uint32_t seed = 1);

// Hands the file's bytes to `take` from start to end, at most `blockBytes` at a time, read with
// plain system calls: quick even in instrumented builds, where stream iterators crawl. False
// when the file cannot be opened or read.
bool ReadInBlocks(const std::string& path, std::size_t blockBytes,
                  const std::function<void(std::span<const char>)>& take);
// The whole content of a file; throws when it cannot be read.
std::vector<char> ReadFile(const std::string& path);
// The same, as text.
std::string ReadText(const std::string& path);

// The names in a folder, sorted, to show that nothing was added, removed or left behind; none
// where there is no folder.
std::set<std::string> Names(const std::filesystem::path& folder);

// The inode number of the file `path` names (following a link), to tell a file written in place
// from one replaced by a new file; 0 when there is none.
std::uint64_t InodeOf(const std::string& path);

// How many descriptors this process has open, to show that an operation closed all of its own.
int OpenDescriptorCount();

}  // namespace tessel::testing
