// tessel-cli end to end: the installed kind of executable run as a user runs it, in its own
// process, with its output, its exit statuses, its files, signals and a terminal.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "engine/piece_naming.h"
#include "engine/shared_settings.h"
#include "tessel/product.h"
#include "tests/cli/cli_process.h"
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

std::string Piece(const std::string& base, std::int64_t n) {
    return PieceName(base, n, kDefaultPieceExtension);
}

std::string List(const std::string& base) {
    return base + product::kChecksumSuffix;
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

    // The batch file lists the pieces, and only those.
    run = Cli({"split", "report.doc", "--size", "1000000", "--output", "batch", "--batch"});
    EXPECT_EQ(run.status, 0) << run.err;
    const auto batch = ReadFile(At("batch/report.doc.bat"));
    const std::string batchText(batch.begin(), batch.end());
    EXPECT_NE(batchText.find(Piece("report.doc", 3)), std::string::npos) << batchText;
    EXPECT_EQ(batchText.find(Piece("report.doc", 4)), std::string::npos) << batchText;

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

TEST_F(CliTest, SignalsStopASplitWhichTakesBackItsPieces) {
    MakeSparse(At("big.bin"), kLongInputSize);
    // Each run: the signal sent once piece 2 is begun (piece 1 written whole and flushed), and
    // a signal the program was started with ignored, sent before it, which must change nothing.
    struct Case {
        int signal;
        int ignored;
    };
    for (const auto [signal, ignored] :
         {Case{SIGINT, SIGHUP}, Case{SIGTERM, SIGINT}, Case{SIGHUP, SIGTERM}}) {
        const std::string folder = "out" + std::to_string(signal);
        CliPlace place = Place();
        place.ignoredSignals = {ignored};
        CliProcess split(place,
                         {"split", "big.bin", "--size", "256M", "--output", folder, "--batch"});
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
}

TEST_F(CliTest, SignalsStopAJoinWhichLeavesTheFileAsItWas) {
    // Four sparse pieces of zeros and their list in the format of sha256sum.
    constexpr int kPieces = 4;
    fs::create_directory(At("set"));
    for (int n = 1; n <= kPieces; ++n) MakeSparse(At("set/" + Piece("big.bin", n)), kGiB / 2);
    const auto digest = RunTool(At("set"), {"sha256sum", Piece("big.bin", 1)});
    ASSERT_EQ(digest.exitCode, 0) << digest.output;
    std::string list;
    for (int n = 1; n <= kPieces; ++n)
        list +=
            digest.output.substr(0, digest.output.find(' ')) + "  " + Piece("big.bin", n) + "\n";
    WriteFile(At("set/" + List("big.bin")), {list.begin(), list.end()});
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
}

TEST_F(CliTest, WrongUsageGivesStatusTwoAndNamesTheProblem) {
    WritePattern(At("report.doc"), kInputSize);
    const auto before = NamesIn(temp_.path());
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
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
        {{"join", "report.doc", "--size", "1M"}, "--size"},
    };
    for (const auto& [arguments, problem] : cases) {
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
}

TEST_F(CliTest, HelpVersionAndTheCommandsStillToCome) {
    auto run = Cli({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, std::string("tessel-cli (Tessel) ") + product::kVersion + "\n");

    run = Cli({"--help"});
    EXPECT_EQ(run.status, 0);
    for (const char* command : {"split", "join", "verify", "repair"})
        EXPECT_NE(run.out.find(command), std::string::npos) << command << "\n" << run.out;
    run = Cli({"split", "--help"});
    EXPECT_EQ(run.status, 0);
    for (const char* text :
         {"--size", "--preset", "--output", "--batch", "--recovery", "--quiet",
          "700M is 734003200 bytes", "700MB is 700000000 bytes",
          "   1  Diskette 3'5 High Density (1.44 MB)", "  13  DVD+R / DVD-R (4.7 GB)"})
        EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
    EXPECT_EQ(run.out.find("Custom"), std::string::npos) << run.out;
    run = Cli({"join", "--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("--force"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");

    // Registered and refused until the engine reads recovery pieces; nothing is written.
    WritePattern(At("report.doc"), kInputSize);
    const auto before = NamesIn(temp_.path());
    for (const char* command : {"verify", "repair"}) {
        run = Cli({command, "report.doc"});
        EXPECT_EQ(run.status, 1) << command;
        EXPECT_EQ(run.err, std::string("tessel-cli: ") + command +
                               " needs recovery support in the engine\n");
    }
    run = Cli({"split", "report.doc", "--recovery", "2"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "tessel-cli: split --recovery needs recovery support in the engine\n");
    EXPECT_EQ(NamesIn(temp_.path()), before);
    // None asked for is today's split.
    run = Cli({"split", "report.doc", "--recovery", "0", "-o", "out", "-q"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(At("out/" + Piece("report.doc", 3))));
}

TEST_F(CliTest, BashCompletionOffersCommandsOptionsAndPresets) {
    // Each case: the words on the line (the last one being completed), then what is offered.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"''", "split join verify repair --help --version"},
        {"sp", "split"},
        {"split --pr", "--preset"},
        {"split report.doc --b", "--batch"},
        {"join --f", "--force"},
        {"split --preset ''", "1 2 3 4 5 6 7 8 9 10 11 12 13"},
        {"split --preset 1", "1 10 11 12 13"},
        {"split -o ho", "home"},
    };
    for (const auto& [words, offered] : cases) {
        const std::string script = std::string("source '") + TESSEL_CLI_COMPLETION + "'\n" +
                                   "COMP_WORDS=('" + TESSEL_CLI_PATH + "' " + words + ")\n" +
                                   "COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n" + "_tessel_cli\n" +
                                   "echo \"${COMPREPLY[*]}\"\n";
        const auto run = RunTool(temp_.path().string(), {"bash", "-c", script});
        EXPECT_EQ(run.exitCode, 0) << words << ": " << run.output;
        EXPECT_EQ(run.output, offered + "\n") << words;
    }
}

}  // namespace
}  // namespace tessel::testing
