// How pieces are named, how many a file needs and how long each is, and where a path's file name
// starts: the rules the split, the join, the checksum file, the batch file and the start path
// share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace tessel {

// The most pieces a split writes or a join reads.
inline constexpr std::int64_t kMaxPieces = 32767;

// The part of `path` after its last `separator`; the whole text when it has none, empty when
// it ends in one. Only `separator` separates.
std::string FileNamePart(std::string_view path, char separator = platform::PathSeparator());

// The part of `path` before its last `separator`: "." when it has none, the separator alone when
// the path starts with its only one.
std::string FolderOf(std::string_view path, char separator = platform::PathSeparator());

// `folder`, the separator and `name`, joined without any check.
std::string JoinPath(std::string_view folder, std::string_view name,
                     char separator = platform::PathSeparator());

// `base`, ".", n in decimal and `extension`: report.doc, 12, ".BRK" gives report.doc.12.BRK.
std::string PieceName(std::string_view base, std::int64_t n, std::string_view extension);

// What a name of the form BASE.N<extension> says: its base and its number. Nothing for any
// other name: N must be decimal digits from 1 without a leading zero. Numbers too long to hold
// count as the largest there is.
struct PieceOf {
    std::string_view base;
    std::int64_t number = 0;
};
std::optional<PieceOf> ParsePieceName(std::string_view name, std::string_view extension);

// Pieces a file of `size` bytes needs in pieces of `chunk` (> 0) bytes; an empty file still
// gets its one (empty) piece.
std::int64_t PiecesNeeded(std::int64_t size, std::int64_t chunk);

// The length of piece n (from 1) of a file of `size` bytes in pieces of `chunk` bytes.
std::int64_t PieceLength(std::int64_t size, std::int64_t chunk, std::int64_t n);

// The text with blanks (spaces only) taken off both ends.
std::string_view TrimSpaces(std::string_view text);

// The carriage return and line feed that end the lines of the summary and of the batch file.
inline constexpr char kCrLf[] = "\r\n";

}  // namespace tessel
