// Inputs the fuzz targets found that broke the batch file or wrote where they must not. Each
// test states what must hold whatever the mend: a name either gives a batch file that the
// command interpreter reads as described, or the failure is reported; no other file is touched.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "engine/join.h"
#include "engine/merge_batch.h"
#include "engine/messages.h"
#include "engine/shared_settings.h"
#include "engine/split.h"
#include "tests/support/case_names.h"
#include "tests/support/checked_runs.h"
#include "tests/support/recording_dialog.h"
#include "tests/support/temp_folder.h"

namespace tessel {
namespace {

using testing::Names;
using testing::PatternBytes;
using testing::ReadFile;
using testing::RecordingDialog;
using testing::SettingsFor;
using testing::TempFolder;
using testing::WriteFile;

constexpr char kNul = '\0';
constexpr char kQuote = '"';
constexpr char kCrLf[] = "\r\n";
constexpr std::int64_t kChunk = 1000;
constexpr std::int64_t kInputSize = 2500;  // three pieces

SharedSettings SettingsInto(const std::string& folder, double pieceCount) {
    SharedSettings settings = SettingsFor(folder, kChunk);
    settings.PieceCount = pieceCount;
    return settings;
}

std::vector<std::string> Lines(const std::string& path) {
    const std::vector<char> bytes = ReadFile(path);
    std::string text(bytes.begin(), bytes.end());
    std::vector<std::string> lines;
    for (auto end = text.find(kCrLf); end != std::string::npos; end = text.find(kCrLf)) {
        lines.push_back(text.substr(0, end));
        text.erase(0, end + 2);
    }
    return lines;
}

std::string Listing(const std::filesystem::path& folder) {
    std::string listing;
    for (const std::string& name : Names(folder)) listing += name + "\n";
    return listing;
}

// True when every run of "%" in the text is of even length, so none is read as a variable.
bool EveryPercentDoubled(const std::string& text) {
    for (auto at = text.find('%'); at != std::string::npos; at = text.find('%', at)) {
        const auto end = std::min(text.find_first_not_of('%', at), text.size());
        if ((end - at) % 2 != 0) return false;
        at = end;
    }
    return true;
}

TEST(FuzzRegression, EchoLineDoublesEveryPercentOfTheName) {
    const TempFolder folder;
    SharedSettings settings = SettingsInto(folder.path().string(), 2.0);

    WriteMergeBatch(settings, "100% a%b%.dat");

    const std::vector<std::string> lines = Lines(folder / "100% a%b%.dat.bat");
    ASSERT_EQ(lines.size(), 9u);
    for (const std::string& line : lines) EXPECT_TRUE(EveryPercentDoubled(line)) << line;
    EXPECT_EQ(lines.back(), "echo \"File '100%% a%%b%%.dat' Successfully merged.\"");
}

// Names a Linux file may bear that hold a double quote, written plainly or as an overlong UTF-8
// sequence, followed by a command: the batch file must never run that command.
const std::pair<const char*, std::string> kQuotingNames[] = {
    {"plain quote", "a\" & echo injected & \"b.dat"},
    {"overlong quote",
     "a\xC0\xA2 & echo injected & \xC0\xA2"
     "b.dat"}};

class FuzzRegressionQuotes : public ::testing::TestWithParam<std::pair<const char*, std::string>> {
};

TEST_P(FuzzRegressionQuotes, NameCannotCloseTheQuotesAroundIt) {
    const std::string& name = GetParam().second;
    const TempFolder folder;
    SharedSettings settings = SettingsInto(folder.path().string(), 3.0);
    settings.InfoMessage.clear();

    WriteMergeBatch(settings, name);

    if (!settings.InfoMessage.empty()) return;  // refusing such a name is a fair mend
    const std::vector<std::string> lines = Lines(folder / (name + ".bat"));
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(std::count(lines[5].begin(), lines[5].end(), kQuote), 4) << lines[5];
    for (std::size_t i = 6; i < 8; ++i)
        EXPECT_EQ(std::count(lines[i].begin(), lines[i].end(), kQuote), 6) << lines[i];
    EXPECT_EQ(std::count(lines[9].begin(), lines[9].end(), kQuote), 2) << lines[9];
}

INSTANTIATE_TEST_SUITE_P(, FuzzRegressionQuotes, ::testing::ValuesIn(kQuotingNames),
                         [](const auto& test) { return testing::CamelCase(test.param.first); });

// A byte sequence that is not UTF-8 but would decode, read leniently, to an ASCII character:
// C0 AE is a full stop and C1 9C a backslash. Taken as such, a Linux name turns into a path
// that climbs out of the folder the batch file runs in.
TEST(FuzzRegression, OverlongUtf8NeverBecomesAsciiInTheBatchFile) {
    const TempFolder folder;
    const std::string name =
        "\xC0\xAE\xC0\xAE\xC1\x9C"
        "evil.dat";
    SharedSettings settings = SettingsInto(folder.path().string(), 1.0);
    settings.InfoMessage.clear();

    WriteMergeBatch(settings, name);

    if (!settings.InfoMessage.empty()) return;  // refusing such a name is a fair mend
    const std::vector<std::string> lines = Lines(folder / (name + ".bat"));
    ASSERT_EQ(lines.size(), 8u);
    const std::string& copy = lines[5];
    EXPECT_EQ(copy.find('\\'), std::string::npos) << copy;
    EXPECT_EQ(copy.find(".."), std::string::npos) << copy;
}

// A NUL ends a path for the operating system, so a name that holds one must not reach the
// system as the shorter name in front of it: that file belongs to the user.
TEST(FuzzRegression, NameWithNulNeverWritesTheFileItsStartNames) {
    const TempFolder folder;
    const std::vector<char> mine = PatternBytes(kInputSize);
    WriteFile(folder / "report.doc", mine);
    SharedSettings settings = SettingsInto(folder.path().string(), 3.0);

    WriteMergeBatch(settings, std::string("report.doc") + kNul + "x");

    EXPECT_EQ(ReadFile(folder / "report.doc"), mine);
    for (const std::string& name : Names(folder.path()))
        EXPECT_TRUE(name == "report.doc" || name.ends_with(".bat")) << name;
}

TEST(FuzzRegression, SplitOfAPathWithNulKeepsTheInputAndItsPieces) {
    const TempFolder folder;
    const std::vector<char> input = PatternBytes(kInputSize);
    WriteFile(folder / "data.bin", input);
    SharedSettings settings = SettingsInto(folder.path().string(), 0.0);
    RecordingDialog dialog;

    const bool split = SplitShowing(settings, (folder / "data.bin") + kNul, dialog);

    const std::string outcome = "split returned " + std::to_string(split) + " with status \"" +
                                settings.StatusMessage + "\"; the folder holds:\n" +
                                Listing(folder.path());
    ASSERT_TRUE(std::filesystem::exists(folder / "data.bin")) << "the input is gone; " << outcome;
    EXPECT_EQ(ReadFile(folder / "data.bin"), input) << outcome;
    if (split) {
        EXPECT_TRUE(std::filesystem::exists(folder / "data.bin.1.BRK")) << outcome;
    }
}

TEST(FuzzRegression, JoinOfAPathWithNulLeavesTheFileItsStartNames) {
    const TempFolder folder;
    const std::vector<char> mine = PatternBytes(kInputSize);
    WriteFile(folder / "data.bin", mine);
    WriteFile(folder / "data.bin.1.BRK", PatternBytes(kChunk, 2));
    SharedSettings settings = SettingsInto(folder.path().string(), 0.0);

    JoinFiles(settings, (folder / "data.bin") + kNul);

    EXPECT_EQ(ReadFile(folder / "data.bin"), mine);
}

}  // namespace
}  // namespace tessel
