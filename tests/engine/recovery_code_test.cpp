// The recovery code through its public interface: data pieces are encoded the way a split
// streams them (parts of any length, at odd offsets too), pieces are lost or damaged, and the
// rebuild plan must bring back every lost data piece byte for byte, whichever R pieces go.
#include "engine/recovery_code.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace tessel {
namespace {

using Piece = std::vector<std::byte>;

constexpr int kRandomPatterns = 12;  // loss patterns tried for each large piece count
constexpr std::size_t kWhole = 0;    // as a longest part: each piece in one part

Piece RandomPiece(std::size_t length, std::mt19937& random) {
    Piece piece(length);
    for (auto& byte : piece) byte = static_cast<std::byte>(random());
    return piece;
}

// N pieces of `chunk` bytes, the last one `last` bytes, as a split cuts a file.
std::vector<Piece> DataPieces(int n, std::size_t chunk, std::size_t last, std::mt19937& random) {
    std::vector<Piece> pieces;
    for (int i = 0; i < n; ++i) pieces.push_back(RandomPiece(i + 1 < n ? chunk : last, random));
    return pieces;
}

// Adds coefficient * source into the whole-piece target in parts of 1 to `longestPart` bytes.
void AddInParts(const RecoveryCode& code, CodeCoefficient coefficient, const Piece& source,
                Piece& target, std::size_t longestPart, std::mt19937& random) {
    for (std::size_t at = 0; at < source.size();) {
        const std::size_t left = source.size() - at;
        const std::size_t part =
            longestPart == kWhole ? left : std::min(left, 1 + random() % longestPart);
        code.AddProduct(coefficient, std::span(source).subspan(at, part),
                        static_cast<std::int64_t>(at), target, 0);
        at += part;
    }
}

std::vector<Piece> Encode(const RecoveryCode& code, const std::vector<Piece>& data,
                          std::size_t longestPart, std::mt19937& random) {
    const auto length = static_cast<std::size_t>(code.RecoveryLength(data.front().size()));
    std::vector<Piece> recovery(code.RecoveryPieces(), Piece(length));
    for (int i = 0; i < code.DataPieces(); ++i)
        for (int j = 0; j < code.RecoveryPieces(); ++j)
            AddInParts(code, code.Coefficient(j, i), data[i], recovery[j], longestPart, random);
    return recovery;
}

// Damages the lost pieces (so that reading one shows), rebuilds the lost data pieces from what
// the plan reads, and checks them against the originals; returns false when refused.
bool RebuildMatches(const RecoveryCode& code, const std::vector<Piece>& data,
                    const std::vector<Piece>& recovery, const std::vector<int>& lost,
                    std::mt19937& random) {
    std::vector<Piece> pieces = data;
    pieces.insert(pieces.end(), recovery.begin(), recovery.end());
    for (const int piece : lost)
        for (auto& byte : pieces[piece]) byte = ~byte;
    const auto plan = code.PlanRebuild(lost);
    if (!plan) return false;
    const std::size_t length = recovery.front().size();
    std::vector<Piece> rebuilt(plan->Rebuilt().size(), Piece(length));
    for (const int piece : plan->Reads()) {
        const auto coefficients = plan->CoefficientsFor(piece);
        for (std::size_t b = 0; b < rebuilt.size(); ++b)
            AddInParts(code, coefficients[b], pieces[piece], rebuilt[b], 97, random);
    }
    std::set<int> lostData;
    for (const int piece : lost)
        if (piece < code.DataPieces()) lostData.insert(piece);
    EXPECT_EQ(plan->Rebuilt(), std::vector<int>(lostData.begin(), lostData.end()));
    for (std::size_t b = 0; b < rebuilt.size(); ++b) {
        Piece expected = data[plan->Rebuilt()[b]];
        expected.resize(length);  // padded with zeros
        EXPECT_EQ(rebuilt[b], expected) << "rebuilt piece " << plan->Rebuilt()[b];
    }
    return true;
}

std::string Describe(const std::vector<int>& lost) {
    std::string text = "lost:";
    for (const int piece : lost) text += " " + std::to_string(piece);
    return text;
}

// Every subset of the N + R pieces with at most R members, for small N.
std::vector<std::vector<int>> EveryPattern(int pieces, int most) {
    std::vector<std::vector<int>> patterns;
    for (unsigned mask = 0; mask < (1u << pieces); ++mask) {
        std::vector<int> pattern;
        for (int piece = 0; piece < pieces; ++piece)
            if (mask & (1u << piece)) pattern.push_back(piece);
        if (static_cast<int>(pattern.size()) <= most) patterns.push_back(pattern);
    }
    return patterns;
}

// R random losses, the short last piece and a recovery piece among them now and then.
std::vector<int> RandomPattern(const RecoveryCode& code, std::mt19937& random) {
    std::set<int> lost;
    if (random() % 2) lost.insert(code.DataPieces() - 1);
    if (random() % 2 && static_cast<int>(lost.size()) < code.RecoveryPieces())
        lost.insert(code.DataPieces() + static_cast<int>(random() % code.RecoveryPieces()));
    while (static_cast<int>(lost.size()) < code.RecoveryPieces())
        lost.insert(static_cast<int>(random() % code.PieceCount()));
    std::vector<int> pattern(lost.begin(), lost.end());
    std::shuffle(pattern.begin(), pattern.end(), random);
    return pattern;
}

TEST(RecoveryCode, AnyRLossesRebuildAndOneMoreIsRefused) {
    std::mt19937 random(15);
    for (const int n : {1, 2, 3, 254, 255, 256, 300}) {
        for (const int r : {1, 2, 4}) {
            SCOPED_TRACE("N = " + std::to_string(n) + ", R = " + std::to_string(r));
            const auto code = RecoveryCode::Choose(n, r);
            ASSERT_TRUE(code);
            const std::vector<Piece> data = DataPieces(n, 37, n == 1 ? 37 : 19, random);
            const std::vector<Piece> recovery = Encode(*code, data, 11, random);
            ASSERT_EQ(recovery.front().size(), r == 1 ? 37u : 38u);
            const auto patterns = n <= 3 ? EveryPattern(n + r, r) : std::vector<std::vector<int>>{};
            for (const auto& lost : patterns)
                EXPECT_TRUE(RebuildMatches(*code, data, recovery, lost, random)) << Describe(lost);
            for (int i = 0; n > 3 && i < kRandomPatterns; ++i) {
                const std::vector<int> lost = RandomPattern(*code, random);
                EXPECT_TRUE(RebuildMatches(*code, data, recovery, lost, random)) << Describe(lost);
            }
            std::vector<int> tooMany = RandomPattern(*code, random);
            for (int piece = 0; static_cast<int>(tooMany.size()) <= r; ++piece)
                if (std::find(tooMany.begin(), tooMany.end(), piece) == tooMany.end())
                    tooMany.push_back(piece);
            EXPECT_FALSE(code->PlanRebuild(tooMany)) << Describe(tooMany);
        }
    }
}

TEST(RecoveryCode, ResultDoesNotDependOnHowPiecesAreCutOrWhereTheyLieInMemory) {
    std::mt19937 random(16);
    for (const int r : {1, 4}) {
        const auto code = RecoveryCode::Choose(5, r);
        // Longer than the code's scratch copies, odd, and the last piece odd too.
        const std::vector<Piece> data = DataPieces(5, 100001, 40001, random);
        const std::vector<Piece> whole = Encode(*code, data, kWhole, random);
        EXPECT_EQ(Encode(*code, data, 7, random), whole) << "R = " << r;
        EXPECT_EQ(Encode(*code, data, 65537, random), whole) << "R = " << r;

        // Sources and windows at odd addresses, windows of 4096 bytes meeting at even offsets.
        const std::size_t length = whole.front().size();
        std::vector<Piece> shifted(r, Piece(length + 1));
        for (int i = 0; i < 5; ++i) {
            Piece source(data[i].size() + 1);
            std::copy(data[i].begin(), data[i].end(), source.begin() + 1);
            const auto bytes = std::span<const std::byte>(source).subspan(1);
            for (std::size_t at = 0; at < bytes.size(); at += 4096) {
                const std::size_t part = std::min<std::size_t>(4096, bytes.size() - at);
                for (int j = 0; j < r; ++j) {
                    auto window = std::span(shifted[j])
                                      .subspan(1 + at, std::min<std::size_t>(4096, length - at));
                    code->AddProduct(code->Coefficient(j, i), bytes.subspan(at, part),
                                     static_cast<std::int64_t>(at), window,
                                     static_cast<std::int64_t>(at));
                }
            }
        }
        for (int j = 0; j < r; ++j)
            EXPECT_TRUE(std::equal(whole[j].begin(), whole[j].end(), shifted[j].begin() + 1))
                << "R = " << r << ", recovery " << j;

        // Whatever R, the first recovery piece is the XOR of the data pieces.
        Piece parity(length);
        for (const Piece& piece : data)
            for (std::size_t k = 0; k < piece.size(); ++k) parity[k] ^= piece[k];
        EXPECT_EQ(whole.front(), parity) << "R = " << r;
    }
}

TEST(RecoveryCode, RebuildsAnyRAmongTheLargestPieceCount) {
    std::mt19937 random(17);
    const int n = RecoveryCode::kMaxDataPieces;
    const int r = RecoveryCode::kMaxRecoveryPieces;
    const auto code = RecoveryCode::Choose(n, r);
    ASSERT_TRUE(code);
    const std::vector<Piece> data = DataPieces(n, 3, 1, random);
    const std::vector<Piece> recovery = Encode(*code, data, 3, random);
    // Twelve data pieces spread over the whole range, the short last one among them, and four
    // recovery pieces: the twelve left must do.
    const std::vector<int> lost = {0,     1,     2730,  5461,  10922, 16383, 21844,  27305,
                                   30000, 32000, 32765, n - 1, n + 0, n + 5, n + 10, n + 15};
    EXPECT_TRUE(RebuildMatches(*code, data, recovery, lost, random));
}

TEST(RecoveryCode, RefusesWhatItCannotDo) {
    const auto xorCode = RecoveryCode::Choose(10, 1);
    const auto rsCode = RecoveryCode::Choose(10, 3);
    ASSERT_TRUE(xorCode && rsCode);

    const std::pair<int, int> outOfRange[] = {
        {0, 1}, {1, 0}, {RecoveryCode::kMaxDataPieces + 1, 1}, {5, 17}, {-1, 2}};
    for (const auto& [n, r] : outOfRange)
        EXPECT_FALSE(RecoveryCode::Choose(n, r)) << n << ", " << r;
    for (int r = 1; r <= RecoveryCode::kMaxRecoveryPieces; ++r) {
        const std::string name(RecoveryCode::Choose(7, r)->Name());
        EXPECT_EQ(name, r == 1 ? "xor" : "rs16");
        const auto named = RecoveryCode::FromName(name, 7, r);
        ASSERT_TRUE(named);
        EXPECT_EQ(named->RecoveryPieces(), r);
    }
    const std::pair<const char*, int> unknown[] = {{"rs16", 1}, {"xor", 2}, {"RS16", 3},
                                                   {"", 3},     {"rs8", 3}, {"rs16 ", 3}};
    for (const auto& [name, r] : unknown)
        EXPECT_FALSE(RecoveryCode::FromName(name, 7, r)) << '"' << name << "\" with R = " << r;
    EXPECT_FALSE(RecoveryCode::FromName("rs16", 0, 3));

    EXPECT_FALSE(rsCode->PlanRebuild(std::vector<int>{1, 1}));
    EXPECT_FALSE(rsCode->PlanRebuild(std::vector<int>{13}));
    EXPECT_FALSE(rsCode->PlanRebuild(std::vector<int>{-1}));
    const auto plan = rsCode->PlanRebuild(std::vector<int>{2, 11});
    ASSERT_TRUE(plan);
    EXPECT_THROW(plan->CoefficientsFor(2), std::invalid_argument);   // lost
    EXPECT_THROW(plan->CoefficientsFor(11), std::invalid_argument);  // lost
    EXPECT_THROW(plan->CoefficientsFor(12), std::invalid_argument);  // not needed
    EXPECT_TRUE(rsCode->PlanRebuild(std::vector<int>{10, 12})->Reads().empty());
    EXPECT_THROW(rsCode->Coefficient(3, 0), std::invalid_argument);
    EXPECT_THROW(rsCode->Coefficient(0, 10), std::invalid_argument);

    Piece source(8), window(10);
    const auto add = [&](const RecoveryCode& code, CodeCoefficient c, std::size_t from,
                         std::size_t count, std::int64_t sourceOffset, std::size_t windowStart,
                         std::size_t windowCount, std::int64_t windowOffset) {
        code.AddProduct(c, std::span(source).subspan(from, count), sourceOffset,
                        std::span(window).subspan(windowStart, windowCount), windowOffset);
    };
    EXPECT_THROW(add(*rsCode, 5, 0, 4, 3, 0, 8, 1),
                 std::invalid_argument);  // window at an odd offset
    EXPECT_THROW(add(*rsCode, 5, 0, 4, 2, 0, 8, 4),
                 std::invalid_argument);  // starts after the source
    EXPECT_THROW(add(*rsCode, 5, 0, 5, 0, 0, 5, 0),
                 std::invalid_argument);  // lacks the last word's byte
    EXPECT_THROW(add(*xorCode, 2, 0, 4, 0, 0, 4, 0), std::invalid_argument);  // XOR only adds
    EXPECT_THROW(add(*xorCode, 1, 0, 5, 0, 0, 4, 0), std::invalid_argument);  // too short
    EXPECT_NO_THROW(add(*xorCode, 1, 0, 5, 0, 0, 5, 0));
    EXPECT_NO_THROW(add(*rsCode, 5, 0, 5, 0, 0, 6, 0));
}

}  // namespace
}  // namespace tessel
