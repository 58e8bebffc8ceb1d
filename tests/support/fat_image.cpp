#include "tests/support/fat_image.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string_view>
#include <vector>

#include "tests/support/run_tool.h"

namespace tessel::testing {
namespace {

namespace fs = std::filesystem;

// mkfs.fat lives in an sbin folder, which a user's PATH often leaves out.
constexpr std::string_view kSystemFolders = "/usr/sbin:/sbin";

// The full path of the executable `name`, looked up on PATH and then in the sbin folders.
std::optional<std::string> FindTool(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(std::string(path ? path : "") + ":" + std::string(kSystemFolders));
    for (std::string folder; std::getline(folders, folder, ':');) {
        if (folder.empty()) continue;
        const fs::path candidate = fs::path(folder) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    return std::nullopt;
}

// Runs an mtools command on the image; mtools takes the image with -i and names its root "::".
ToolRun Mtools(const std::string& command, const std::string& image,
               std::vector<std::string> arguments) {
    std::vector<std::string> line = {command, "-i", image};
    line.insert(line.end(), arguments.begin(), arguments.end());
    return RunTool(fs::path(image).parent_path().string(), line);
}

// The number that mdir prints grouped by threes after a run of blanks ("   1 213 952") just
// before `tail` at the end of one of its lines, e.g. "bytes free".
std::optional<std::int64_t> NumberBefore(const std::string& listing, std::string_view tail) {
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
            line.pop_back();
        if (!line.ends_with(tail)) continue;
        const std::string head = line.substr(0, line.size() - tail.size());
        const auto blanks = head.rfind("  ");
        std::string digits;
        for (const char c : head.substr(blanks == std::string::npos ? 0 : blanks))
            if (c != ' ') digits += c;
        const auto isDigit = [](unsigned char c) { return std::isdigit(c) != 0; };
        if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isDigit)) continue;
        return std::stoll(digits);
    }
    return std::nullopt;
}

}  // namespace

std::string MissingFatTools() {
    std::string missing;
    for (const char* tool : {"mkfs.fat", "mcopy", "mdir"})
        if (!FindTool(tool)) missing += std::string(missing.empty() ? "" : ", ") + tool;
    return missing.empty() ? "" : missing + " not found (install dosfstools and mtools)";
}

bool FormatFat(const std::string& image, std::int64_t kibibytes, bool fat32, std::string& output) {
    const auto mkfs = FindTool("mkfs.fat");
    if (!mkfs) {
        output = "mkfs.fat not found";
        return false;
    }
    std::vector<std::string> line = {*mkfs, "-C"};
    if (fat32) line.insert(line.end(), {"-F", "32"});
    line.insert(line.end(), {image, std::to_string(kibibytes)});
    const auto run = RunTool(fs::path(image).parent_path().string(), line);
    output = run.output;
    return run.exitCode == 0;
}

std::optional<std::int64_t> FatFreeBytes(const std::string& image) {
    const auto run = Mtools("mdir", image, {"::/"});
    if (run.exitCode != 0) return std::nullopt;
    return NumberBefore(run.output, " bytes free");
}

std::optional<std::int64_t> FatFileSize(const std::string& image, const std::string& name) {
    // Listing the one file ends in its total: "1 file   1 213 952 bytes".
    const auto run = Mtools("mdir", image, {"::/" + name});
    if (run.exitCode != 0) return std::nullopt;
    return NumberBefore(run.output, " bytes");
}

bool CopyOntoFat(const std::string& image, const std::string& file, const std::string& name,
                 std::string& output) {
    const auto run = Mtools("mcopy", image, {file, "::/" + name});
    output = run.output;
    std::error_code error;
    const auto size = fs::file_size(file, error);
    return run.exitCode == 0 && !error &&
           FatFileSize(image, name) == static_cast<std::int64_t>(size);
}

bool CopyOffFat(const std::string& image, const std::string& name, const std::string& destination) {
    return Mtools("mcopy", image, {"::/" + name, destination}).exitCode == 0;
}

}  // namespace tessel::testing
