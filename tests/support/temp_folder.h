// A fresh temporary folder per test, removed with everything in it when the test ends.
#pragma once

#include <cstdint>
#include <filesystem>
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

// Bytes that differ from one offset to the next, so a misplaced slice is seen.
std::vector<char> PatternBytes(std::int64_t size, std::uint32_t seed = 1);
void WriteFile(const std::string& path, const std::vector<char>& bytes);
std::vector<char> ReadFile(const std::string& path);

// How many descriptors this process has open, to show that an operation closed all of its own.
int OpenDescriptorCount();

}  // namespace tessel::testing
