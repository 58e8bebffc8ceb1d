#include "tests/support/piece_checks.h"

#include <algorithm>
#include <filesystem>

#include "engine/split.h"
#include "tests/support/checked_runs.h"
#include "tests/support/recording_dialog.h"

namespace tessel::testing {

std::vector<char> Slice(const std::vector<char>& whole, std::int64_t offset, std::int64_t length) {
    const auto size = static_cast<std::int64_t>(whole.size());
    const auto from = std::min(offset, size);
    const auto to = std::min(from + length, size);
    return {whole.begin() + from, whole.begin() + to};
}

::testing::AssertionResult SameBytes(const std::vector<char>& actual,
                                     const std::vector<char>& expected) {
    const auto mismatch =
        std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    if (mismatch.first == actual.end() && mismatch.second == expected.end())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << actual.size() << " bytes where " << expected.size()
           << " were expected; first difference at offset " << (mismatch.first - actual.begin());
}

void ExpectPiecesAreSlices(const std::string& base, const std::vector<char>& input,
                           std::int64_t chunk) {
    const auto count = ExpectedPieces(static_cast<std::int64_t>(input.size()), chunk);
    for (std::int64_t n = 1; n <= count; ++n) {
        ASSERT_TRUE(std::filesystem::is_regular_file(Piece(base, n))) << base << " piece " << n;
        EXPECT_TRUE(SameBytes(ReadFile(Piece(base, n)), Slice(input, (n - 1) * chunk, chunk)))
            << base << " piece " << n;
    }
}

void ExpectPiecesAreExactlyTheSlices(const std::string& base, const std::vector<char>& input,
                                     std::int64_t chunk) {
    ExpectPiecesAreSlices(base, input, chunk);
    const auto after = ExpectedPieces(static_cast<std::int64_t>(input.size()), chunk) + 1;
    EXPECT_FALSE(std::filesystem::exists(Piece(base, after)))
        << base << " piece " << after << " should not exist";
}

std::vector<char> WritePieces(const std::string& base, const std::vector<std::int64_t>& sizes) {
    std::vector<char> whole;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const auto bytes = WritePattern(Piece(base, static_cast<std::int64_t>(i + 1)), sizes[i],
                                        static_cast<std::uint32_t>(i + 7));
        whole.insert(whole.end(), bytes.begin(), bytes.end());
    }
    return whole;
}

SplitPieces::SplitPieces(const std::string& name, std::int64_t size, std::int64_t chunkSize,
                         std::uint32_t seed)
    : chunk(chunkSize),
      input(temp / name),
      target(temp / ("out/" + name)),
      bytes(WritePattern(input, size, seed)) {
    auto settings = SettingsFor(temp / "out", chunk);
    RecordingDialog dialog;
    if (!SplitShowing(settings, input, dialog)) ADD_FAILURE() << "split failed";
}

std::string SplitPieces::Piece(std::int64_t n) const {
    return testing::Piece(target, n);
}

std::vector<char> SplitPieces::Slice(std::int64_t n) const {
    return testing::Slice(bytes, (n - 1) * chunk, chunk);
}

}  // namespace tessel::testing
