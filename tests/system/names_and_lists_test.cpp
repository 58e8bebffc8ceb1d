// Names at the edge of what a folder allows, checksum files that Tessel did not write (plain
// sha256sum lists, lists that name other files, links and folders in the list's place, lists far
// longer than any set can need), and pieces whose lengths add up past what a file can hold.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/checksum.h"
#include "engine/join.h"
#include "engine/messages.h"
#include "engine/split.h"
#include "tests/support/case_names.h"
#include "tests/support/checked_runs.h"
#include "tests/support/child_process.h"
#include "tests/support/file_state.h"
#include "tests/support/piece_checks.h"
#include "tests/support/run_tool.h"
#include "tests/support/sanitized.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tmpfs_mount.h"

namespace tessel::testing {
namespace {

namespace fs = std::filesystem;

// The longest name most Linux file systems allow, in bytes.
constexpr int kNameMax = 255;

// Where the long names are split: a folder on the disk, or a medium that cannot make nameless
// files (where the join's new file takes a name of its own).
enum class Place { Disk, MediumWithoutNamelessFiles };

class NamesAndListsLongNames : public ::testing::TestWithParam<Place> {};

// Names of 240 to 255 bytes, split into a folder on the disk and onto a medium that cannot make
// nameless files (where the join's new file takes a name of its own): every name the split
// accepts joins back, and one whose checksum file or last piece would be too long is refused
// before anything is written.
TEST_P(NamesAndListsLongNames,
       EveryNameASplitAcceptsJoinsAndLongerOnesAreRefusedBeforeAnythingIsWritten) {
    constexpr std::int64_t kChunk = 1000;
    TempFolder temp;
    std::optional<FuseMount> medium;
    std::string folder = temp / "out";
    if (GetParam() == Place::MediumWithoutNamelessFiles) {
        medium.emplace(16);
        SKIP_UNLESS_MOUNTED(*medium);
        folder = medium->path();
    }
    fs::create_directory(temp / "in");
    fs::create_directory(temp / "out");

    // Split into three pieces: the list's suffix ".sha256" is the longest one written.
    const auto splitAndJoin = [&](const std::string& name, std::int64_t size, std::int64_t chunk) {
        SCOPED_TRACE(std::to_string(name.size()) + " bytes, " +
                     std::to_string(ExpectedPieces(size, chunk)) + " pieces, into " + folder);
        const auto bytes = WritePattern(temp / ("in/" + name), size, 60);
        const bool fits = std::ssize(name + kChecksumSuffix) <= kNameMax &&
                          std::ssize(Piece(name, ExpectedPieces(size, chunk))) <= kNameMax;
        const auto before = Take(folder);
        auto settings = SettingsFor(folder, chunk);
        settings.InfoMessage = "the summary before";
        const bool split = SplitFile(settings, temp / ("in/" + name));
        fs::remove(temp / ("in/" + name));
        if (!fits) {
            EXPECT_FALSE(split);
            EXPECT_EQ(settings.StatusMessage, messages::kSplitNameTooLong);
            EXPECT_EQ(settings.InfoMessage, "the summary before");
            EXPECT_EQ(Take(folder), before) << "the refused split wrote something";
            return;
        }
        ASSERT_TRUE(split) << settings.StatusMessage;
        const std::string target = folder + "/" + name;
        WritePattern(target, size / 2, 61);  // an older file of that name
        EXPECT_TRUE(JoinFiles(settings, target)) << settings.StatusMessage;
        EXPECT_EQ(settings.StatusMessage, messages::kJoinVerified);
        EXPECT_TRUE(SameBytes(ReadFile(target), bytes));
    };
    for (int length = 240; length <= kNameMax; ++length)
        splitAndJoin(std::string(length - 4, 'n') + ".iso", 5 * kChunk / 2, kChunk);
    // The last piece's number counts too: ten pieces of a 248-byte name fit, a hundred do not.
    const std::string longest(248, 'm');
    splitAndJoin(longest, 10, 1);
    splitAndJoin(longest + "x", 9, 1);
    splitAndJoin(longest.substr(1) + "y", 100, 1);
}

INSTANTIATE_TEST_SUITE_P(, NamesAndListsLongNames,
                         ::testing::Values(Place::Disk, Place::MediumWithoutNamelessFiles),
                         [](const auto& test) {
                             return test.param == Place::Disk ? "OnTheDisk"
                                                              : "OnAMediumWithoutNamelessFiles";
                         });

// A set of four pieces split for real, its own checksum file taken away, and an older file where
// the join goes.
struct ListlessSet {
    ListlessSet() : folder(temp / "out"), target(temp / "out/data.bin") {
        bytes = WritePattern(temp / "data.bin", 4 * kChunk - 7, 62);
        auto settings = SettingsFor(folder, kChunk);
        EXPECT_TRUE(SplitFile(settings, temp / "data.bin")) << settings.StatusMessage;
        fs::remove(target + kChecksumSuffix);
        older = WritePattern(target, 1234, 63);
    }

    // sha256sum's own list of the pieces named, in that order, with its options.
    std::string Sha256sum(const std::vector<int>& pieces,
                          const std::vector<std::string>& options = {}) const {
        std::vector<std::string> command = {"sha256sum"};
        command.insert(command.end(), options.begin(), options.end());
        for (const int n : pieces) command.push_back(fs::path(Piece(target, n)).filename());
        const auto run = RunTool(folder, command);
        EXPECT_EQ(run.exitCode, 0) << run.output;
        return run.output;
    }

    void PutList(const std::string& text) const {
        WriteFile(target + kChecksumSuffix, {text.begin(), text.end()});
    }

    static constexpr std::int64_t kChunk = 8192;
    TempFolder temp;
    std::string folder;
    std::string target;
    std::vector<char> bytes;
    std::vector<char> older;
};

std::string WithCrLf(const std::string& text) {
    std::string crlf;
    for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return crlf;
}

// The digests in upper case; the names left as they are.
std::string UpperCaseHex(const std::string& text) {
    std::string upper = text;
    for (std::size_t line = 0; line < upper.size(); line = upper.find('\n', line) + 1) {
        for (std::size_t i = line; i < line + 64 && i < upper.size(); ++i)
            upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(upper[i])));
        if (upper.find('\n', line) == std::string::npos) break;
    }
    return upper;
}

// A plain list as the real sha256sum writes it, in any order, with CR LF line ends (as a list
// copied through Windows has), with upper-case digests, in its binary and tagged forms: the
// join reads it as the set's own list, and so finds a damaged piece.
const std::vector<int> kInOrder = {1, 2, 3, 4};
const std::vector<int> kShuffled = {3, 1, 4, 2};
struct Form {
    const char* what;
    std::function<std::string(const ListlessSet&)> list;
};
const Form kForms[] = {
    {"in order", [](const ListlessSet& set) { return set.Sha256sum(kInOrder); }},
    {"in another order", [](const ListlessSet& set) { return set.Sha256sum(kShuffled); }},
    {"with CR LF line ends",
     [](const ListlessSet& set) { return WithCrLf(set.Sha256sum(kShuffled)); }},
    {"with upper-case digests",
     [](const ListlessSet& set) { return UpperCaseHex(set.Sha256sum(kInOrder)); }},
    {"all three",
     [](const ListlessSet& set) { return UpperCaseHex(WithCrLf(set.Sha256sum(kShuffled))); }},
    {"in binary mode",
     [](const ListlessSet& set) { return set.Sha256sum(kShuffled, {"--binary"}); }},
    {"tagged",
     [](const ListlessSet& set) { return WithCrLf(set.Sha256sum(kShuffled, {"--tag"})); }},
};

class NamesAndListsPlainList : public ::testing::TestWithParam<Form> {};

TEST_P(NamesAndListsPlainList, APlainSha256sumListOfThePiecesJoinsVerifiedHoweverItIsWritten) {
    const ListlessSet set;
    const auto& form = GetParam();
    const auto intact = ReadFile(Piece(set.target, 2));
    set.PutList(form.list(set));
    WriteFile(set.target, set.older);
    auto settings = SettingsFor(set.folder, ListlessSet::kChunk);
    EXPECT_TRUE(JoinFiles(settings, set.target)) << settings.StatusMessage;
    EXPECT_EQ(settings.StatusMessage, messages::kJoinVerified);
    EXPECT_TRUE(SameBytes(ReadFile(set.target), set.bytes));

    WriteFile(set.target, set.older);
    auto damaged = intact;
    damaged[100] = static_cast<char>(~damaged[100]);
    WriteFile(Piece(set.target, 2), damaged);
    EXPECT_FALSE(JoinFiles(settings, set.target));
    EXPECT_EQ(settings.StatusMessage, PieceDamaged(2));
    EXPECT_TRUE(SameBytes(ReadFile(set.target), set.older));
    WriteFile(Piece(set.target, 2), intact);
}

INSTANTIATE_TEST_SUITE_P(, NamesAndListsPlainList, ::testing::ValuesIn(kForms), NamedByWhat());

// A list that does not name exactly pieces 1 to N of the file, and anything but a regular file
// under the list's name: the join is refused with "The checksum file cannot be read", never
// carried out unchecked, and the older file keeps every byte.
enum class Put { Text, LinkToAGoodList, DanglingLink, Folder };
// The lists a case is made of: sha256sum's of the set, and of two other files beside it.
struct Lists {
    const ListlessSet& set;
    std::string otherFiles;
    std::string wholeList;
};
struct OddList {
    const char* what;
    Put put;
    std::function<std::string(const Lists&)> text;
};
const OddList kOddLists[] = {
    {"a piece left out", Put::Text,
     [](const Lists& l) {
         return l.set.Sha256sum({1, 2, 4});
     }},
    {"a piece listed twice", Put::Text,
     [](const Lists& l) {
         return l.set.Sha256sum({1, 2, 2, 3, 4});
     }},
    {"another file's pieces", Put::Text, [](const Lists& l) { return l.otherFiles; }},
    {"the pieces and another file", Put::Text,
     [](const Lists& l) { return l.wholeList + l.otherFiles.substr(l.otherFiles.find('\n') + 1); }},
    {"a digest cut short", Put::Text, [](const Lists& l) { return l.wholeList.substr(1); }},
    {"text that is no list", Put::Text, [](const Lists&) { return "Download complete.\n"; }},
    {"an empty file", Put::Text, [](const Lists&) { return ""; }},
    {"a link to a good list", Put::LinkToAGoodList, [](const Lists&) { return ""; }},
    {"a dangling link", Put::DanglingLink, [](const Lists&) { return ""; }},
    {"a folder", Put::Folder, [](const Lists&) { return ""; }},
};

class NamesAndListsOddList : public ::testing::TestWithParam<OddList> {};

TEST_P(NamesAndListsOddList,
       AListThatIsNotExactlyThePiecesOrNotAFileIsRefusedAndNeverJoinedUnchecked) {
    const ListlessSet set;
    const std::string list = set.target + kChecksumSuffix;
    WritePattern(set.folder + "/other.bin.1.BRK", 100, 64);
    WriteFile(set.folder + "/README", {'h', 'i', '\n'});
    const auto otherFiles = RunTool(set.folder, {"sha256sum", "other.bin.1.BRK", "README"});
    const auto wholeList = set.Sha256sum({1, 2, 3, 4});
    WriteFile(set.temp / "good.sha256", {wholeList.begin(), wholeList.end()});

    const auto& c = GetParam();
    fs::remove(list);
    switch (c.put) {
        case Put::Text:
            set.PutList(c.text({set, otherFiles.output, wholeList}));
            break;
        case Put::LinkToAGoodList:
            fs::create_symlink(set.temp / "good.sha256", list);
            break;
        case Put::DanglingLink:
            fs::create_symlink(set.temp / "gone.sha256", list);
            break;
        case Put::Folder:
            fs::create_directory(list);
            break;
    }
    const auto before = Take(set.folder);
    auto settings = SettingsFor(set.folder, ListlessSet::kChunk);
    EXPECT_FALSE(JoinFiles(settings, set.target));
    EXPECT_EQ(settings.StatusMessage, messages::kChecksumFileUnreadable);
    EXPECT_EQ(Take(set.folder), before);
}

INSTANTIATE_TEST_SUITE_P(, NamesAndListsOddList, ::testing::ValuesIn(kOddLists), NamedByWhat());

// A plain list names no count: one that names pieces 1 to 3 while piece 4 stands beside them
// is not the whole set, and joining only what it names would hand back a truncated file as
// "joined and verified".
TEST(NamesAndListsChecksumFiles, APlainListThatLeavesOutTheLastPieceIsNeverJoinedAsTheWholeFile) {
    const ListlessSet set;
    set.PutList(set.Sha256sum({1, 2, 3}));
    const auto before = Take(set.folder);
    auto settings = SettingsFor(set.folder, ListlessSet::kChunk);
    EXPECT_FALSE(JoinFiles(settings, set.target)) << settings.StatusMessage;
    EXPECT_EQ(Take(set.folder), before);
}

// The peak of this process's memory from now on, in KiB: the kernel's high-water mark is reset
// first, so that what a forked child inherited from the tests before does not count.
class PeakMemory {
  public:
    PeakMemory() {
        std::ofstream("/proc/self/clear_refs") << "5";
        start_ = Now();
    }
    long GrowthKiB() const { return Now() - start_; }

  private:
    static long Now() {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss;
    }
    long start_ = 0;
};

// The set's own list, followed by comment lines (which a reader passes over) up to `bytes`.
void WriteLongList(const std::string& path, const std::vector<char>& list, std::int64_t bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(list.data(), std::ssize(list));
    const std::string comment = "# " + std::string(4000, 'x') + "\n";
    std::string block;
    while (std::ssize(block) < (1 << 20)) block += comment;
    for (std::int64_t written = std::ssize(list); written < bytes;) {
        const auto put = std::min<std::int64_t>(std::ssize(block), bytes - written);
        out.write(block.data(), put);
        written += put;
    }
}

// A 64 MiB checksum file is read a line at a time, in little memory and soon; one longer than
// the longest list the piece limit allows is refused without being read. Each join runs in a
// child of its own, where its memory is measured.
struct ListSize {
    const char* what;
    std::int64_t bytes;
    bool mayJoin;
};
const ListSize kListSizes[] = {
    {"64 MiB", std::int64_t{64} << 20, true},
    {"a byte beyond the bound", kMaxChecksumFileBytes + 1, false},
};

class NamesAndListsHugeList : public ::testing::TestWithParam<ListSize> {};

TEST_P(NamesAndListsHugeList, AHugeChecksumFileIsReadInLittleMemoryAndOneBeyondTheBoundIsRefused) {
    constexpr long kMaxGrowthKiB = 16 * 1024;
    const auto timeLimit = std::chrono::seconds(Sanitized() ? 30 : 5);
    SplitPieces set("data.bin", 3 * 8192 - 5, 8192, 65);
    const std::string listPath = set.target + kChecksumSuffix;
    const auto list = ReadFile(listPath);
    const auto& size = GetParam();
    WriteLongList(listPath, list, size.bytes);
    ASSERT_EQ(static_cast<std::int64_t>(fs::file_size(listPath)), size.bytes);
    const std::string outcome = TextFromChild([&] {
        const PeakMemory memory;
        const auto start = std::chrono::steady_clock::now();
        auto settings = SettingsFor(set.temp / "unused", set.chunk);
        JoinFiles(settings, set.target);
        const auto took = std::chrono::steady_clock::now() - start;
        std::string result = settings.StatusMessage;
        if (memory.GrowthKiB() >= kMaxGrowthKiB)
            result += "; memory grew by " + std::to_string(memory.GrowthKiB()) + " KiB";
        if (took > timeLimit)
            result += "; took " +
                      std::to_string(
                          std::chrono::duration_cast<std::chrono::milliseconds>(took).count()) +
                      " ms";
        return result;
    });
    if (size.mayJoin && outcome == messages::kJoinVerified)
        EXPECT_TRUE(SameBytes(ReadFile(set.target), set.bytes));
    else
        EXPECT_EQ(outcome, messages::kChecksumFileUnreadable);
}

INSTANTIATE_TEST_SUITE_P(, NamesAndListsHugeList, ::testing::ValuesIn(kListSizes), NamedByWhat());

// Two sparse pieces of 4 EiB each: their lengths add up past the largest file length, which the
// join's check refuses in its failure texts before anything is opened for writing. Without a
// list, and with a plain one naming the three pieces.
class NamesAndListsPieceLengths : public ::testing::TestWithParam<bool> {};

TEST_P(NamesAndListsPieceLengths, PiecesWhoseLengthsOverflowTheTotalEndInTheFailureTexts) {
    const bool withList = GetParam();
    TmpfsMount medium("1m");
    SKIP_UNLESS_MOUNTED(medium);
    const std::string target = medium / "huge.img";
    constexpr std::int64_t kFourExbibytes = std::int64_t{4} << 60;
    for (const int n : {1, 2}) {
        WriteFile(Piece(target, n), {});
        ASSERT_EQ(::truncate(Piece(target, n).c_str(), kFourExbibytes), 0)
            << "tmpfs refused a sparse file of 4 EiB";
    }
    WritePattern(Piece(target, 3), 10, 66);
    WritePattern(target, 100, 67);
    // A plain list naming the three pieces, with digests nothing will ever be compared with.
    std::string list;
    for (const int n : {1, 2, 3})
        list += std::string(64, 'a') + "  " + fs::path(Piece(target, n)).filename().string() + "\n";

    if (withList) WriteFile(target + kChecksumSuffix, {list.begin(), list.end()});
    const auto before = StateOf(target) + StateOf(target + kChecksumSuffix);
    const JoinCheck check = CheckJoin(JoinRequest{target});
    EXPECT_FALSE(check.plan.has_value());
    EXPECT_EQ(check.report.status, messages::kJoinFailed);
    auto settings = SettingsFor(medium.path(), 1000);
    EXPECT_FALSE(JoinFiles(settings, target));
    EXPECT_EQ(settings.StatusMessage, messages::kJoinFailed);
    EXPECT_EQ(settings.InfoMessage,
              messages::kJoinFailedInfoOpen + target + messages::kFailedInfoClose);
    EXPECT_EQ(StateOf(target) + StateOf(target + kChecksumSuffix), before);
    EXPECT_EQ(fs::file_size(Piece(target, 2)), static_cast<std::uintmax_t>(kFourExbibytes));
}

INSTANTIATE_TEST_SUITE_P(, NamesAndListsPieceLengths, ::testing::Bool(), [](const auto& test) {
    return test.param ? "WithAList" : "WithoutAList";
});

}  // namespace
}  // namespace tessel::testing
