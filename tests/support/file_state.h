// What a file or a whole folder is at one moment, to show that an operation left it exactly as it
// was: the bytes (by digest), the permission bits, the owner and group, a link's target.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace tessel::testing {

// One entry: its permission bits in octal, owner:group, then its length and a digest of its
// bytes, or the target of a link.
std::string StateOf(const std::filesystem::path& path);

// Every entry under `folder` (not following links), by its path relative to the folder.
using Snapshot = std::map<std::string, std::string>;
Snapshot Take(const std::filesystem::path& folder);

}  // namespace tessel::testing
