// tessel-cli end to end: the installed kind of executable run as a user runs it, in its own
// process, with its output, its exit statuses, its files, signals and a terminal.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/piece_naming.h"
#include "engine/shared_settings.h"
#include "tessel/product.h"
#include "tests/cli/cli_process.h"
#include "tests/support/case_names.h"
#include "tests/support/checked_runs.h"
#include "tests/support/run_tool.h"
#include "tests/support/temp_folder.h"

namespace tessel::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kInputSize = 3'000'000;
constexpr std::int64_t kGiB = std::int64_t{1} << 30;
// A long split or join: a sparse file, read quickly, whose pieces take seconds to write.
constexpr std::int64_t kLongInputSize = 4 * kGiB;
constexpr char kSplitCancelled[] = "tessel-cli: The split was cancelled\n";
constexpr char kJoinCancelled[] = "tessel-cli: The join was cancelled\n";
// Ends every usage error, after "Try 'tessel-cli" or "Try 'tessel-cli split" and so on.
constexpr char kTryHelpEnd[] = " --help' for more information.\n";

std::string List(const std::string& base) {
    return base + product::kChecksumSuffix;
}

// A piece damaged as a worn medium damages it: one byte changed, its length kept.
void FlipByte(const std::string& path, std::int64_t offset) {
    auto bytes = ReadFile(path);
    bytes.at(static_cast<std::size_t>(offset)) ^= 0x5a;
    WriteFile(path, bytes);
}

// Every file in a folder and its bytes, to show that nothing was written.
std::map<std::string, std::vector<char>> ContentsOf(const fs::path& folder) {
    std::map<std::string, std::vector<char>> contents;
    for (const auto& entry : fs::directory_iterator(folder))
        contents[entry.path().filename().string()] = ReadFile(entry.path().string());
    return contents;
}

// The names in a folder and below it, sorted, to show that nothing was added or taken away.
std::vector<std::string> NamesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        names.push_back(fs::relative(entry.path(), folder).string());
    std::ranges::sort(names);
    return names;
}

// The checksum file's first line, which records the piece size the split used.
std::string ListHeader(const std::string& path) {
    const auto bytes = ReadFile(path);
    const std::string text(bytes.begin(), bytes.end());
    return text.substr(0, text.find('\n'));
}

std::string ChunkField(std::int64_t bytes) {
    return " chunk=" + std::to_string(bytes) + " ";
}

void MakeSparse(const std::string& path, std::int64_t size) {
    WriteFile(path, {});
    fs::resize_file(path, static_cast<std::uintmax_t>(size));
}

// Four sparse pieces of zeros of `pieceBytes` each, quick to make and slow to read, and their
// list in the format of sha256sum, in `folder`.
void MakeSparseSet(const std::string& folder, std::int64_t pieceBytes) {
    constexpr int kPieces = 4;
    fs::create_directory(folder);
    for (int n = 1; n <= kPieces; ++n) MakeSparse(folder + "/" + Piece("big.bin", n), pieceBytes);
    const auto digest = RunTool(folder, {"sha256sum", Piece("big.bin", 1)});
    ASSERT_EQ(digest.exitCode, 0) << digest.output;
    std::string list;
    for (int n = 1; n <= kPieces; ++n)
        list +=
            digest.output.substr(0, digest.output.find(' ')) + "  " + Piece("big.bin", n) + "\n";
    WriteFile(folder + "/" + List("big.bin"), {list.begin(), list.end()});
}

std::string Listing(const fs::path& folder) {
    std::string text;
    for (const auto& name : NamesIn(folder)) text += name + " ";
    return text;
}

class CliTest : public ::testing::Test {
  protected:
    CliTest() { fs::create_directory(home_); }

    CliRun Cli(const std::vector<std::string>& arguments) const {
        return RunCli(Place(), arguments);
    }
    CliPlace Place() const { return {temp_.path().string(), home_}; }
    std::string At(const std::string& name) const { return temp_ / name; }

    TempFolder temp_;
    const std::string home_ = temp_ / "home";
};

TEST_F(CliTest, RoundTripWithEveryOption) {
    const auto original = WritePattern(At("report.doc"), kInputSize);

    // A size in bytes into a folder of one's own: the window's summary, then its status, each
    // line ending as the terminal's lines do.
    auto run = Cli({"split", "report.doc", "--size", "1000000", "--output", "plain"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out,
              "Selected File : report.doc\nSize of file  : 3000000 bytes  \n"
              " This will require 3 Files.\nSuccessfully broken file into pieces\n");
    for (int n = 1; n <= 3; ++n)
        EXPECT_EQ(fs::file_size(At("plain/" + Piece("report.doc", n))), 1'000'000u);
    EXPECT_FALSE(fs::exists(At("plain/" + Piece("report.doc", 4))));
    EXPECT_EQ(fs::file_size(At("plain/report.doc")), 0u);  // the placeholder

    // Joined from a piece's name: the whole file, checked against its list.
    run = Cli({"join", "plain/" + Piece("report.doc", 2)});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "The Files have been successfully joined and verified\n");
    EXPECT_EQ(ReadFile(At("plain/report.doc")), original);

    // Every form of a size, quietly: the piece size the list records.
    // Units small enough to give many pieces are scaled so that no form writes more than a few.
    const std::vector<std::pair<std::string, std::int64_t>> sizes = {
        {"1457644", 1457644},     {"1234567B", 1234567},      {"3000k", 3000 * 1024},
        {"4000KiB", 4000 * 1024}, {"4000kB", 4'000'000},      {"4000kb", 4'000'000},
        {"700M", 700LL << 20},    {"700mib", 700LL << 20},    {"700MB", 700'000'000},
        {"4G", 4 * kGiB},         {"4GiB", 4 * kGiB},         {"4GB", 4'000'000'000},
        {"1T", 1LL << 40},        {"1tb", 1'000'000'000'000},
    };
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const auto& [text, bytes] = sizes[i];
        const std::string folder = "size" + std::to_string(i);
        run = Cli({"split", "--quiet", "report.doc", "-s", text, "-o", folder});
        EXPECT_EQ(run.status, 0) << text << ": " << run.err;
        EXPECT_EQ(run.out + run.err, "") << text;
        EXPECT_NE(ListHeader(At(folder + "/" + List("report.doc"))).find(ChunkField(bytes)),
                  std::string::npos)
            << text;
    }
    // Joined from the checksum file's name, quietly, over a file that holds data.
    WriteFile(At("size2/report.doc"), {'o', 'l', 'd'});
    run = Cli({"join", "-q", "--force", "size2/" + List("report.doc")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_EQ(ReadFile(At("size2/report.doc")), original);

    // Presets by number and by the start of a label; "cd-r" ends a word in CD-R alone.
    const std::vector<std::pair<std::string, std::int64_t>> presets = {
        {"1", 1457644},
        {"13", 4700372992},
        {"diskette 2", 2931712},
        {"DVD", 4700372992},
        {"cd-r", 737280000},
        {"cd-rom", 367001600},
        {"iomega zip 2", 262144000},
    };
    for (std::size_t i = 0; i < presets.size(); ++i) {
        const auto& [text, bytes] = presets[i];
        const std::string folder = "preset" + std::to_string(i);
        run = Cli({"split", "report.doc", "--preset", text, "--output", folder, "-q"});
        EXPECT_EQ(run.status, 0) << text << ": " << run.err;
        EXPECT_NE(ListHeader(At(folder + "/" + List("report.doc"))).find(ChunkField(bytes)),
                  std::string::npos)
            << text;
    }

    // Recovery pieces: the summary's line on them, each as long as the longest piece and
    // listed after the pieces; joined from a recovery piece's name.
    run = Cli(
        {"split", "report.doc", "--size", "1000000", "--output", "recovery", "--recovery", "2"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "Selected File : report.doc\nSize of file  : 3000000 bytes  \n"
              " This will require 3 Files.\n Plus 2 recovery pieces of 1000000 bytes each.\n"
              "Successfully broken file into pieces\n");
    for (int j = 1; j <= 2; ++j)
        EXPECT_EQ(fs::file_size(At("recovery/" + RecoveryPiece("report.doc", j))), 1'000'000u);
    EXPECT_FALSE(fs::exists(At("recovery/" + RecoveryPiece("report.doc", 3))));
    const auto list = ReadFile(At("recovery/" + List("report.doc")));
    const std::string listText(list.begin(), list.end());
    EXPECT_TRUE(listText.ends_with("  " + RecoveryPiece("report.doc", 2) + "\n")) << listText;
    run = Cli({"join", "recovery/" + RecoveryPiece("report.doc", 1)});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "The Files have been successfully joined and verified\n");
    EXPECT_EQ(ReadFile(At("recovery/report.doc")), original);

    // The batch file lists the pieces, and only those: no recovery piece.
    run = Cli(
        {"split", "report.doc", "--size", "1000000", "--output", "batch", "--batch", "-r", "1"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\n Plus 1 recovery piece of 1000000 bytes.\n"), std::string::npos)
        << run.out;
    EXPECT_TRUE(fs::exists(At("batch/" + RecoveryPiece("report.doc", 1))));
    const auto batch = ReadFile(At("batch/report.doc.bat"));
    const std::string batchText(batch.begin(), batch.end());
    EXPECT_NE(batchText.find(Piece("report.doc", 3)), std::string::npos) << batchText;
    EXPECT_EQ(batchText.find(Piece("report.doc", 4)), std::string::npos) << batchText;
    EXPECT_EQ(batchText.find(".R1"), std::string::npos) << batchText;

    // Without --output the pieces go to Tessel in the home folder, in preset 1's size.
    run = Cli({"split", At("report.doc")});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string tessel = home_ + "/Tessel/";
    EXPECT_EQ(fs::file_size(tessel + Piece("report.doc", 1)), std::uintmax_t{kDefaultChunkSize});
    EXPECT_EQ(fs::file_size(tessel + Piece("report.doc", 3)),
              std::uintmax_t{kInputSize - 2 * kDefaultChunkSize});
    run = Cli({"join", tessel + "report.doc"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadFile(tessel + "report.doc"), original);
}

TEST_F(CliTest, JoinLeavesAFileThatHoldsDataAloneWithoutForce) {
    WritePattern(At("report.doc"), kInputSize);
    ASSERT_EQ(Cli({"split", "-q", "report.doc", "-s", "1M", "-o", "set"}).status, 0);
    const std::vector<char> precious = {'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'};
    const std::vector<std::string> names = {"set/report.doc", "set/" + Piece("report.doc", 1),
                                            "set/" + List("report.doc")};
    for (const std::string& given : names) {
        WriteFile(At("set/report.doc"), precious);
        const auto before = NamesIn(temp_.path());
        const auto run = Cli({"join", given});
        EXPECT_EQ(run.status, 1) << given;
        EXPECT_EQ(run.out, "") << given;
        EXPECT_EQ(run.err,
                  "tessel-cli: set/report.doc already holds 8 bytes: give --force to replace it\n")
            << given;
        EXPECT_EQ(ReadFile(At("set/report.doc")), precious) << given;
        EXPECT_EQ(NamesIn(temp_.path()), before) << given;
    }
}

TEST_F(CliTest, FailuresTellTheEngineTextsAndWriteTheBatchFileAsTheWindowDoes) {
    // A file that is not there: the split fails, and the batch file asked for is still written.
    fs::create_directory(At("out"));
    auto run = Cli({"split", "missing.doc", "--output", "out", "--batch"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "tessel-cli: Error - Unable to break file into pieces\n"
              "tessel-cli: Tessel could not break file [missing.doc].\n");
    EXPECT_TRUE(fs::exists(At("out/missing.doc.bat"))) << Listing(At("out"));

    // The empty file a split leaves is refused, and a refused split writes nothing at all.
    WritePattern(At("report.doc"), kInputSize);
    ASSERT_EQ(Cli({"split", "-q", "report.doc", "-s", "1M", "-o", "set"}).status, 0);
    const auto before = NamesIn(temp_.path());
    run = Cli({"split", "set/report.doc", "--output", "set", "--batch"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "tessel-cli: Error - This is the empty file left beside its pieces: use Join to "
              "rebuild it\n");
    EXPECT_EQ(NamesIn(temp_.path()), before);

    // A missing piece is named, and the join writes nothing.
    fs::remove(At("set/" + Piece("report.doc", 2)));
    const auto withoutPiece = NamesIn(temp_.path());
    run = Cli({"join", "set/report.doc"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "tessel-cli: Error - Piece 2 is missing\n"
              "tessel-cli: Tessel could not join pieces into a file [set/report.doc].\n");
    EXPECT_EQ(fs::file_size(At("set/report.doc")), 0u);
    EXPECT_EQ(NamesIn(temp_.path()), withoutPiece);
}

// report.doc in three pieces of 1 MiB (the last shorter) with two recovery pieces, in "set", and
// a copy of them in "pristine" that puts the set back as it was written.
class CliSetTest : public CliTest {
  protected:
    static constexpr std::int64_t kLastPiece = kInputSize - 2 * (1 << 20);
    static constexpr char kTooManyLost[] =
        "tessel-cli: Error - 3 pieces are missing or damaged, at most 2 can be rebuilt\n"
        "tessel-cli: Tessel could not join pieces into a file [set/report.doc].\n";

    void SetUp() override {
        original_ = WritePattern(At("report.doc"), kInputSize);
        const auto split = Cli({"split", "-q", "report.doc", "-s", "1M", "-o", "set", "-r", "2"});
        ASSERT_EQ(split.status, 0) << split.err;
        fs::copy(At("set"), At("pristine"));
    }
    void Restore() const {
        fs::remove_all(At("set"));
        fs::copy(At("pristine"), At("set"));
    }
    std::string InSet(const std::string& name) const { return At("set/" + name); }

    // verify's lines for the pieces 1 to 3 and then the recovery pieces, one word each, with
    // the paths in `folder` as given.
    static std::string Lines(const std::string& folder, const std::vector<std::string>& words) {
        constexpr std::int64_t kPieces = 3;
        std::string lines;
        for (std::int64_t i = 0; i < std::ssize(words); ++i) {
            const auto name = i < kPieces ? Piece("report.doc", i + 1)
                                          : RecoveryPiece("report.doc", i - kPieces + 1);
            lines += folder + name + ": " + words[static_cast<std::size_t>(i)] + "\n";
        }
        return lines;
    }

    std::vector<char> original_;
};

TEST_F(CliSetTest, VerifyTellsEveryPieceAndWhetherTheFileCanBeJoined) {
    const std::vector<std::string> whole(5, "OK");
    const auto pristine = ContentsOf(At("set"));
    // A good set, whichever of its names is given: every line OK, and status 0.
    for (const std::string& given :
         {std::string("set/report.doc"), "set/" + Piece("report.doc", 2),
          "set/" + RecoveryPiece("report.doc", 2), "set/" + List("report.doc")}) {
        const auto run = Cli({"verify", given});
        EXPECT_EQ(run.status, 0) << given << run.err;
        EXPECT_EQ(run.err, "") << given;
        EXPECT_EQ(run.out,
                  Lines("set/", whole) + "set/report.doc can be joined: every piece is intact\n")
            << given;
    }
    // Given without a folder: bare names, as sha256sum -c prints them in the pieces' folder.
    CliPlace inSet = Place();
    inSet.folder = At("set");
    auto run = RunCli(inSet, {"verify", "report.doc"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, Lines("", whole) + "report.doc can be joined: every piece is intact\n");
    run = Cli({"verify", "--quiet", "set/report.doc"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_EQ(ContentsOf(At("set")), pristine);

    // A checksum file cut short by a line, and none at all: the engine's texts, no piece lines.
    Restore();
    auto list = ReadFile(InSet(List("report.doc")));
    list.pop_back();
    list.erase(std::find(list.rbegin(), list.rend(), '\n').base(), list.end());
    WriteFile(InSet(List("report.doc")), list);
    run = Cli({"verify", "set/report.doc"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "tessel-cli: Error - The checksum file is incomplete\n"
              "tessel-cli: Tessel could not join pieces into a file [set/report.doc].\n");
    fs::remove(InSet(List("report.doc")));
    run = Cli({"verify", "set/" + Piece("report.doc", 1)});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "tessel-cli: Error - The checksum file cannot be read\n"
              "tessel-cli: Tessel could not join pieces into a file [set/report.doc].\n");

    // A set written without recovery pieces: no rebuild to offer.
    ASSERT_EQ(Cli({"split", "-q", "report.doc", "-s", "1M", "-o", "plain"}).status, 0);
    fs::remove(At("plain/" + Piece("report.doc", 3)));
    run = Cli({"verify", "plain/report.doc"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, Lines("plain/", {"OK", "OK", "MISSING"}) +
                           "plain/report.doc cannot be joined: 1 piece is missing or damaged\n");
}

// One way a set is harmed, verify's word for each piece and recovery piece, and its verdict.
class CliSetVerifyHarm;
struct Harm {
    std::string what;
    std::function<void(const CliSetVerifyHarm&)> harm;
    std::vector<std::string> words;
    std::string verdict;
};

class CliSetVerifyHarm : public CliSetTest, public ::testing::WithParamInterface<Harm> {
  public:
    static std::vector<Harm> Cases();
};

std::vector<Harm> CliSetVerifyHarm::Cases() {
    return {
        {"a missing piece",
         [](const CliSetVerifyHarm& set) { fs::remove(set.InSet(Piece("report.doc", 2))); },
         {"OK", "MISSING", "OK", "OK", "OK"},
         " can be rebuilt from its recovery pieces: 1 piece is missing or damaged, at most 2 can "
         "be rebuilt"},
        {"a piece with a byte changed and one cut short",
         [](const CliSetVerifyHarm& set) {
             FlipByte(set.InSet(Piece("report.doc", 3)), kLastPiece - 1);
             fs::resize_file(set.InSet(Piece("report.doc", 1)), 1000);
         },
         {"DAMAGED", "OK", "DAMAGED", "OK", "OK"},
         " can be rebuilt from its recovery pieces: 2 pieces are missing or damaged, at most 2 can "
         "be rebuilt"},
        {"a damaged recovery piece",
         [](const CliSetVerifyHarm& set) {
             FlipByte(set.InSet(RecoveryPiece("report.doc", 1)), 0);
         },
         {"OK", "OK", "OK", "DAMAGED", "OK"},
         " can be joined, but 1 recovery piece is missing or damaged"},
        {"a recovery piece missing and one grown longer",
         [](const CliSetVerifyHarm& set) {
             fs::remove(set.InSet(RecoveryPiece("report.doc", 1)));
             fs::resize_file(set.InSet(RecoveryPiece("report.doc", 2)), 1 << 21);
         },
         {"OK", "OK", "OK", "MISSING", "DAMAGED"},
         " can be joined, but 2 recovery pieces are missing or damaged"},
        {"more lost than the recovery pieces make up for",
         [](const CliSetVerifyHarm& set) {
             fs::remove(set.InSet(Piece("report.doc", 1)));
             FlipByte(set.InSet(Piece("report.doc", 2)), 12345);
             fs::remove(set.InSet(RecoveryPiece("report.doc", 2)));
         },
         {"MISSING", "DAMAGED", "OK", "OK", "MISSING"},
         " cannot be joined: 3 pieces are missing or damaged, at most 2 can be rebuilt"},
    };
}

TEST_P(CliSetVerifyHarm, VerifyTellsEveryPieceAndWhetherTheFileCanBeJoined) {
    const auto& [what, harm, words, verdict] = GetParam();
    harm(*this);
    const auto harmed = ContentsOf(At("set"));
    auto run = Cli({"verify", "set/report.doc"});
    EXPECT_EQ(run.status, 1) << what;
    EXPECT_EQ(run.err, "") << what;
    EXPECT_EQ(run.out, Lines("set/", words) + "set/report.doc" + verdict + "\n") << what;
    run = Cli({"verify", "-q", "set/" + Piece("report.doc", 3)});
    EXPECT_EQ(run.status, 1) << what;
    EXPECT_EQ(run.out + run.err, "") << what;
    EXPECT_EQ(ContentsOf(At("set")), harmed) << what << ": verify wrote";
}

INSTANTIATE_TEST_SUITE_P(, CliSetVerifyHarm, ::testing::ValuesIn(CliSetVerifyHarm::Cases()),
                         [](const auto& test) { return CamelCase(test.param.what); });

TEST_F(CliSetTest, RepairWritesOnlyTheLostPiecesAnewAndTheJoinThenRebuildsNothing) {
    const auto pristine = ContentsOf(At("pristine"));
    fs::remove(InSet(Piece("report.doc", 2)));
    FlipByte(InSet(RecoveryPiece("report.doc", 1)), 4096);
    const std::vector<std::string> intact = {Piece("report.doc", 1), Piece("report.doc", 3),
                                             RecoveryPiece("report.doc", 2)};
    std::vector<std::pair<ino_t, fs::file_time_type>> intactFiles;
    for (const auto& name : intact)
        intactFiles.emplace_back(InodeOf(InSet(name)), fs::last_write_time(InSet(name)));

    auto run = Cli({"repair", "set/" + List("report.doc")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out,
              "set/report.doc.2.BRK: REPAIRED\nset/report.doc.R1.BRK: REPAIRED\n"
              "set/report.doc: 2 pieces repaired, every piece is intact\n");
    EXPECT_EQ(ContentsOf(At("set")), pristine);
    for (std::size_t i = 0; i < intact.size(); ++i) {
        EXPECT_EQ(InodeOf(InSet(intact[i])), intactFiles[i].first) << intact[i];
        EXPECT_EQ(fs::last_write_time(InSet(intact[i])), intactFiles[i].second) << intact[i];
    }
    EXPECT_EQ(fs::status(InSet(Piece("report.doc", 2))).permissions(),
              fs::status(At("pristine/" + Piece("report.doc", 2))).permissions());

    // Whole again: verify finds nothing, a join rebuilds nothing, a repair has nothing to do.
    run = Cli({"verify", "set/report.doc"});
    EXPECT_EQ(run.status, 0) << run.out;
    run = Cli({"join", "set/report.doc"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "The Files have been successfully joined and verified\n");
    EXPECT_EQ(ReadFile(InSet("report.doc")), original_);
    const auto joined = ContentsOf(At("set"));
    run = Cli({"repair", "set/report.doc"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "set/report.doc: every piece is intact, nothing to repair\n");
    EXPECT_EQ(ContentsOf(At("set")), joined);

    // One piece cut short, quietly.
    fs::resize_file(InSet(Piece("report.doc", 3)), 10);
    run = Cli({"repair", "-q", "set/" + RecoveryPiece("report.doc", 1)});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_EQ(ContentsOf(At("set")), joined);

    // More lost than the recovery pieces make up for: refused, nothing written.
    fs::remove(InSet(Piece("report.doc", 1)));
    fs::remove(InSet(Piece("report.doc", 2)));
    FlipByte(InSet(RecoveryPiece("report.doc", 2)), 7);
    const auto harmed = ContentsOf(At("set"));
    run = Cli({"repair", "set/report.doc"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, kTooManyLost);
    EXPECT_EQ(ContentsOf(At("set")), harmed);
}

TEST_F(CliSetTest, JoinRebuildsLostPiecesAndLeavesThePiecesAsTheyAre) {
    fs::remove(InSet(Piece("report.doc", 1)));
    auto run = Cli({"join", "set/" + Piece("report.doc", 3)});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "The Files have been successfully joined and verified, 1 piece rebuilt\n");
    EXPECT_EQ(ReadFile(InSet("report.doc")), original_);
    EXPECT_FALSE(fs::exists(InSet(Piece("report.doc", 1))));

    // Two lost, over the file just joined.
    FlipByte(InSet(Piece("report.doc", 2)), 0);
    run = Cli({"join", "--force", "set/report.doc"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "The Files have been successfully joined and verified, 2 pieces rebuilt\n");
    EXPECT_EQ(ReadFile(InSet("report.doc")), original_);
    EXPECT_NE(ReadFile(InSet(Piece("report.doc", 2))),
              ReadFile(At("pristine/" + Piece("report.doc", 2))));

    // One more than the recovery pieces make up for: the file keeps its bytes.
    fs::remove(InSet(RecoveryPiece("report.doc", 2)));
    const std::vector<char> old = {'o', 'l', 'd'};
    WriteFile(InSet("report.doc"), old);
    const auto before = NamesIn(temp_.path());
    run = Cli({"join", "--force", "set/report.doc"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, kTooManyLost);
    EXPECT_EQ(ReadFile(InSet("report.doc")), old);
    EXPECT_EQ(NamesIn(temp_.path()), before);
}

// A set written without recovery pieces has nothing to rebuild a piece from: repair refuses,
// and says so counting one piece as one.
TEST_F(CliTest, RepairOfASetWithoutRecoveryPiecesRefusesInWordsThatFitOnePiece) {
    WritePattern(At("report.doc"), kInputSize);
    ASSERT_EQ(Cli({"split", "-q", "report.doc", "-s", "1M", "-o", "plain"}).status, 0);
    fs::remove(At("plain/" + Piece("report.doc", 3)));
    const auto before = NamesIn(temp_.path());
    const auto run = Cli({"repair", "plain/report.doc"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.starts_with("tessel-cli: Error - ")) << run.err;
    EXPECT_EQ(run.err.find("1 pieces"), std::string::npos) << run.err;
    EXPECT_EQ(NamesIn(temp_.path()), before);
}

// Each run: the signal sent once piece 2 is begun (piece 1 written whole and flushed), and a
// signal the program was started with ignored, sent before it, which must change nothing.
struct SignalCase {
    int signal;
    int ignored;
};
const SignalCase kSignalCases[] = {{SIGINT, SIGHUP}, {SIGTERM, SIGINT}, {SIGHUP, SIGTERM}};

class CliSignals : public CliTest, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(CliSignals, SignalsStopASplitWhichTakesBackItsPieces) {
    MakeSparse(At("big.bin"), kLongInputSize);
    const auto [signal, ignored] = GetParam();
    const std::string folder = "out" + std::to_string(signal);
    CliPlace place = Place();
    place.ignoredSignals = {ignored};
    CliProcess split(place, {"split", "big.bin", "--size", "256M", "--output", folder, "--batch"});
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(At(folder + "/" + Piece("big.bin", 2))); }));
    split.Signal(ignored);
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(At(folder + "/" + Piece("big.bin", 3))); }))
        << "a signal ignored from the start stopped the split";
    split.Signal(signal);
    const auto run = split.Finish();
    EXPECT_EQ(run.status, 128 + signal);
    EXPECT_NE(run.out.find(" This will require 16 Files."), std::string::npos) << run.out;
    // Standard error is a file: the cancel alone, no progress.
    EXPECT_EQ(run.err, kSplitCancelled);
    for (const auto& name : NamesIn(At(folder))) {
        EXPECT_FALSE(name.ends_with(kDefaultPieceExtension)) << name;
        EXPECT_FALSE(name.ends_with(product::kChecksumSuffix)) << name;
        EXPECT_FALSE(name.ends_with(".bat")) << "a batch file lists pieces that are gone";
    }
}

// "SIGINT_IgnoringSIGHUP" and so on.
INSTANTIATE_TEST_SUITE_P(, CliSignals, ::testing::ValuesIn(kSignalCases), [](const auto& test) {
    return std::string("SIG") + ::sigabbrev_np(test.param.signal) + "_IgnoringSIG" +
           ::sigabbrev_np(test.param.ignored);
});

TEST_F(CliTest, SignalsStopAJoinVerifyOrRepairAndNothingChanges) {
    MakeSparseSet(At("set"), kGiB / 2);
    const std::vector<char> old = {'o', 'l', 'd'};
    WriteFile(At("set/big.bin"), old);
    const auto before = NamesIn(temp_.path());

    for (const int signal : {SIGINT, SIGTERM}) {
        CliProcess join(Place(), {"join", "--force", "set/big.bin"});
        ASSERT_TRUE(WaitUntil([&] { return HasOpen(join.Pid(), Piece("big.bin", 2)); }));
        join.Signal(signal);
        const auto run = join.Finish();
        EXPECT_EQ(run.status, 128 + signal);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, kJoinCancelled);
        EXPECT_EQ(ReadFile(At("set/big.bin")), old);
        EXPECT_EQ(NamesIn(temp_.path()), before);
    }
    // Stopped while they read the pieces: no verdict, nothing written.
    for (const char* command : {"verify", "repair"}) {
        for (const int signal : {SIGINT, SIGTERM}) {
            CliProcess check(Place(), {command, "set/big.bin"});
            ASSERT_TRUE(WaitUntil([&] { return HasOpen(check.Pid(), Piece("big.bin", 2)); }));
            check.Signal(signal);
            const auto run = check.Finish();
            EXPECT_EQ(run.status, 128 + signal) << command;
            EXPECT_EQ(run.out, "") << command;
            EXPECT_TRUE(run.err.starts_with("tessel-cli: ")) << command << run.err;
            EXPECT_NE(run.err.find(" cancelled\n"), std::string::npos) << command << run.err;
            EXPECT_EQ(ReadFile(At("set/big.bin")), old) << command;
            EXPECT_EQ(NamesIn(temp_.path()), before) << command;
        }
    }
}

TEST_F(CliTest, ProgressShowsOnATerminalOnly) {
    MakeSparse(At("big.bin"), kLongInputSize);
    const auto pieceTwoBegun = [&](const std::string& folder) {
        return fs::exists(At(folder + "/" + Piece("big.bin", 2)));
    };

    // On a terminal: redrawn in place with percentage, bytes, rate and time left, then erased
    // before the next text. Stopped once it tells the time left.
    bool interrupted = false;
    auto run = RunCliOnTerminal(Place(), {"split", "big.bin", "-s", "512M", "-o", "shown"},
                                [&](const std::string& shown, pid_t pid) {
                                    if (interrupted || shown.find(" left") == std::string::npos)
                                        return;
                                    ::kill(pid, SIGINT);
                                    interrupted = true;
                                });
    EXPECT_EQ(run.status, 128 + SIGINT) << run.out;
    const std::string& shown = run.out;
    EXPECT_NE(shown.find(" This will require 8 Files.\r\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("\rBreaking file into pieces... "), std::string::npos) << shown;
    EXPECT_NE(shown.find("% "), std::string::npos) << shown;
    EXPECT_NE(shown.find(" of 4.0 GiB  "), std::string::npos) << shown;
    EXPECT_NE(shown.find("/s  "), std::string::npos) << shown;
    EXPECT_EQ(shown.find(" left\r\n"), std::string::npos) << "a progress line was left behind";
    const auto cancel = shown.rfind("tessel-cli: The split was cancelled");
    ASSERT_NE(cancel, std::string::npos) << shown;
    const auto lastDrawing = shown.rfind("\rBreaking file into pieces... ");
    ASSERT_LT(lastDrawing, cancel);
    // Erased: the line's own width in blanks, between a carriage return and another.
    const auto erased = shown.substr(lastDrawing + 1, cancel - lastDrawing - 1);
    const auto width = erased.find('\r');
    ASSERT_NE(width, std::string::npos) << erased;
    EXPECT_EQ(erased.substr(width), "\r" + std::string(width, ' ') + "\r") << erased;

    // --quiet on a terminal: nothing but the error.
    run = RunCliOnTerminal(Place(), {"split", "-q", "big.bin", "-s", "256M", "-o", "quiet"},
                           [&](const std::string&, pid_t pid) {
                               if (pieceTwoBegun("quiet")) ::kill(pid, SIGINT);
                           });
    EXPECT_EQ(run.status, 128 + SIGINT);
    EXPECT_EQ(run.out, "tessel-cli: The split was cancelled\r\n");

    // Standard error a file: no progress however long the work runs.
    CliProcess split(Place(), {"split", "big.bin", "-s", "256M", "-o", "file"});
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(At("file/" + Piece("big.bin", 3))); }));
    split.Signal(SIGINT);
    run = split.Finish();
    EXPECT_EQ(run.status, 128 + SIGINT);
    EXPECT_EQ(run.err, kSplitCancelled);

    // verify and repair show theirs while they read the pieces, and erase it before their
    // lines: verify to its end, repair until its line shows.
    MakeSparseSet(At("sparse"), kGiB / 4);
    run = RunCliOnTerminal(Place(), {"verify", "sparse/big.bin"}, [](const std::string&, pid_t) {});
    EXPECT_EQ(run.status, 0) << run.out;
    const auto drawn = run.out.rfind("\rChecking pieces... ");
    ASSERT_NE(drawn, std::string::npos) << run.out;
    const auto firstLine = run.out.find("sparse/big.bin.1.BRK: OK\r\n");
    ASSERT_NE(firstLine, std::string::npos) << run.out;
    EXPECT_LT(drawn, firstLine);
    EXPECT_TRUE(run.out.substr(0, firstLine).ends_with("\r")) << "the line was not erased";
    EXPECT_TRUE(run.out.ends_with("sparse/big.bin can be joined: every piece is intact\r\n"))
        << run.out;
    run = RunCliOnTerminal(Place(), {"repair", "sparse/big.bin"},
                           [](const std::string& screen, pid_t pid) {
                               if (screen.find("\rRepairing pieces... ") != std::string::npos)
                                   ::kill(pid, SIGINT);
                           });
    EXPECT_EQ(run.status, 128 + SIGINT) << run.out;
    EXPECT_NE(run.out.find("\rRepairing pieces... "), std::string::npos) << run.out;
}

// The arguments, and a part of the problem that the error names.
using Usage = std::pair<std::vector<std::string>, std::string>;
const Usage kWrongUsages[] = {
    {{}, "subcommand"},
    {{"bogus", "report.doc"}, "bogus"},
    {{"split", "--bogus", "report.doc"}, "--bogus"},
    {{"split"}, "FILE"},
    {{"join"}, "NAME"},
    {{"split", "report.doc", "--size", "1000", "--preset", "1"}, "--preset"},
    {{"split", "report.doc", "--size", "12Q"}, "'12Q' is not a size"},
    {{"split", "report.doc", "--size", "1.5G"}, "'1.5G' is not a size"},
    {{"split", "report.doc", "--size", "-5"}, "-5"},
    {{"split", "report.doc", "--size", "0"}, "at least one byte"},
    {{"split", "report.doc", "--size", "9000000T"}, "more bytes than a file can hold"},
    {{"split", "report.doc", "--preset", "floppy"}, "no preset's label starts with 'floppy'"},
    {{"split", "report.doc", "--preset", "15"}, "there is no preset 15"},
    {{"split", "report.doc", "--preset", "0"}, "there is no preset 0"},
    {{"split", "report.doc", "--preset", "diskette"}, "Diskette 4 MB"},
    {{"split", "report.doc", "--preset", "jaz"}, "Jaz Disk 2 GB"},
    {{"split", "report.doc", "--preset", "14"}, "'Custom' is no size"},
    {{"split", "report.doc", "--preset", "custom"}, "'Custom' is no size"},
    {{"split", "report.doc", "--output", ""}, "--output"},
    {{"split", "report.doc", "--recovery", "17"}, "--recovery"},
    {{"split", "report.doc", "--recovery", "-1"}, "--recovery"},
    {{"split", "report.doc", "-r", "two"}, "--recovery"},
    {{"verify"}, "NAME"},
    {{"repair"}, "NAME"},
    {{"verify", "report.doc", "--force"}, "--force"},
    {{"repair", "report.doc", "other.doc"}, "other.doc"},
    {{"join", "report.doc", "--size", "1M"}, "--size"},
};

class CliWrongUsage : public CliTest, public ::testing::WithParamInterface<Usage> {};

TEST_P(CliWrongUsage, WrongUsageGivesStatusTwoAndNamesTheProblem) {
    WritePattern(At("report.doc"), kInputSize);
    const auto before = NamesIn(temp_.path());
    const auto& [arguments, problem] = GetParam();
    std::string shown;
    for (const auto& argument : arguments) shown += "'" + argument + "' ";
    const auto run = Cli(arguments);
    EXPECT_EQ(run.status, 2) << shown << run.err;
    EXPECT_EQ(run.out, "") << shown;
    EXPECT_TRUE(run.err.starts_with("tessel-cli: ")) << shown << run.err;
    EXPECT_NE(run.err.find(problem), std::string::npos) << shown << run.err;
    EXPECT_TRUE(run.err.ends_with(kTryHelpEnd)) << shown << run.err;
    EXPECT_EQ(NamesIn(temp_.path()), before) << shown;
}

// The arguments, each spelled out and set apart by "__": "split__reportDotdoc".
std::string ArgumentsName(const std::vector<std::string>& arguments) {
    std::string name;
    for (const auto& argument : arguments)
        name += (name.empty() ? "" : "__") + SpelledOut(argument);
    return name.empty() ? "NoArguments" : name;
}

INSTANTIATE_TEST_SUITE_P(, CliWrongUsage, ::testing::ValuesIn(kWrongUsages),
                         [](const auto& test) { return ArgumentsName(test.param.first); });

TEST_F(CliTest, HelpAndVersionDescribeEveryCommand) {
    auto run = Cli({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, std::string("tessel-cli (Tessel) ") + product::kVersion + "\n");

    run = Cli({"--help"});
    EXPECT_EQ(run.status, 0);
    for (const char* command : {"split", "join", "verify", "repair"})
        EXPECT_NE(run.out.find("\n  " + std::string(command) + " "), std::string::npos)
            << command << "\n"
            << run.out;
    EXPECT_EQ(run.out.find("not available"), std::string::npos) << run.out;
    // Each command's own: its options, and what it prints.
    const std::vector<std::pair<std::string, std::vector<std::string>>> helps = {
        {"split",
         {"--size", "--preset", "--output", "--batch", "--recovery R:INT in [0 - 16]",
          "FILE.R1.BRK", "--quiet", "700M is 734003200 bytes", "700MB is 700000000 bytes",
          "   1  Diskette 3'5 High Density (1.44 MB)", "  13  DVD+R / DVD-R (4.7 GB)"}},
        {"join", {"--force", "--quiet", "NAME.sha256", "recovery pieces"}},
        {"verify",
         {"--quiet", "NAME.sha256", "NAME.1.BRK: OK", "NAME.2.BRK: MISSING", "NAME.3.BRK: DAMAGED",
          "NAME.R1.BRK", "Exit status: 0 when every piece is intact"}},
        {"repair", {"--quiet", "NAME.sha256", "NAME.2.BRK: REPAIRED", "Exit status: 0"}},
    };
    for (const auto& [command, texts] : helps) {
        run = Cli({command, "--help"});
        EXPECT_EQ(run.status, 0) << command;
        EXPECT_EQ(run.err, "") << command;
        for (const auto& text : texts)
            EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
    }
    run = Cli({"split", "--help"});
    EXPECT_EQ(run.out.find("Custom"), std::string::npos) << run.out;
}

// Each case: the words on the line (the last one being completed), then what is offered.
const std::pair<std::string, std::string> kCompletions[] = {
    {"''", "split join verify repair --help --version"},
    {"sp", "split"},
    {"split --pr", "--preset"},
    {"split report.doc --b", "--batch"},
    {"join --f", "--force"},
    {"split report.doc --rec", "--recovery"},
    {"split --recovery ''", ""},
    {"ver", "verify"},
    {"verify --", "--quiet --help"},
    {"repair -", "--quiet --help"},
    {"rep", "repair"},
    {"split --preset ''", "1 2 3 4 5 6 7 8 9 10 11 12 13"},
    {"split --preset 1", "1 10 11 12 13"},
    {"split -o ho", "home"},
};

class CliCompletion : public CliTest,
                      public ::testing::WithParamInterface<std::pair<std::string, std::string>> {};

TEST_P(CliCompletion, BashCompletionOffersCommandsOptionsAndPresets) {
    const auto& [words, offered] = GetParam();
    const std::string script = std::string("source '") + TESSEL_CLI_COMPLETION + "'\n" +
                               "COMP_WORDS=('" + TESSEL_CLI_PATH + "' " + words + ")\n" +
                               "COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n" + "_tessel_cli\n" +
                               "echo \"${COMPREPLY[*]}\"\n";
    const auto run = RunTool(temp_.path().string(), {"bash", "-c", script});
    EXPECT_EQ(run.exitCode, 0) << words << ": " << run.output;
    EXPECT_EQ(run.output, offered + "\n") << words;
}

// The line spelled out: "split_DashDashpr" for "split --pr".
INSTANTIATE_TEST_SUITE_P(, CliCompletion, ::testing::ValuesIn(kCompletions),
                         [](const auto& test) { return SpelledOut(test.param.first); });

}  // namespace
}  // namespace tessel::testing
