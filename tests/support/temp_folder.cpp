#include "tests/support/temp_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>

namespace tessel::testing {
namespace {

constexpr std::size_t kReadBlockBytes = std::size_t{1} << 20;

std::filesystem::path MakeUniqueFolder(const std::filesystem::path& parent) {
    std::string pattern = (parent / "tessel-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

std::filesystem::path DefaultParent() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

}  // namespace

TempFolder::TempFolder() : path_(MakeUniqueFolder(DefaultParent())) {}
TempFolder::TempFolder(const std::filesystem::path& parent) : path_(MakeUniqueFolder(parent)) {}

TempFolder::~TempFolder() {
    std::error_code ignored;
    // Folders a test made read-only must become writable again to be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path_, ignored);
}

Fd::~Fd() {
    if (fd_ >= 0) ::close(fd_);
}

std::vector<char> PatternBytes(std::int64_t size, std::uint32_t seed) {
    std::vector<char> bytes(static_cast<std::size_t>(size));
    std::uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

void WriteFile(const std::string& path, const std::vector<char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<char> WritePattern(const std::string& path, std::int64_t size, std::uint32_t seed) {
    auto bytes = PatternBytes(size, seed);
    WriteFile(path, bytes);
    return bytes;
}

bool ReadInBlocks(const std::string& path, std::size_t blockBytes,
                  const std::function<void(std::span<const char>)>& take) {
    const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return false;
    // Left uninitialised: most files read are far smaller than a block.
    const auto block = std::make_unique_for_overwrite<char[]>(blockBytes);
    for (;;) {
        const ssize_t got = ::read(fd.get(), block.get(), blockBytes);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return got == 0;
        take(std::span<const char>(block.get(), static_cast<std::size_t>(got)));
    }
}

std::vector<char> ReadFile(const std::string& path) {
    std::vector<char> bytes;
    const bool read = ReadInBlocks(path, kReadBlockBytes, [&bytes](std::span<const char> block) {
        bytes.insert(bytes.end(), block.begin(), block.end());
    });
    if (!read) throw std::runtime_error("cannot read " + path);
    return bytes;
}

std::string ReadText(const std::string& path) {
    const auto bytes = ReadFile(path);
    return {bytes.begin(), bytes.end()};
}

std::set<std::string> Names(const std::filesystem::path& folder) {
    std::set<std::string> names;
    if (!std::filesystem::exists(folder)) return names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

std::uint64_t InodeOf(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

int OpenDescriptorCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

}  // namespace tessel::testing
