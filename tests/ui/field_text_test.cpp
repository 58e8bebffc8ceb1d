#include "ui/field_text.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>

#include "tests/support/case_names.h"

namespace tessel::ui {
namespace {

TEST(FieldText, CutAtNulKeepsTheTextBeforeTheFirstNul) {
    EXPECT_EQ(CutAtNul(std::string("report.doc\0garbage", 18)), "report.doc");
    EXPECT_EQ(CutAtNul(std::string("\0x", 2)), "");
    EXPECT_EQ(CutAtNul("no nul here"), "no nul here");
    EXPECT_EQ(CutAtNul(""), "");
}

TEST(FieldText, AFieldOfBlanksOnlyIsBlank) {
    for (const char* blank : {"", " ", "   ", "\t", " \t  \t"})
        EXPECT_TRUE(IsBlank(blank)) << '"' << blank << '"';
    for (const char* named : {"/", ".", " /tmp/out ", "\tx", "out", "_", "\n", "\r"})
        EXPECT_FALSE(IsBlank(named)) << '"' << named << '"';
    // The window cuts the field at a NUL first; a NUL itself is not a blank.
    EXPECT_FALSE(IsBlank(std::string(" \0 ", 3)));
    EXPECT_TRUE(IsBlank(CutAtNul(std::string(" \0/tmp", 6))));
}

struct ChunkCase {
    std::string text;
    std::optional<std::int64_t> expected;
};
const ChunkCase kChunkCases[] = {
    {"1457644", 1457644},
    {"  1457644 ", 1457644},
    {"+5", 5},
    {"0", 0},
    {"-1", -1},
    {"2147483648", 2147483648},
    {"9223372036854775807", 9223372036854775807},
    {"9223372036854775808", std::nullopt},
    {"-9223372036854775809", std::nullopt},
    {"", std::nullopt},
    {"   ", std::nullopt},
    {"abc", std::nullopt},
    {"12abc", std::nullopt},
    {"1 2", std::nullopt},
    {"1.5", std::nullopt},
    {"-", std::nullopt},
    {"+", std::nullopt},
    {"+-5", std::nullopt},
};

class FieldTextChunkSize : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(FieldTextChunkSize, ChunkSizeMustBeAWholeNumberInTheSigned64BitRange) {
    const auto& c = GetParam();
    EXPECT_EQ(ParseChunkSize(c.text), c.expected) << '"' << c.text << '"';
}

INSTANTIATE_TEST_SUITE_P(, FieldTextChunkSize, ::testing::ValuesIn(kChunkCases),
                         [](const auto& test) { return testing::SpelledOut(test.param.text); });

TEST(FieldText, PresetEntriesGiveTheirMediumSizes) {
    const char* sizes[] = {"1457644",    "1213952",   "2931712",    "4194304",    "104857600",
                           "125829120",  "262144000", "367001600",  "1073741824", "2147483648",
                           "4294967295", "737280000", "4700372992", "0"};
    ASSERT_EQ(std::size(sizes), kPresetEntries.size());
    for (std::size_t i = 0; i < kPresetEntries.size(); ++i) {
        const auto entry = kPresetEntries[i];
        EXPECT_EQ(PresetSizeText(entry), sizes[i]) << entry;
        EXPECT_EQ(entry.size(), i == 5 ? 51u : 50u) << entry;
        EXPECT_TRUE(entry.ends_with(sizes[i])) << entry;
    }
    EXPECT_TRUE(kPresetEntries[1].starts_with("Diskette 5'25 High Density (1.2 MM) "));
    EXPECT_TRUE(kPresetEntries[5].starts_with("SuperDisk LS-120 (120 MB) "));
    EXPECT_EQ(kPresetEntries[10], "USB stick FAT32 (4 GB)                  4294967295");
    EXPECT_EQ(kPresetEntries[11], "CD-R (700 MB)                            737280000");
    EXPECT_EQ(kPresetEntries[12], "DVD+R / DVD-R (4.7 GB)                  4700372992");
    EXPECT_TRUE(kPresetEntries.back().starts_with("Custom "));
    EXPECT_EQ(ParseChunkSize(PresetSizeText(kPresetEntries[9])), 2147483648);
    EXPECT_EQ(ParseChunkSize(PresetSizeText(kPresetEntries[12])), 4700372992);
}

}  // namespace
}  // namespace tessel::ui
