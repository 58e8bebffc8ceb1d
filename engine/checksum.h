// SHA-256 of pieces and the checksum file NAME.sha256 that lists them, in the format of GNU
// coreutils' sha256sum, so that any machine can check the pieces with "sha256sum -c".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/piece_naming.h"
#include "platform/file_system.h"
#include "tessel/product.h"

namespace tessel {

using Digest = std::array<std::uint8_t, 32>;

// An incremental SHA-256 (OpenSSL's).
class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(std::span<const std::byte> bytes);
    // The digest of everything given since the last Finish; starts the next one.
    Digest Finish();

  private:
    struct Context;
    std::unique_ptr<Context> context_;
};

// What the first line of a checksum file records: the file the pieces make, how many pieces,
// and how many recovery pieces of which code stand beside them.
struct ChecksumHeader {
    std::string name;  // the file's name, without a folder
    std::int64_t size = 0;
    std::int64_t chunk = 0;
    std::int64_t pieces = 0;
    std::int64_t recovery = 0;
    std::string code;  // the recovery code's name; empty without recovery pieces
};

// The checksum file beside the pieces: the piece's name with this instead of the piece number
// and extension, e.g. report.doc.sha256.
inline constexpr auto& kChecksumSuffix = product::kChecksumSuffix;

// The longest line a checksum file may hold, and so the longest file: one line for each of the
// most pieces and the header. Anything longer is no list Tessel can have to read.
inline constexpr std::int64_t kMaxChecksumLineBytes = 4096;
inline constexpr std::int64_t kMaxChecksumFileBytes =
    (kMaxPieces + kMaxRecoveryPieces + 1) * kMaxChecksumLineBytes;

// The comment line that opens a checksum file, ended by a line feed.
std::string ChecksumHeaderLine(const ChecksumHeader& header);
// Whether a checksum file's first line (without its line end) is the one Tessel writes: only
// such a file is Tessel's to replace.
bool IsTesselHeader(std::string_view firstLine);
// One piece's line, as sha256sum writes it, ended by a line feed.
std::string ChecksumLine(const Digest& digest, std::string_view pieceName);

struct ChecksumList {
    // Tessel's own list has its header; a plain sha256sum list of the pieces has none.
    std::optional<ChecksumHeader> header;
    std::vector<Digest> digests;          // piece n's digest at n - 1
    std::vector<Digest> recoveryDigests;  // recovery piece j's at j - 1

    std::int64_t Pieces() const { return std::ssize(digests); }
    std::int64_t RecoveryPieces() const { return std::ssize(recoveryDigests); }
};

enum class ListReading {
    Complete,       // every piece is listed
    Incomplete,     // Tessel's list with fewer lines than its header counts (a split cut short)
    NotUnderstood,  // not a list of the pieces of that name
};

// Reads a checksum file line by line for the pieces of `name`, as sha256sum -c would: Tessel's
// list (its header, then one line for each piece from 1 to its count, in order, then one for
// each recovery piece it counts, in order), or a plain
// sha256sum list that names exactly pieces 1 to N, in any order. Hex digits of either case,
// lines ended by LF or CR LF, the text and binary forms and the tagged "SHA256 (name) = hex"
// form are all read; comment lines (starting with "#") and empty lines are passed over.
class ChecksumListReader {
  public:
    ChecksumListReader(std::string_view name, std::string_view extension);

    // One line, without its line feed. Returns false once the text can no longer be a list.
    bool AddLine(std::string_view line);
    // What the lines given come to; `list` holds what was read when Complete.
    ListReading Finish(ChecksumList& list);

  private:
    bool AddPieceLine(std::string_view line);

    std::string name_;
    std::string extension_;
    bool first_ = true;
    bool understood_ = true;
    std::optional<ChecksumHeader> header_;
    std::vector<std::optional<Digest>> digests_;  // by piece number, as the lines came
    std::vector<Digest> recoveryDigests_;
};

// Reads the checksum file `listName` of `folder` a line at a time, for the pieces of `name`:
// memory stays small whatever it holds, and a file longer than any list Tessel can have to read,
// or one that is not a regular file (never through a link), is refused without being read.
ListReading ReadChecksumFile(platform::Folder& folder, const std::string& listName,
                             std::string_view name, std::string_view extension, ChecksumList& list);

// The status a join or a check of the pieces gives for a list read that way; nothing for a
// complete list.
std::optional<std::string_view> ListRefusal(ListReading reading);

// The whole of a checksum file's text read at once (for tests and the fuzz targets).
ListReading ParseChecksumFile(std::string_view text, std::string_view name,
                              std::string_view extension, ChecksumList& list);

}  // namespace tessel
