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

// What the first line of a checksum file records: the file the pieces make, and how many.
struct ChecksumHeader {
    std::string name;  // the file's name, without a folder
    std::int64_t size = 0;
    std::int64_t chunk = 0;
    std::int64_t pieces = 0;
};

// The checksum file beside the pieces: the piece's name with this instead of the piece number
// and extension, e.g. report.doc.sha256.
inline constexpr char kChecksumSuffix[] = ".sha256";

// The comment line that opens a checksum file, ended by a line feed.
std::string ChecksumHeaderLine(const ChecksumHeader& header);
// One piece's line, as sha256sum writes it, ended by a line feed.
std::string ChecksumLine(const Digest& digest, std::string_view pieceName);

struct ChecksumList {
    ChecksumHeader header;
    std::vector<Digest> digests;  // piece n's digest at n - 1
};

// Reads a checksum file for the pieces of `name`: the header, then exactly one line for each
// piece from 1 to its count, in order, naming the pieces as `extension` says. Nothing when the
// text cannot be understood or lists fewer pieces than its header counts.
std::optional<ChecksumList> ParseChecksumFile(std::string_view text, std::string_view name,
                                              std::string_view extension);

// The length piece n of a file split as `header` says must have.
std::int64_t ExpectedPieceLength(const ChecksumHeader& header, std::int64_t n);

}  // namespace tessel
