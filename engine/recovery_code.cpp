#include "engine/recovery_code.h"

#include <galois.h>
#include <gf_complete.h>
#include <jerasure.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

namespace tessel {
namespace {

// The words of a piece are read in the machine's order; recovery pieces written on one machine
// must rebuild on another, so only little-endian machines are supported.
static_assert(std::endian::native == std::endian::little);

constexpr int kFieldBits = 16;
constexpr std::int64_t kWordBytes = 2;
// The last three bytes of an odd length: one symbol of the wider field.
constexpr int kTailBits = 24;
constexpr std::int64_t kTailBytes = 3;
constexpr char kXorName[] = "xor";
constexpr char kReedSolomonName[] = "rs16";

// A Cauchy matrix: recovery row j stands at the field element j, data piece i at
// kMaxRecoveryPieces + i; all N + 16 elements differ since 32767 + 16 < 2^16 (and 2^24).
constexpr int kFirstDataPoint = RecoveryCode::kMaxRecoveryPieces;

// gf-complete multiplies a region well only when its source and target both start on this
// alignment and it is a whole number of blocks long; given a shorter or unaligned one, it reads
// and writes past the ends. It also takes lengths as int. Everything else goes word by word, or
// through a scratch copy of this size.
constexpr std::uintptr_t kLibraryAlignment = 16;
constexpr std::size_t kLibraryBlock = 32;
constexpr std::size_t kLargestRegion = std::size_t{1} << 30;
constexpr std::size_t kScratchBytes = 16 * 1024;

// jerasure's GF(2^16) (gf-complete's default method, vectorised where the processor can), set
// up once; after that the library only reads it, from any thread.
gf_t* Field() {
    static gf_t* const field = [] {
        if (galois_init_default_field(kFieldBits) != 0 || !galois_get_field_ptr(kFieldBits))
            throw std::runtime_error("GF(2^16) arithmetic is not available");
        return galois_get_field_ptr(kFieldBits);
    }();
    return field;
}

// The wider field, for the tail; only single products are taken in it.
void TailField() {
    static const bool ready = [] {
        if (galois_init_default_field(kTailBits) != 0)
            throw std::runtime_error("GF(2^24) arithmetic is not available");
        return true;
    }();
    (void)ready;
}

std::uint16_t Multiply(int a, int b) {
    return static_cast<std::uint16_t>(galois_single_multiply(a, b, kFieldBits));
}

std::uint32_t MultiplyTail(std::uint32_t a, std::uint32_t b) {
    return static_cast<std::uint32_t>(
        galois_single_multiply(static_cast<int>(a), static_cast<int>(b), kTailBits));
}

std::uintptr_t Address(const std::byte* at) {
    return reinterpret_cast<std::uintptr_t>(at);
}

// Adding is XOR in every field of characteristic 2, so the single-byte code needs no library.
void XorInto(std::span<const std::byte> source, std::byte* target) {
    std::size_t i = 0;
    for (; i + sizeof(std::uint64_t) <= source.size(); i += sizeof(std::uint64_t)) {
        std::uint64_t a, b;
        std::memcpy(&a, source.data() + i, sizeof a);
        std::memcpy(&b, target + i, sizeof b);
        b ^= a;
        std::memcpy(target + i, &b, sizeof b);
    }
    for (; i < source.size(); ++i) target[i] ^= source[i];
}

std::uint16_t LoadWord(const std::byte* at) {
    return static_cast<std::uint16_t>(std::to_integer<unsigned>(at[0]) |
                                      std::to_integer<unsigned>(at[1]) << 8);
}

// Adds coefficient * word to the word at `at`.
void AddWord(std::uint16_t coefficient, std::uint16_t word, std::byte* at) {
    const std::uint16_t product = Multiply(coefficient, word);
    at[0] ^= static_cast<std::byte>(product & 0xFF);
    at[1] ^= static_cast<std::byte>(product >> 8);
}

void AddWordByWord(std::uint16_t coefficient, const std::byte* source, std::byte* target,
                   std::size_t bytes) {
    for (std::size_t at = 0; at < bytes; at += kWordBytes)
        AddWord(coefficient, LoadWord(source + at), target + at);
}

// The library's region multiply-accumulate: `target` aligned, `bytes` whole blocks.
void AddAlignedBlocks(std::uint16_t coefficient, const std::byte* source, std::byte* target,
                      std::size_t bytes) {
    gf_t* field = Field();
    const auto add = [&](const std::byte* from, std::size_t chunk) {
        field->multiply_region.w32(field, const_cast<std::byte*>(from), target, coefficient,
                                   static_cast<int>(chunk), 1);
        source += chunk, target += chunk, bytes -= chunk;
    };
    while (bytes > 0) {
        if (Address(source) % kLibraryAlignment == 0) {
            add(source, std::min(bytes, kLargestRegion));
        } else {
            alignas(kLibraryAlignment) std::byte copy[kScratchBytes];
            const std::size_t chunk = std::min(bytes, kScratchBytes);
            std::memcpy(copy, source, chunk);
            add(copy, chunk);
        }
    }
}

// target += coefficient * source over `bytes` (even) of whole words.
void AddWords(std::uint16_t coefficient, const std::byte* source, std::byte* target,
              std::size_t bytes) {
    if (Address(target) % kWordBytes != 0) {  // the target can never line up: work on a copy
        for (std::size_t at = 0; at < bytes; at += kScratchBytes) {
            alignas(kLibraryAlignment) std::byte copy[kScratchBytes];
            const std::size_t chunk = std::min(bytes - at, kScratchBytes);
            std::memcpy(copy, target + at, chunk);
            AddWords(coefficient, source + at, copy, chunk);
            std::memcpy(target + at, copy, chunk);
        }
        return;
    }
    const std::size_t head = std::min(
        bytes, (kLibraryAlignment - Address(target) % kLibraryAlignment) % kLibraryAlignment);
    const std::size_t blocks = (bytes - head) - (bytes - head) % kLibraryBlock;
    AddWordByWord(coefficient, source, target, head);
    AddAlignedBlocks(coefficient, source + head, target + head, blocks);
    AddWordByWord(coefficient, source + head + blocks, target + head + blocks,
                  bytes - head - blocks);
}

}  // namespace

RecoveryCode::RecoveryCode(int dataPieces, int recoveryPieces, std::int64_t longest)
    : dataPieces_(dataPieces), recoveryPieces_(recoveryPieces) {
    const bool words = !IsXor();
    recoveryLength_ = words && longest == 1 ? kWordBytes : longest;
    tailStart_ = words && recoveryLength_ % kWordBytes != 0 ? recoveryLength_ - kTailBytes
                                                            : recoveryLength_;
}

std::optional<RecoveryCode> RecoveryCode::Choose(int dataPieces, int recoveryPieces,
                                                 std::int64_t longest) {
    if (dataPieces < 1 || dataPieces > kMaxDataPieces) return std::nullopt;
    if (recoveryPieces < 1 || recoveryPieces > kMaxRecoveryPieces) return std::nullopt;
    if (longest < 0) return std::nullopt;
    return RecoveryCode(dataPieces, recoveryPieces, longest);
}

std::optional<RecoveryCode> RecoveryCode::FromName(std::string_view name, int dataPieces,
                                                   int recoveryPieces, std::int64_t longest) {
    const auto code = Choose(dataPieces, recoveryPieces, longest);
    if (!code || code->Name() != name) return std::nullopt;
    return code;
}

std::string_view RecoveryCode::Name() const {
    return IsXor() ? kXorName : kReedSolomonName;
}

// Column i of the Cauchy matrix 1 / (x_j + y_i), divided by its first entry, in each field:
// every square part of it stays invertible, which is what lets any R pieces be rebuilt, and the
// first recovery piece becomes the XOR of the data.
CodeCoefficient RecoveryCode::Coefficient(int recovery, int data) const {
    if (recovery < 0 || recovery >= recoveryPieces_ || data < 0 || data >= dataPieces_)
        throw std::invalid_argument("no such coefficient");
    Field();
    TailField();
    const int y = kFirstDataPoint + data;
    return CodeCoefficient{
        static_cast<std::uint16_t>(galois_single_divide(y, recovery ^ y, kFieldBits)),
        static_cast<std::uint32_t>(galois_single_divide(y, recovery ^ y, kTailBits))};
}

// Each byte of the tail is a symbol of its own times 2^(8 * its place), so that its product can
// be added alone, whatever part of the tail a source holds.
void RecoveryCode::AddTail(std::uint32_t coefficient, std::span<const std::byte> source,
                           std::int64_t sourceOffset, std::byte* tail) const {
    TailField();
    for (std::size_t i = 0; i < source.size(); ++i) {
        const auto place = sourceOffset + static_cast<std::int64_t>(i) - tailStart_;
        const auto symbol = std::to_integer<std::uint32_t>(source[i]) << (8 * place);
        const std::uint32_t product = MultiplyTail(coefficient, symbol);
        for (std::int64_t b = 0; b < kTailBytes; ++b)
            tail[b] ^= static_cast<std::byte>((product >> (8 * b)) & 0xFF);
    }
}

void RecoveryCode::AddProduct(CodeCoefficient coefficient, std::span<const std::byte> source,
                              std::int64_t sourceOffset, std::span<std::byte> window,
                              std::int64_t windowOffset) const {
    const std::int64_t word = WordBytes();
    const std::int64_t sourceEnd = sourceOffset + static_cast<std::int64_t>(source.size());
    const std::int64_t windowEnd = windowOffset + static_cast<std::int64_t>(window.size());
    const bool touchesTail = sourceEnd > tailStart_ && tailStart_ < recoveryLength_;
    const std::int64_t wordsEnd = std::min(sourceEnd, tailStart_);
    if (windowOffset < 0 || windowOffset % word != 0 || sourceOffset < windowOffset ||
        wordsEnd + wordsEnd % word > windowEnd || sourceEnd > recoveryLength_ ||
        (touchesTail && (windowOffset > tailStart_ || windowEnd < recoveryLength_)))
        throw std::invalid_argument("the window must start on a word and hold the source's words");
    if (IsXor() && (coefficient.word > 1 || coefficient.tail > 1))
        throw std::invalid_argument("the XOR code only adds");
    if (source.empty()) return;
    std::byte* target = window.data() + (sourceOffset - windowOffset);
    if (IsXor()) {
        if (coefficient.word != 0) XorInto(source, target);
        return;
    }
    if (touchesTail) {
        const std::int64_t tailFrom = std::max(sourceOffset, tailStart_);
        AddTail(coefficient.tail, source.subspan(static_cast<std::size_t>(tailFrom - sourceOffset)),
                tailFrom, window.data() + (tailStart_ - windowOffset));
        source = source.first(static_cast<std::size_t>(std::max<std::int64_t>(
            0, std::min(sourceEnd, tailStart_) - sourceOffset)));
        if (source.empty()) return;
    }
    if (coefficient.word == 0) return;
    if (sourceOffset % kWordBytes != 0) {  // the source starts with a word's second byte
        AddWord(coefficient.word,
                static_cast<std::uint16_t>(std::to_integer<unsigned>(source[0]) << 8), target - 1);
        source = source.subspan(1);
        ++target;
    }
    if (source.size() % kWordBytes != 0) {  // it ends with a word's first byte
        AddWord(coefficient.word, std::to_integer<std::uint16_t>(source.back()),
                target + source.size() - 1);
        source = source.first(source.size() - 1);
    }
    AddWords(coefficient.word, source.data(), target, source.size());
}

std::optional<RebuildPlan> RecoveryCode::PlanRebuild(std::span<const int> lost) const {
    if (lost.size() > static_cast<std::size_t>(recoveryPieces_)) return std::nullopt;
    std::vector<bool> isLost(PieceCount());
    for (const int piece : lost) {
        if (piece < 0 || piece >= PieceCount() || isLost[piece]) return std::nullopt;
        isLost[piece] = true;
    }
    std::vector<int> rebuilt;
    for (int piece = 0; piece < dataPieces_; ++piece)
        if (isLost[piece]) rebuilt.push_back(piece);
    std::vector<int> recoveryRows;
    for (int row = 0; row < recoveryPieces_ && recoveryRows.size() < rebuilt.size(); ++row)
        if (!isLost[dataPieces_ + row]) recoveryRows.push_back(row);
    return RebuildPlan(*this, std::move(rebuilt), std::move(recoveryRows));
}

// With lost data pieces L read through recovery rows J, each row says
//   sum over l in L of c(j, l) D_l = P_j + sum over the other data pieces i of c(j, i) D_i,
// so D_L is the inverse of the K x K matrix c(J, L) applied to the right-hand sides: only that
// matrix is inverted, and its rows are folded into each read piece's coefficients.
RebuildPlan::RebuildPlan(RecoveryCode code, std::vector<int> rebuilt, std::vector<int> recoveryRows)
    : code_(code), rebuilt_(std::move(rebuilt)), recoveryRows_(std::move(recoveryRows)) {
    const int k = static_cast<int>(rebuilt_.size());
    if (k == 0) return;
    for (int piece = 0; piece < code_.DataPieces(); ++piece)
        if (!std::binary_search(rebuilt_.begin(), rebuilt_.end(), piece)) reads_.push_back(piece);
    for (const int row : recoveryRows_) reads_.push_back(code_.DataPieces() + row);

    // The same matrix in each field: one inverse for the words, one for the tail.
    inverse_.resize(static_cast<std::size_t>(k * k));
    for (const int bits : {kFieldBits, kTailBits}) {
        std::vector<int> matrix, inverse(static_cast<std::size_t>(k * k));
        for (const int row : recoveryRows_) {
            for (const int piece : rebuilt_) {
                const auto weight = code_.Coefficient(row, piece);
                matrix.push_back(static_cast<int>(bits == kFieldBits ? weight.word : weight.tail));
            }
        }
        if (jerasure_invert_matrix(matrix.data(), inverse.data(), k, bits) != 0)
            throw std::logic_error("a Cauchy matrix is always invertible");
        for (std::size_t at = 0; at < inverse.size(); ++at) {
            if (bits == kFieldBits)
                inverse_[at].word = static_cast<std::uint16_t>(inverse[at]);
            else
                inverse_[at].tail = static_cast<std::uint32_t>(inverse[at]);
        }
    }
}

std::vector<CodeCoefficient> RebuildPlan::CoefficientsFor(int piece) const {
    if (!std::binary_search(reads_.begin(), reads_.end(), piece))
        throw std::invalid_argument("the rebuild does not read that piece");
    const std::size_t k = rebuilt_.size();
    std::vector<CodeCoefficient> coefficients(k);
    if (piece >= code_.DataPieces()) {  // a recovery piece: its column of the inverse
        const auto row =
            std::find(recoveryRows_.begin(), recoveryRows_.end(), piece - code_.DataPieces()) -
            recoveryRows_.begin();
        for (std::size_t b = 0; b < k; ++b) coefficients[b] = inverse_[b * k + row];
        return coefficients;
    }
    for (std::size_t a = 0; a < k; ++a) {
        const CodeCoefficient weight = code_.Coefficient(recoveryRows_[a], piece);
        for (std::size_t b = 0; b < k; ++b) {
            coefficients[b].word ^= Multiply(inverse_[b * k + a].word, weight.word);
            coefficients[b].tail ^= MultiplyTail(inverse_[b * k + a].tail, weight.tail);
        }
    }
    return coefficients;
}

}  // namespace tessel
