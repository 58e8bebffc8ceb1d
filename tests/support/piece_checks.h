// Checks on the pieces a split wrote, compared slice by slice with its input, and an input split
// for real, ready for a join to be tried on.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/messages.h"
#include "tests/support/temp_folder.h"

namespace tessel::testing {

// Number of pieces a split of `size` bytes into `chunk`-byte pieces writes; an empty input
// still gives one (empty) piece.
inline std::int64_t ExpectedPieces(std::int64_t size, std::int64_t chunk) {
    return size == 0 ? 1 : (size + chunk - 1) / chunk;
}

// "Error - Piece N is damaged", as a join with a checksum file says it.
inline std::string PieceDamaged(int n) {
    return std::string(messages::kPieceOpen) + std::to_string(n) + messages::kPieceDamagedClose;
}

// The bytes of `whole` from `offset`, at most `length` of them.
std::vector<char> Slice(const std::vector<char>& whole, std::int64_t offset, std::int64_t length);

// Whether two byte strings are equal; on a difference, says where, without printing them whole.
::testing::AssertionResult SameBytes(const std::vector<char>& actual,
                                     const std::vector<char>& expected);

// Pieces 1..N of `base`, as many as a split of `input` into `chunk`-byte pieces writes, are
// ordinary files that each hold their slice of `input`.
void ExpectPiecesAreSlices(const std::string& base, const std::vector<char>& input,
                           std::int64_t chunk);
// The same, and no piece N+1 stands after them (a longer split before left none behind).
void ExpectPiecesAreExactlyTheSlices(const std::string& base, const std::vector<char>& input,
                                     std::int64_t chunk);

// Writes pieces 1, 2, ... of `base` with the given sizes, each with its own bytes; returns what
// a join of all of them must give.
std::vector<char> WritePieces(const std::string& base, const std::vector<std::int64_t>& sizes);

// An input of pattern bytes, `name` in a fresh folder, split for real into its folder "out".
struct SplitPieces {
    SplitPieces(const std::string& name, std::int64_t size, std::int64_t chunkSize,
                std::uint32_t seed);
    std::string Piece(std::int64_t n) const;
    std::vector<char> Slice(std::int64_t n) const;

    TempFolder temp;
    std::int64_t chunk;
    std::string input;
    std::string target;  // beside the pieces, where their join goes
    std::vector<char> bytes;
};

}  // namespace tessel::testing
