// The erasure code behind recovery pieces: R recovery pieces computed from N data pieces so that
// any R of the N + R pieces can be lost or damaged and rebuilt from the others.
//
// Pieces are numbered from 0: data piece n (file NAME.n.BRK) is n - 1, recovery piece j (file
// NAME.Rj.BRK) is N + j - 1. Every data piece counts as zero-padded to the longest one's length
// L, and every recovery piece is exactly L bytes long, so that it fits wherever the longest
// piece fits; recovery piece j is the sum over data pieces i of Coefficient(j, i) times piece i.
// The code works over GF(2^16), each piece read as little-endian 16-bit words, so it holds for
// every piece count; where L is odd, the last three bytes are one symbol of GF(2^24) instead
// (no 8-bit symbol could serve more than 255 pieces). Recovery piece 1 is the plain XOR of the
// data pieces, and with R = 1 that is the whole code, which then works on single bytes.
//
// The bytes stream through AddProduct in parts of any length at any offset, so that a split and
// a join read each piece once and keep only windows of the pieces they write in memory.
// A RecoveryCode and a RebuildPlan are immutable values: any thread may use them at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tessel {

// A weight of the code: one for the 16-bit words of a piece, one for its 24-bit tail.
struct CodeCoefficient {
    std::uint16_t word = 0;
    std::uint32_t tail = 0;
    bool operator==(const CodeCoefficient&) const = default;
};

class RebuildPlan;

class RecoveryCode {
  public:
    static constexpr int kMaxDataPieces = 32767;
    static constexpr int kMaxRecoveryPieces = 16;

    // The code for N data and R recovery pieces whose longest data piece holds `longest`
    // bytes; nothing when a count is out of range (R = 0 has no code).
    static std::optional<RecoveryCode> Choose(int dataPieces, int recoveryPieces,
                                              std::int64_t longest);
    // The code a checksum file names for N, R and the longest piece; nothing for a name this
    // version does not make for them.
    static std::optional<RecoveryCode> FromName(std::string_view name, int dataPieces,
                                                int recoveryPieces, std::int64_t longest);

    // "xor" or "rs16", to be written beside N and R.
    std::string_view Name() const;
    int DataPieces() const { return dataPieces_; }
    int RecoveryPieces() const { return recoveryPieces_; }
    int PieceCount() const { return dataPieces_ + recoveryPieces_; }

    // The unit the code works on: 1 byte for "xor", a 2-byte word for "rs16". Offsets and
    // lengths below are in bytes; a word starts at an even offset, and the 3-byte tail of an
    // odd length at TailStart().
    std::int64_t WordBytes() const { return IsXor() ? 1 : 2; }
    std::int64_t TailStart() const { return tailStart_; }
    // How long each recovery piece is: the longest data piece's length (a single byte, with
    // nothing to pair it with, is the one length made a word of two).
    std::int64_t RecoveryLength() const { return recoveryLength_; }

    // c(j, i): the weight of data piece i in recovery piece j (both counted from 0).
    CodeCoefficient Coefficient(int recovery, int data) const;

    // Adds `coefficient` times `source` to `window`, word by word: `source` holds a piece's
    // bytes from `sourceOffset` on, `window` another piece's bytes from `windowOffset` on, and
    // the product of the word at an offset lands on the same offset. A source may start or end
    // in the middle of a word (the bytes it lacks count as zeros), so the result does not depend
    // on how a piece is cut into sources; but each word's product changes both of its bytes, so
    // the window must start on a word and hold every word the source touches, and the whole
    // tail where the source touches it (windows that meet at even offsets below the tail, and
    // hold the tail whole, always do).
    // Throws std::invalid_argument when the window does not, or when the code has no such
    // coefficient (only 0 and 1 for "xor").
    void AddProduct(CodeCoefficient coefficient, std::span<const std::byte> source,
                    std::int64_t sourceOffset, std::span<std::byte> window,
                    std::int64_t windowOffset) const;

    // How to rebuild the DATA pieces among `lost` (distinct piece numbers, data and recovery
    // alike) from the pieces left; nothing when more than R are lost or a number is out of range
    // or repeated. Lost recovery pieces are made again with Coefficient, as by a split.
    std::optional<RebuildPlan> PlanRebuild(std::span<const int> lost) const;

  private:
    RecoveryCode(int dataPieces, int recoveryPieces, std::int64_t longest);
    bool IsXor() const { return recoveryPieces_ == 1; }
    void AddTail(std::uint32_t coefficient, std::span<const std::byte> source,
                 std::int64_t sourceOffset, std::byte* tail) const;

    int dataPieces_;
    int recoveryPieces_;
    std::int64_t recoveryLength_;
    std::int64_t tailStart_;  // the recovery length where there is no tail
};

// Which pieces a rebuild reads, and with which coefficients each read piece's bytes add into
// each rebuilt piece: every rebuilt piece starts as RecoveryLength(longest) zeros, and once
// every read piece has been added to it through RecoveryCode::AddProduct with its coefficient,
// holds the lost piece's bytes followed by zeros (a short last piece is padded so). A window
// over only the start of a rebuilt piece needs only the same start of each read piece, up to
// the window's last whole word.
class RebuildPlan {
  public:
    // The lost data pieces, rising; a piece's place here is its place in CoefficientsFor.
    const std::vector<int>& Rebuilt() const { return rebuilt_; }
    // The pieces to read, rising: every data piece not lost, then as many recovery pieces
    // left as there are data pieces to rebuild. Empty when no data piece is lost.
    const std::vector<int>& Reads() const { return reads_; }
    // For a piece of Reads(): one coefficient for each rebuilt piece, in Rebuilt() order.
    // Throws std::invalid_argument for a piece that is not read.
    std::vector<CodeCoefficient> CoefficientsFor(int piece) const;

  private:
    friend class RecoveryCode;
    RebuildPlan(RecoveryCode code, std::vector<int> rebuilt, std::vector<int> recoveryRows);

    RecoveryCode code_;
    std::vector<int> rebuilt_;
    std::vector<int> recoveryRows_;  // the recovery pieces read, counted from 0
    std::vector<int> reads_;
    // inverse_[b * K + a]: weight of recovery row a in rebuilt piece b, for words and tails.
    std::vector<CodeCoefficient> inverse_;
};

}  // namespace tessel
