// The Split and Join images with the real engine on real temporary folders: what the window
// hands the engine, what it refuses first, the summary before the first byte, the question
// before a join replaces data, and the outcome in the status line.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSpinBox>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/messages.h"
#include "tests/support/temp_folder.h"
#include "tests/ui/ui_fakes.h"

namespace tessel::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kJazTwoGigabytesRow = 9;
constexpr int kDvdRow = 12;  // the largest preset
constexpr char kSizeRefused[] = "Error - The split size must be a whole number of bytes";
constexpr char kChooseFolder[] = "Error - Choose an output folder";
constexpr char kJoinCancelled[] = "The join was cancelled";

class SplitJoinTest : public MainWindowTest {
  protected:
    // Splits `size` pattern bytes of `input` into pieces of 1000 bytes in `out`.
    std::vector<char> SplitInput(std::int64_t size) {
        const auto bytes = PatternBytes(size, 5);
        WriteFile(input, bytes);
        Fill("txtFileName", input);
        Fill("txtFolder", out);
        TypeSplitSize("1000");
        Run("imgSplit");
        EXPECT_EQ(Status(), messages::kSplitSucceeded);
        return bytes;
    }

    TempFolder temp;
    const std::string input = temp / "report.doc";
    const std::string out = temp / "out";
};

TEST_F(SplitJoinTest, SplitHandsTheFieldsToTheEngineAndShowsItsOutcome) {
    const auto bytes = PatternBytes(2500);
    WriteFile(input, bytes);
    Fill("txtFileName", input);
    Fill("txtFolder", out);
    TypeSplitSize("1000");

    bool folderMadeBeforeOk = true;
    summary.whileShown = [&] { folderMadeBeforeOk = fs::exists(out); };
    Run("imgSplit");

    EXPECT_FALSE(folderMadeBeforeOk) << "the summary comes before anything is written";
    EXPECT_EQ(settings.OutputFolder, out);
    EXPECT_EQ(settings.ChunkSize, 1000);
    ASSERT_EQ(summary.shown.size(), 1u);
    EXPECT_EQ(summary.shown[0],
              "Selected File : " + input +
                  "\r\nSize of file  : 2500 bytes  \r\n This will require 3 Files.");
    EXPECT_EQ(Status(), "Successfully broken file into pieces");
    EXPECT_EQ(ReadFile(out + "/report.doc.1.BRK"),
              std::vector<char>(bytes.begin(), bytes.begin() + 1000));
    EXPECT_EQ(ReadFile(out + "/report.doc.3.BRK"),
              std::vector<char>(bytes.begin() + 2000, bytes.end()));
    EXPECT_TRUE(fs::exists(out + "/report.doc"));
    EXPECT_FALSE(fs::exists(out + "/report.doc.bat")) << "the batch option is not ticked";

    // A split over an earlier one: while the summary is up the old pieces are as they were.
    WriteFile(out + "/report.doc.2.BRK", {'o', 'l', 'd'});
    std::vector<char> secondDuringSummary;
    summary.whileShown = [&] { secondDuringSummary = ReadFile(out + "/report.doc.2.BRK"); };
    TickBatch(true);
    Run("imgSplit");
    EXPECT_EQ(secondDuringSummary, std::vector<char>({'o', 'l', 'd'}));
    EXPECT_EQ(summary.shown.size(), 2u);
    EXPECT_EQ(Status(), "Successfully broken file into pieces");
    const auto batch = ReadFile(out + "/report.doc.bat");
    const std::string text(batch.begin(), batch.end());
    EXPECT_NE(text.find("copy /b \"report.doc\"+\"report.doc.3.BRK\"  \"report.doc\"\r\n"),
              std::string::npos)
        << text;
}

TEST_F(SplitJoinTest, SplitWithAnEmptyFileNameReportsTheFailureAndStillWritesTheBatchStep) {
    Fill("txtFolder", out);
    Run("imgSplit");
    EXPECT_EQ(Status(), messages::kSplitFailed);
    EXPECT_TRUE(summary.shown.empty());
    EXPECT_EQ(settings.InfoMessage, "Tessel could not break file [].");

    // Ticked, the batch step runs after the failed split: the folder was never made, so the
    // writer reports its own failure in the information text, and the status line keeps the
    // split's text.
    TickBatch(true);
    Run("imgSplit");
    EXPECT_EQ(Status(), messages::kSplitFailed);
    EXPECT_EQ(settings.InfoMessage.rfind("Tessel could not create batch file [", 0), 0u)
        << settings.InfoMessage;
}

TEST_F(SplitJoinTest, SplitRefusesASizeThatIsNotAWholeNumberBeforeTheEngineRuns) {
    WriteFile(input, PatternBytes(100));
    Fill("txtFileName", input);
    Fill("txtFolder", out);
    TickBatch(true);
    for (const char* size : {"", "abc", "12x", "-", "1.5", "99999999999999999999"}) {
        TypeSplitSize(size);
        Run("imgSplit");
        EXPECT_EQ(Status(), kSizeRefused) << size;
        EXPECT_EQ(settings.ChunkSize, 1457644) << size;
        EXPECT_EQ(settings.OutputFolder, out) << "the folder is taken before the size";
    }
    EXPECT_TRUE(summary.shown.empty());
    EXPECT_FALSE(fs::exists(out)) << "neither pieces nor a batch file may be written";
    EXPECT_EQ(settings.InfoMessage, "");
}

TEST_F(SplitJoinTest, SplitPassesZeroAndTheLargePresetsToTheEngine) {
    WriteFile(input, PatternBytes(100));
    Fill("txtFileName", input);
    Fill("txtFolder", out);

    TypeSplitSize("0");
    Run("imgSplit");
    EXPECT_EQ(settings.ChunkSize, 0);
    EXPECT_EQ(Status(), messages::kSplitFailed);
    EXPECT_TRUE(summary.shown.empty());

    Find<QListWidget>("lstFormat")->setCurrentRow(kJazTwoGigabytesRow);
    Run("imgSplit");
    EXPECT_EQ(settings.ChunkSize, 2147483648);
    EXPECT_EQ(Status(), messages::kSplitSucceeded);
    EXPECT_EQ(ReadFile(out + "/report.doc.1.BRK"), PatternBytes(100));

    Find<QListWidget>("lstFormat")->setCurrentRow(kDvdRow);
    Fill("txtFolder", out + "/dvd");
    Run("imgSplit");
    EXPECT_EQ(settings.ChunkSize, 4700372992);
    EXPECT_EQ(Status(), messages::kSplitSucceeded);
    EXPECT_EQ(ReadFile(out + "/dvd/report.doc.1.BRK"), PatternBytes(100));
}

TEST_F(SplitJoinTest, JoinRebuildsTheFileNamedInTheFileFieldAndShowsTheOutcome) {
    const auto bytes = PatternBytes(5000, 7);
    WriteFile(input, bytes);
    Fill("txtFileName", input);
    Fill("txtFolder", out);
    TypeSplitSize("2048");
    Run("imgSplit");
    ASSERT_EQ(Status(), messages::kSplitSucceeded);

    const auto settingsBefore = settings;
    Fill("txtFileName", out + "/report.doc");
    Run("ImgJoin");
    EXPECT_EQ(Status(), messages::kJoinVerified);
    EXPECT_EQ(ReadFile(out + "/report.doc"), bytes);
    EXPECT_EQ(settings.OutputFolder, settingsBefore.OutputFolder);
    EXPECT_EQ(settings.ChunkSize, settingsBefore.ChunkSize);

    // No pieces beside the named file: the status line shows the failure, not the old success.
    Fill("txtFileName", temp / "nothing.bin");
    Run("ImgJoin");
    EXPECT_EQ(Status(), messages::kJoinFailed);
    EXPECT_FALSE(fs::exists(temp / "nothing.bin"));
}

TEST_F(SplitJoinTest, TheFolderFieldCountsOnlyWhenSplitIsClicked) {
    const auto bytes = PatternBytes(300, 3);
    WriteFile(input, bytes);
    const std::string first = temp / "first";
    const std::string second = temp / "second";
    Fill("txtFileName", input);
    Fill("txtFolder", first);
    TypeSplitSize("100");
    Run("imgSplit");
    ASSERT_TRUE(fs::exists(first + "/report.doc.3.BRK"));

    Fill("txtFolder", second);
    EXPECT_EQ(settings.OutputFolder, first);

    // The join looks beside the named file and ignores the folder field.
    Fill("txtFileName", first + "/report.doc");
    Run("ImgJoin");
    EXPECT_EQ(Status(), messages::kJoinVerified);
    EXPECT_EQ(ReadFile(first + "/report.doc"), bytes);
    EXPECT_FALSE(fs::exists(second));
    EXPECT_EQ(settings.OutputFolder, first);

    Fill("txtFileName", input);
    Run("imgSplit");
    EXPECT_EQ(settings.OutputFolder, second);
    EXPECT_EQ(ReadFile(second + "/report.doc.2.BRK"),
              std::vector<char>(bytes.begin() + 100, bytes.begin() + 200));
}

TEST_F(SplitJoinTest, SplitRefusesAnEmptyOrBlankFolderBeforeTheEngineRuns) {
    WriteFile(input, PatternBytes(100));
    Fill("txtFileName", input);
    TickBatch(true);
    const std::vector<char> before = ReadFile(input);
    for (const char* folder : {"", " ", "   ", "\t", " \t "}) {
        Fill("txtFolder", folder);
        Run("imgSplit");
        EXPECT_EQ(Status(), kChooseFolder) << '"' << folder << '"';
    }
    EXPECT_TRUE(summary.shown.empty());
    EXPECT_EQ(settings.InfoMessage, "");
    EXPECT_EQ(settings.PieceCount, 0.0) << "the engine was never asked";
    EXPECT_EQ(Names(temp.path().string()), std::set<std::string>{"report.doc"})
        << "neither pieces nor a batch file may be written";
    EXPECT_EQ(ReadFile(input), before);

    // A folder refused before a size that is no number: the folder's answer comes first.
    Fill("txtFolder", "  ");
    TypeSplitSize("abc");
    Run("imgSplit");
    EXPECT_EQ(Status(), kChooseFolder);
}

TEST_F(SplitJoinTest, SplittingThePlaceholderChangesNothingOnDiskNotEvenTheBatchFile) {
    SplitInput(2500);
    const std::vector<char> second = ReadFile(out + "/report.doc.2.BRK");
    const auto names = Names(out);

    Fill("txtFileName", out + "/report.doc");  // the empty file beside the pieces
    TickBatch(true);
    Run("imgSplit");
    EXPECT_EQ(Status(), messages::kSplitOfPlaceholder);
    EXPECT_EQ(summary.shown.size(), 1u) << "only the first split showed a summary";
    EXPECT_EQ(Names(out), names) << "no batch file, no piece";
    EXPECT_EQ(ReadFile(out + "/report.doc.2.BRK"), second);
}

TEST_F(SplitJoinTest, JoinAsksBeforeReplacingAFileThatHoldsDataAndCancelWritesNothing) {
    const auto bytes = SplitInput(2500);
    const std::string target = out + "/report.doc";
    WriteFile(target, {'e', 'd', 'i', 't', 'e', 'd', '!'});  // edited since the split
    const auto names = Names(out);
    Fill("txtFileName", target);

    dialogs.replaceAnswer = false;
    Run("ImgJoin");
    ASSERT_EQ(dialogs.replaceQuestions.size(), 1u);
    const auto& [owner, question] = dialogs.replaceQuestions[0];
    EXPECT_EQ(owner, window.get());
    EXPECT_EQ(question.title, "Tessel v.1.0");
    EXPECT_EQ(question.text,
              "report.doc already holds 7 bytes. Replace it with the file joined from its "
              "pieces?");
    EXPECT_EQ(question.replaceCaption, "Replace");
    EXPECT_EQ(question.keepCaption, "Cancel");
    EXPECT_EQ(Status(), kJoinCancelled);
    EXPECT_EQ(ReadFile(target), std::vector<char>({'e', 'd', 'i', 't', 'e', 'd', '!'}));
    EXPECT_EQ(Names(out), names) << "not even a temporary file";

    dialogs.replaceAnswer = true;
    Run("ImgJoin");
    EXPECT_EQ(dialogs.replaceQuestions.size(), 2u);
    EXPECT_EQ(Status(), messages::kJoinVerified);
    EXPECT_EQ(ReadFile(target), bytes);

    // The question names the file's size exactly, however large.
    WriteFile(target, PatternBytes(1234567));
    dialogs.replaceAnswer = false;
    Run("ImgJoin");
    ASSERT_EQ(dialogs.replaceQuestions.size(), 3u);
    EXPECT_EQ(dialogs.replaceQuestions[2].second.text,
              "report.doc already holds 1234567 bytes. Replace it with the file joined from its "
              "pieces?");
    EXPECT_EQ(ReadFile(target), PatternBytes(1234567));
}

TEST_F(SplitJoinTest, JoinAsksNothingForAnEmptyOrMissingTargetOrWhenItIsRefused) {
    const auto bytes = SplitInput(2500);
    const std::string target = out + "/report.doc";
    Fill("txtFileName", target);
    dialogs.replaceAnswer = false;  // a question asked would stop the join

    Run("ImgJoin");  // the empty placeholder
    EXPECT_EQ(Status(), messages::kJoinVerified);
    EXPECT_EQ(ReadFile(target), bytes);

    fs::remove(target);
    Run("ImgJoin");
    EXPECT_EQ(Status(), messages::kJoinVerified);
    EXPECT_EQ(ReadFile(target), bytes);

    // Pieces that do not make the file: the join is refused before any question.
    fs::remove(out + "/report.doc.2.BRK");
    Run("ImgJoin");
    EXPECT_EQ(Status(), "Error - Piece 2 is missing");
    EXPECT_EQ(ReadFile(target), bytes);
    EXPECT_TRUE(dialogs.replaceQuestions.empty());
}

}  // namespace
}  // namespace tessel::testing

namespace tessel::testing {
namespace {

// Recovery pieces chosen in the window: the summary names them, and a join rebuilds a lost
// piece from them and says so.
TEST_F(SplitJoinTest, RecoveryPiecesChosenInTheWindowLetAJoinRebuildALostPiece) {
    auto* recovery = window->findChild<QSpinBox*>("spnRecovery");
    ASSERT_NE(recovery, nullptr);
    EXPECT_EQ(recovery->value(), 0);
    EXPECT_EQ(recovery->minimum(), 0);
    EXPECT_EQ(recovery->maximum(), 16);
    recovery->setValue(1);
    const auto bytes = SplitInput(3500);
    ASSERT_EQ(summary.shown.size(), 1u);
    EXPECT_TRUE(summary.shown[0].ends_with("\r\n Plus 1 recovery piece of 1000 bytes."))
        << summary.shown[0];
    EXPECT_EQ(fs::file_size(out + "/report.doc.R1.BRK"), 1000u);

    fs::remove(out + "/report.doc.2.BRK");
    Fill("txtFileName", out + "/report.doc");
    Run("ImgJoin");
    EXPECT_EQ(Status(), "The Files have been successfully joined and verified, 1 piece rebuilt");
    EXPECT_EQ(ReadFile(out + "/report.doc"), bytes);

    recovery->setValue(2);
    Fill("txtFileName", input);
    Run("imgSplit");
    EXPECT_TRUE(summary.shown.back().ends_with("\r\n Plus 2 recovery pieces of 1000 bytes each."))
        << summary.shown.back();
    for (const char* lost : {"/report.doc.1.BRK", "/report.doc.4.BRK", "/report.doc.R2.BRK"})
        fs::remove(out + lost);
    Fill("txtFileName", out + "/report.doc");
    Run("ImgJoin");
    EXPECT_EQ(Status(), "Error - 3 pieces are missing or damaged, at most 2 can be rebuilt");
}

}  // namespace
}  // namespace tessel::testing
