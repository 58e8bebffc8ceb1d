// The recovery code through its public interface: data pieces are encoded as a split streams
// them (in parts of any length, at odd offsets too), pieces are lost and damaged, and the
// rebuild plan must bring back every lost data piece byte for byte, whichever R pieces go.
#include "engine/recovery_code.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace tessel {
namespace {

using Piece = std::vector<std::byte>;
constexpr std::size_t kWhole = 0;  // as the longest part: each piece in one part

// N random pieces of `chunk` bytes, the last one `last` bytes, as a split cuts a file.
std::vector<Piece> DataPieces(int n, std::size_t chunk, std::size_t last, std::mt19937& random) {
    std::vector<Piece> pieces;
    for (int i = 0; i < n; ++i) {
        pieces.emplace_back(i + 1 < n ? chunk : last);
        for (auto& byte : pieces.back()) byte = static_cast<std::byte>(random());
    }
    return pieces;
}

// target += coefficient * source, in parts of 1 to `longestPart` bytes.
void Add(const RecoveryCode& code, CodeCoefficient coefficient, std::span<const std::byte> source,
         std::span<std::byte> target, std::size_t longestPart, std::mt19937& random) {
    for (std::size_t at = 0, part = 0; at < source.size(); at += part) {
        part = longestPart == kWhole ? source.size() : 1 + random() % longestPart;
        part = std::min(part, source.size() - at);
        code.AddProduct(coefficient, source.subspan(at, part), static_cast<std::int64_t>(at),
                        target, 0);
    }
}

std::vector<Piece> Encode(const RecoveryCode& code, const std::vector<Piece>& data,
                          std::size_t longestPart, std::mt19937& random) {
    std::vector<Piece> recovery(code.RecoveryPieces(),
                                Piece(static_cast<std::size_t>(code.RecoveryLength())));
    for (int i = 0; i < code.DataPieces(); ++i)
        for (int j = 0; j < code.RecoveryPieces(); ++j)
            Add(code, code.Coefficient(j, i), data[i], recovery[j], longestPart, random);
    return recovery;
}

// Damages the lost pieces, so that reading one would show, and rebuilds the lost data pieces
// from what the plan reads; false when the plan is refused or a piece comes back wrong.
bool Rebuilds(const RecoveryCode& code, const std::vector<Piece>& data,
              const std::vector<Piece>& recovery, const std::vector<int>& lost,
              std::mt19937& random) {
    std::vector<Piece> pieces = data;
    pieces.insert(pieces.end(), recovery.begin(), recovery.end());
    std::vector<int> lostData;
    for (const int piece : lost) {
        for (auto& byte : pieces[piece]) byte = ~byte;
        if (piece < code.DataPieces()) lostData.push_back(piece);
    }
    std::sort(lostData.begin(), lostData.end());
    const auto plan = code.PlanRebuild(lost);
    if (!plan || plan->Rebuilt() != lostData) return false;
    std::vector<Piece> rebuilt(lostData.size(), Piece(recovery[0].size()));
    for (const int piece : plan->Reads()) {
        const std::vector<CodeCoefficient> coefficients = plan->CoefficientsFor(piece);
        for (std::size_t b = 0; b < rebuilt.size(); ++b)
            Add(code, coefficients[b], pieces[piece], rebuilt[b], 97, random);
    }
    for (std::size_t b = 0; b < rebuilt.size(); ++b) {
        Piece expected = data[lostData[b]];
        expected.resize(rebuilt[b].size());  // padded with zeros
        if (rebuilt[b] != expected) return false;
    }
    return true;
}

// Every set of at most R of the N + R pieces when they are few; else random sets of R, often
// with the short last piece and a recovery piece.
std::vector<std::vector<int>> LossPatterns(const RecoveryCode& code, std::mt19937& random) {
    std::vector<std::vector<int>> patterns;
    const int pieces = code.PieceCount(), r = code.RecoveryPieces();
    for (unsigned mask = 0; pieces <= 7 && mask < (1u << pieces); ++mask) {
        std::vector<int> pattern;
        for (int piece = 0; piece < pieces; ++piece)
            if (mask & (1u << piece)) pattern.push_back(piece);
        if (static_cast<int>(pattern.size()) <= r) patterns.push_back(pattern);
    }
    for (int k = 0; pieces > 7 && k < 12; ++k) {
        std::vector<int> pattern = {code.DataPieces() - 1, code.DataPieces() + k % r};
        pattern.resize(k % 3 == 0 ? 0 : std::min(r, k % 3));
        while (static_cast<int>(pattern.size()) < r) {
            const int piece = static_cast<int>(random() % pieces);
            if (std::find(pattern.begin(), pattern.end(), piece) == pattern.end())
                pattern.push_back(piece);
        }
        std::shuffle(pattern.begin(), pattern.end(), random);
        patterns.push_back(pattern);
    }
    return patterns;
}

TEST(RecoveryCode, AnyRLossesRebuildAndOneMoreIsRefused) {
    std::mt19937 random(15);
    for (const int n : {1, 2, 3, 254, 255, 256, 300}) {
        for (const int r : {1, 2, 4}) {
            SCOPED_TRACE("N = " + std::to_string(n) + ", R = " + std::to_string(r));
            const auto code = RecoveryCode::Choose(n, r, 37);
            const std::vector<Piece> data = DataPieces(n, 37, n == 1 ? 37 : 19, random);
            const std::vector<Piece> recovery = Encode(*code, data, 11, random);
            // Exactly as long as the longest piece, odd as it is: it fits where that one fits.
            EXPECT_EQ(recovery[0].size(), 37u);
            for (const auto& lost : LossPatterns(*code, random))
                EXPECT_TRUE(Rebuilds(*code, data, recovery, lost, random))
                    << testing::PrintToString(lost);
            std::vector<int> tooMany(r + 1);
            for (int k = 0; k <= r; ++k) tooMany[k] = (k * 7919) % code->PieceCount();
            EXPECT_FALSE(code->PlanRebuild(tooMany)) << testing::PrintToString(tooMany);
        }
    }
}

TEST(RecoveryCode, RebuildsAnyRAmongTheLargestPieceCount) {
    std::mt19937 random(17);
    const int n = RecoveryCode::kMaxDataPieces;
    const auto code = RecoveryCode::Choose(n, RecoveryCode::kMaxRecoveryPieces, 3);
    const std::vector<Piece> data = DataPieces(n, 3, 1, random);
    // Twelve data pieces across the range, the short last one too, and four recovery pieces.
    EXPECT_TRUE(Rebuilds(*code, data, Encode(*code, data, 3, random),
                         {0, 1, 2730, 5461, 10922, 16383, 21844, 27305, 30000, 32000, 32765, n - 1,
                          n, n + 5, n + 10, n + 15},
                         random));
}

TEST(RecoveryCode, ResultDoesNotDependOnHowPiecesAreCutOrWhereTheyLieInMemory) {
    std::mt19937 random(16);
    for (const int r : {1, 4}) {
        SCOPED_TRACE("R = " + std::to_string(r));
        const auto code = RecoveryCode::Choose(5, r, 100001);
        // Longer than the code's scratch copies, odd, with an odd short last piece.
        const std::vector<Piece> data = DataPieces(5, 100001, 40001, random);
        const std::vector<Piece> whole = Encode(*code, data, kWhole, random);
        EXPECT_EQ(Encode(*code, data, 7, random), whole);
        EXPECT_EQ(Encode(*code, data, 65537, random), whole);

        // Sources and windows one byte off an aligned address, windows meeting every 4096 bytes.
        const std::size_t length = whole[0].size(), window = 4096;
        std::vector<Piece> shifted(r, Piece(length + 1));
        for (int i = 0; i < 5; ++i) {
            Piece source(1, std::byte{0});
            source.insert(source.end(), data[i].begin(), data[i].end());
            for (std::size_t at = 0; at < data[i].size(); at += window)
                for (int j = 0; j < r; ++j)
                    code->AddProduct(
                        code->Coefficient(j, i),
                        std::span(source).subspan(1 + at, std::min(window, data[i].size() - at)),
                        static_cast<std::int64_t>(at),
                        std::span(shifted[j]).subspan(1 + at, std::min(window, length - at)),
                        static_cast<std::int64_t>(at));
        }
        for (int j = 0; j < r; ++j)
            EXPECT_TRUE(std::equal(whole[j].begin(), whole[j].end(), shifted[j].begin() + 1));

        Piece parity(length);  // whatever R, the first recovery piece is the XOR of the data
        for (const Piece& piece : data)
            std::transform(piece.begin(), piece.end(), parity.begin(), parity.begin(),
                           std::bit_xor<>());
        EXPECT_EQ(whole[0], parity);
    }
}

TEST(RecoveryCode, RefusesWhatItCannotDo) {
    const auto xorCode = RecoveryCode::Choose(10, 1, 6);
    const auto rsCode = RecoveryCode::Choose(10, 3, 6);
    const auto oddCode = RecoveryCode::Choose(10, 3, 7);
    using Counts = std::pair<int, int>;
    for (const auto& [n, r] :
         {Counts{0, 1}, {1, 0}, {RecoveryCode::kMaxDataPieces + 1, 1}, {5, 17}})
        EXPECT_FALSE(RecoveryCode::Choose(n, r, 6)) << n << ", " << r;
    EXPECT_FALSE(RecoveryCode::Choose(5, 2, -1));
    for (int r = 1; r <= RecoveryCode::kMaxRecoveryPieces; ++r) {
        const std::string name(RecoveryCode::Choose(7, r, 6)->Name());
        EXPECT_EQ(name, r == 1 ? "xor" : "rs16");
        EXPECT_EQ(RecoveryCode::FromName(name, 7, r, 6)->RecoveryPieces(), r);
    }
    using Named = std::pair<const char*, int>;
    for (const auto& [name, r] : {Named{"rs16", 1}, {"xor", 2}, {"RS16", 3}, {"", 3}, {"rs8", 3}})
        EXPECT_FALSE(RecoveryCode::FromName(name, 7, r, 6)) << '"' << name << "\", R = " << r;

    for (const auto& lost : {std::vector{1, 1}, std::vector{13}, std::vector{-1}})
        EXPECT_FALSE(rsCode->PlanRebuild(lost)) << testing::PrintToString(lost);
    const auto plan = rsCode->PlanRebuild(std::vector{2, 11});
    for (const int notRead : {2, 11, 12})
        EXPECT_THROW(plan->CoefficientsFor(notRead), std::invalid_argument);
    EXPECT_TRUE(rsCode->PlanRebuild(std::vector{10, 12})->Reads().empty());
    EXPECT_THROW(rsCode->Coefficient(3, 0), std::invalid_argument);

    Piece source(7), window(7);
    const auto add = [&](const auto& code, std::uint16_t c, std::size_t count, std::int64_t from,
                         std::size_t windowSize, std::int64_t windowFrom) {
        code->AddProduct(CodeCoefficient{c, c}, std::span(source).first(count), from,
                         std::span(window).first(windowSize), windowFrom);
    };
    EXPECT_THROW(add(rsCode, 5, 4, 3, 6, 1), std::invalid_argument);   // window at an odd offset
    EXPECT_THROW(add(rsCode, 5, 4, 2, 6, 4), std::invalid_argument);   // starts after the source
    EXPECT_THROW(add(rsCode, 5, 5, 0, 5, 0), std::invalid_argument);   // lacks the last word's byte
    EXPECT_THROW(add(rsCode, 5, 7, 0, 7, 0), std::invalid_argument);   // past the recovery length
    EXPECT_THROW(add(oddCode, 5, 1, 5, 2, 4), std::invalid_argument);  // lacks part of the tail
    EXPECT_THROW(add(xorCode, 2, 4, 0, 4, 0), std::invalid_argument);  // XOR only adds
    EXPECT_NO_THROW(add(xorCode, 1, 5, 0, 5, 0));
    EXPECT_NO_THROW(add(rsCode, 5, 5, 0, 6, 0));
    EXPECT_NO_THROW(add(oddCode, 5, 1, 5, 3, 4));
    EXPECT_EQ(oddCode->TailStart(), 4);
    EXPECT_EQ(oddCode->RecoveryLength(), 7);
    EXPECT_EQ(RecoveryCode::Choose(10, 3, 1)->RecoveryLength(), 2) << "one byte has no tail";
}

}  // namespace
}  // namespace tessel
