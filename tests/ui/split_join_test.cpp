// The Split and Join images with the real engine on real temporary folders.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/messages.h"
#include "tests/support/temp_folder.h"
#include "tests/ui/ui_fakes.h"

namespace tessel::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kCustomRow = 10;
constexpr int kJazTwoGigabytesRow = 9;
constexpr char kSizeRefused[] = "Error - The split size must be a whole number of bytes";

class SplitJoinTest : public MainWindowTest {
  protected:
    void Fill(const char* name, const std::string& text) {
        Find<QLineEdit>(name)->setText(QString::fromStdString(text));
    }
    // Chooses "Custom" and types `size` over its 0, as a user would.
    void TypeSplitSize(const char* size) {
        Find<QListWidget>("lstFormat")->setCurrentRow(kCustomRow);
        auto* field = Find<QLineEdit>("txtFileChunk");
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, size);
    }
    void TickBatch(bool ticked) { Find<QCheckBox>("chkBatchFile")->setChecked(ticked); }
    QString Status() { return Find<QLabel>("lblStatus")->text(); }

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

    Click("imgSplit");

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

    TickBatch(true);
    Click("imgSplit");
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
    Click("imgSplit");
    EXPECT_EQ(Status(), messages::kSplitFailed);
    EXPECT_TRUE(summary.shown.empty());
    EXPECT_EQ(settings.InfoMessage, "Tessel could not break file [].");

    // Ticked, the batch step runs after the failed split: the folder was never made, so the
    // writer reports its own failure in the information text, and the status line keeps the
    // split's text.
    TickBatch(true);
    Click("imgSplit");
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
        Click("imgSplit");
        EXPECT_EQ(Status(), kSizeRefused) << size;
        EXPECT_EQ(settings.ChunkSize, 1457644) << size;
        EXPECT_EQ(settings.OutputFolder, out) << "the folder is taken before the size";
    }
    EXPECT_TRUE(summary.shown.empty());
    EXPECT_FALSE(fs::exists(out)) << "neither pieces nor a batch file may be written";
    EXPECT_EQ(settings.InfoMessage, "");
}

TEST_F(SplitJoinTest, SplitPassesZeroAndTheLargestPresetToTheEngine) {
    WriteFile(input, PatternBytes(100));
    Fill("txtFileName", input);
    Fill("txtFolder", out);

    TypeSplitSize("0");
    Click("imgSplit");
    EXPECT_EQ(settings.ChunkSize, 0);
    EXPECT_EQ(Status(), messages::kSplitFailed);
    EXPECT_TRUE(summary.shown.empty());

    Find<QListWidget>("lstFormat")->setCurrentRow(kJazTwoGigabytesRow);
    Click("imgSplit");
    EXPECT_EQ(settings.ChunkSize, 2147483648);
    EXPECT_EQ(Status(), messages::kSplitSucceeded);
    EXPECT_EQ(ReadFile(out + "/report.doc.1.BRK"), PatternBytes(100));
}

TEST_F(SplitJoinTest, JoinRebuildsTheFileNamedInTheFileFieldAndShowsTheOutcome) {
    const auto bytes = PatternBytes(5000, 7);
    WriteFile(input, bytes);
    Fill("txtFileName", input);
    Fill("txtFolder", out);
    TypeSplitSize("2048");
    Click("imgSplit");
    ASSERT_EQ(Status(), messages::kSplitSucceeded);

    const auto settingsBefore = settings;
    Fill("txtFileName", out + "/report.doc");
    Click("ImgJoin");
    EXPECT_EQ(Status(), "The Files have been successfully joined");
    EXPECT_EQ(ReadFile(out + "/report.doc"), bytes);
    EXPECT_EQ(settings.OutputFolder, settingsBefore.OutputFolder);
    EXPECT_EQ(settings.ChunkSize, settingsBefore.ChunkSize);

    // No pieces beside the named file: the status line shows the failure, not the old success.
    Fill("txtFileName", temp / "nothing.bin");
    Click("ImgJoin");
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
    Click("imgSplit");
    ASSERT_TRUE(fs::exists(first + "/report.doc.3.BRK"));

    Fill("txtFolder", second);
    EXPECT_EQ(settings.OutputFolder, first);

    // The join looks beside the named file and ignores the folder field.
    Fill("txtFileName", first + "/report.doc");
    Click("ImgJoin");
    EXPECT_EQ(Status(), messages::kJoinSucceeded);
    EXPECT_EQ(ReadFile(first + "/report.doc"), bytes);
    EXPECT_FALSE(fs::exists(second));
    EXPECT_EQ(settings.OutputFolder, first);

    Fill("txtFileName", input);
    Click("imgSplit");
    EXPECT_EQ(settings.OutputFolder, second);
    EXPECT_EQ(ReadFile(second + "/report.doc.2.BRK"),
              std::vector<char>(bytes.begin() + 100, bytes.begin() + 200));
}

}  // namespace
}  // namespace tessel::testing
