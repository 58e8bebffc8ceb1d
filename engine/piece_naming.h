// How pieces are named and where a path's file name starts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace tessel {

// The part of `path` after its last `separator`; the whole text when it has none, empty when
// it ends in one. Only `separator` separates.
std::string FileNamePart(std::string_view path, char separator = platform::PathSeparator());

// `base`, ".", n in decimal and `extension`: report.doc, 12, ".BRK" gives report.doc.12.BRK.
std::string PieceName(std::string_view base, std::int64_t n, std::string_view extension);

// `folder`, the separator and `name`, joined without any check.
std::string JoinPath(std::string_view folder, std::string_view name,
                     char separator = platform::PathSeparator());

// The most pieces a split writes or a join reads.
inline constexpr std::int64_t kMaxPieces = 32767;

}  // namespace tessel
