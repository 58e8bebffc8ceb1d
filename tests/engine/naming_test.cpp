#include <gtest/gtest.h>

#include <string>

#include "engine/piece_naming.h"
#include "engine/shared_settings.h"
#include "tests/support/case_names.h"

namespace tessel {
namespace {

struct FileNameCase {
    std::string path;
    char separator;
    std::string expected;
};
const FileNameCase kFileNameCases[] = {
    {"C:\\a\\b.txt", '\\', "b.txt"},
    {"b.txt", '\\', "b.txt"},
    {"C:\\a\\", '\\', ""},
    {"C:b.txt", '\\', "C:b.txt"},
    {"C:/a/b.txt", '\\', "C:/a/b.txt"},
    {"", '\\', ""},
    {"/tmp/a/b.txt", '/', "b.txt"},
    {"/tmp/a/", '/', ""},
    {"dir\\a b.txt", '/', "dir\\a b.txt"},
    {"/x/\xc3\xa9t\xc3\xa9.txt", '/', "\xc3\xa9t\xc3\xa9.txt"},
};

class NamingFileNamePart : public ::testing::TestWithParam<FileNameCase> {};

TEST_P(NamingFileNamePart, FileNamePartKeepsWhatFollowsTheLastSeparatorOnly) {
    const auto& c = GetParam();
    EXPECT_EQ(FileNamePart(c.path, c.separator), c.expected)
        << c.path << " split at '" << c.separator << "'";
}

// "CColonBackslashaBackslashbDottxt_At_Backslash" for "C:\\a\\b.txt" split at '\\'.
INSTANTIATE_TEST_SUITE_P(, NamingFileNamePart, ::testing::ValuesIn(kFileNameCases),
                         [](const auto& test) {
                             return testing::SpelledOut(test.param.path) + "_At_" +
                                    testing::SpelledOut(std::string(1, test.param.separator));
                         });

TEST(Naming, FileNamePartSplitsAtThePlatformSeparatorByDefault) {
    EXPECT_EQ(FileNamePart("/home/user/report.doc"), "report.doc") << "the platform separator";
}

TEST(Naming, PieceNamesCarryThePlainDecimalNumber) {
    EXPECT_EQ(PieceName("x", 10, ".BRK"), "x.10.BRK");
    EXPECT_EQ(PieceName("/tmp/Tessel/report.doc", 1, ".BRK"), "/tmp/Tessel/report.doc.1.BRK");
    EXPECT_EQ(PieceName("/tmp/Tessel/report.doc", 12, ".BRK"), "/tmp/Tessel/report.doc.12.BRK");
    EXPECT_EQ(PieceName("a", kMaxPieces, ".BRK"), "a.32767.BRK");
    // The folder and the name are joined without looking at either.
    EXPECT_EQ(JoinPath("/tmp/Tessel/", "a.txt", '/'), "/tmp/Tessel//a.txt");
    EXPECT_EQ(JoinPath("C:\\temp", "a.txt", '\\'), "C:\\temp\\a.txt");
}

TEST(Naming, StartupDefaultsSetFourValuesAndLeaveTheOthers) {
    SharedSettings fresh;
    SetStartupDefaults(fresh);
    EXPECT_EQ(fresh.OutputFolder, platform::DefaultOutputFolder());
    EXPECT_EQ(fresh.PieceExtension, ".BRK");
    EXPECT_EQ(fresh.ChunkSize, 1457644);
    EXPECT_EQ(fresh.InfoMessage, "");
    EXPECT_EQ(fresh.StatusMessage, "");
    EXPECT_EQ(fresh.PieceCount, 0.0);

    SharedSettings used{"/elsewhere", ".XYZ", 12, "old summary", "old status", 2.5};
    SetStartupDefaults(used);
    EXPECT_EQ(used.OutputFolder, platform::DefaultOutputFolder());
    EXPECT_EQ(used.PieceExtension, ".BRK");
    EXPECT_EQ(used.ChunkSize, 1457644);
    EXPECT_EQ(used.InfoMessage, "");
    EXPECT_EQ(used.StatusMessage, "old status");
    EXPECT_EQ(used.PieceCount, 2.5);
}

}  // namespace
}  // namespace tessel
