// The recovery code against the bytes it must give back: random data pieces (the last one
// shorter) are encoded in parts cut at random, up to R random pieces are lost and damaged, and
// the rebuild, again in random parts, must return every lost data piece byte for byte, followed
// by zeros up to the recovery length. One loss more than R is always refused. The pieces and
// windows lie at random addresses, so that every way the bytes can line up with the library's
// alignment is taken.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <random>
#include <span>
#include <vector>

#include "engine/recovery_code.h"
#include "fuzz/fuzz_check.h"

namespace {

using tessel::CodeCoefficient;
using tessel::RecoveryCode;
using tessel::fuzz::Require;

constexpr int kMaxDataPieces = 300;  // past 255, where a code over bytes would stop
constexpr std::size_t kMaxPieceLength = 200;
constexpr std::size_t kMaxShift = 31;  // in bytes, past the library's 16-byte alignment

// A piece's bytes at a random distance from an aligned address.
class ShiftedPiece {
  public:
    ShiftedPiece(std::size_t length, std::size_t shift) : storage_(length + shift), shift_(shift) {}
    std::span<std::byte> bytes() { return std::span(storage_).subspan(shift_); }
    std::span<const std::byte> bytes() const { return std::span(storage_).subspan(shift_); }

  private:
    std::vector<std::byte> storage_;
    std::size_t shift_;
};

class Run {
  public:
    explicit Run(FuzzedDataProvider& input)
        : input_(input), random_(input.ConsumeIntegral<std::uint32_t>()) {}

    // Adds coefficient * source into the whole target piece, in parts of random length.
    void Add(const RecoveryCode& code, CodeCoefficient coefficient,
             std::span<const std::byte> source, std::span<std::byte> target) {
        const std::size_t longestPart = input_.ConsumeIntegralInRange<std::size_t>(1, 64);
        for (std::size_t at = 0; at < source.size();) {
            const std::size_t part = std::min(source.size() - at, 1 + random_() % longestPart);
            code.AddProduct(coefficient, source.subspan(at, part), static_cast<std::int64_t>(at),
                            target, 0);
            at += part;
        }
    }

    ShiftedPiece NewPiece(std::size_t length) {
        return ShiftedPiece(length, input_.ConsumeIntegralInRange<std::size_t>(0, kMaxShift));
    }

    ShiftedPiece RandomPiece(std::size_t length) {
        ShiftedPiece piece = NewPiece(length);
        for (auto& byte : piece.bytes()) byte = static_cast<std::byte>(random_());
        return piece;
    }

    // `count` distinct pieces, the short last data piece among them when the input says so.
    std::vector<int> Losses(const RecoveryCode& code, int count) {
        std::vector<int> pieces(code.PieceCount());
        std::iota(pieces.begin(), pieces.end(), 0);
        int drawn = 0;
        if (count > 0 && input_.ConsumeBool())
            std::swap(pieces[drawn++], pieces[code.DataPieces() - 1]);
        for (int k = drawn; k < count; ++k)
            std::swap(pieces[k], pieces[k + random_() % (pieces.size() - k)]);
        pieces.resize(count);
        std::shuffle(pieces.begin(), pieces.end(), random_);
        return pieces;
    }

  private:
    FuzzedDataProvider& input_;
    std::mt19937 random_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    Run run(input);
    const int n = input.ConsumeIntegralInRange<int>(1, kMaxDataPieces);
    const int r = input.ConsumeIntegralInRange<int>(1, RecoveryCode::kMaxRecoveryPieces);
    const auto chunk = input.ConsumeIntegralInRange<std::size_t>(1, kMaxPieceLength);
    const auto last = n == 1 ? chunk : input.ConsumeIntegralInRange<std::size_t>(1, chunk);
    const auto code = RecoveryCode::Choose(n, r, static_cast<std::int64_t>(chunk));
    Require(code.has_value(), "every N and R in range have a code");
    Require(RecoveryCode::FromName(code->Name(), n, r, static_cast<std::int64_t>(chunk)).has_value(),
            "a code is found by its name");

    std::vector<ShiftedPiece> pieces;
    for (int i = 0; i < n; ++i) pieces.push_back(run.RandomPiece(i + 1 < n ? chunk : last));
    const auto length = static_cast<std::size_t>(code->RecoveryLength());
    Require(length == chunk || (chunk == 1 && r > 1), "a recovery piece is as long as the longest");
    for (int j = 0; j < r; ++j) {
        pieces.push_back(run.NewPiece(length));
        for (int i = 0; i < n; ++i)
            run.Add(*code, code->Coefficient(j, i), pieces[i].bytes(), pieces[n + j].bytes());
    }
    std::vector<std::vector<std::byte>> original;
    for (const auto& piece : pieces)
        original.emplace_back(piece.bytes().begin(), piece.bytes().end());

    const std::vector<int> tooMany = run.Losses(*code, std::min(r + 1, code->PieceCount()));
    Require(static_cast<int>(tooMany.size()) <= r || !code->PlanRebuild(tooMany),
            "more than R losses are refused");

    const std::vector<int> lost = run.Losses(*code, input.ConsumeIntegralInRange<int>(0, r));
    for (const int piece : lost)
        for (auto& byte : pieces[piece].bytes()) byte = ~byte;
    const auto plan = code->PlanRebuild(lost);
    Require(plan.has_value(), "up to R losses have a plan");
    std::vector<ShiftedPiece> rebuilt;
    for (std::size_t b = 0; b < plan->Rebuilt().size(); ++b)
        rebuilt.push_back(run.NewPiece(length));
    for (const int piece : plan->Reads()) {
        Require(std::find(lost.begin(), lost.end(), piece) == lost.end(), "no lost piece is read");
        const auto coefficients = plan->CoefficientsFor(piece);
        for (std::size_t b = 0; b < rebuilt.size(); ++b)
            run.Add(*code, coefficients[b], pieces[piece].bytes(), rebuilt[b].bytes());
    }
    std::vector<int> lostData;
    for (const int piece : lost)
        if (piece < n) lostData.push_back(piece);
    std::sort(lostData.begin(), lostData.end());
    Require(plan->Rebuilt() == lostData, "the plan rebuilds exactly the lost data pieces");
    for (std::size_t b = 0; b < rebuilt.size(); ++b) {
        std::vector<std::byte> expected = original[plan->Rebuilt()[b]];
        expected.resize(length);
        Require(std::equal(expected.begin(), expected.end(), rebuilt[b].bytes().begin(),
                           rebuilt[b].bytes().end()),
                "every lost data piece is rebuilt byte for byte");
    }
    return 0;
}
