// Stopping a split or join: Esc at its start, in its middle and at its very end, and closing
// the window or pressing Exit while it works. The worker's reads wait at a gate, so each test
// knows exactly how far the copy has come when it acts.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "engine/messages.h"
#include "tests/support/temp_folder.h"
#include "tests/ui/ui_fakes.h"

namespace tessel::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kWaitMilliseconds = 30000;
constexpr int kPieces = 4;  // of 1000 bytes each: one read each

class CancelTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        WriteFile(input, bytes);
        Fill("txtFileName", input);
        Fill("txtFolder", out);
        Find<QListWidget>("lstFormat")->setCurrentRow(kCustomRow);
        Fill("txtFileChunk", "1000");
        Find<QCheckBox>("chkBatchFile")->setChecked(true);
    }

    // Presses Esc in the control `name`, or in the window itself.
    void PressEsc(const char* name) {
        QWidget* receiver = name == std::string("frmMain") ? window.get() : Find<QWidget>(name);
        QTest::keyClick(receiver, Qt::Key_Escape);
    }

    // Clicks `image` with the worker's reads gated, and waits until it asks for read n.
    void StartHeldAtRead(const char* image, int n) {
        files.Close();
        Click(image);
        files.LetThrough(n - 1);
        ASSERT_TRUE(QTest::qWaitFor([&] { return files.ReadsAsked() >= n; }, kWaitMilliseconds))
            << "read " << n << " was never asked for";
    }
    // Lets the held read go and every one after, and waits for the operation to end.
    void Release() {
        files.Open();
        WaitForWork();
    }
    // The set of pieces for the joins, made without a hold.
    void SplitFirst() {
        Run("imgSplit");
        ASSERT_EQ(Status(), messages::kSplitSucceeded);
        Fill("txtFileName", target);
    }

    TempFolder temp;
    const std::string input = temp / "report.doc";
    const std::string out = temp / "out";
    const std::string target = out + "/report.doc";
    const std::vector<char> bytes = PatternBytes(kPieces * 1000, 9);
};

struct Moment {
    const char* name;
    int heldRead;  // the read the worker waits at when Esc comes
    const char* escTo;
};

TEST_F(CancelTest, EscAtTheStartOrInTheMiddleOfASplitTakesBackEveryPieceItWrote) {
    const Moment moments[] = {{"start", 1, "frmMain"}, {"middle", 3, "lblStatus"}};
    for (const auto& moment : moments) {
        StartHeldAtRead("imgSplit", moment.heldRead);
        PressEsc(moment.escTo);
        Release();
        EXPECT_EQ(Status(), messages::kSplitCancelled) << moment.name;
        EXPECT_EQ(files.ReadsAsked(), moment.heldRead)
            << moment.name << ": the split went on reading after Esc";
        EXPECT_EQ(Names(out), std::set<std::string>{})
            << moment.name << ": no piece, checksum file, placeholder or batch file is left";
        EXPECT_EQ(ReadFile(input), bytes) << moment.name;
    }

    // Esc with nothing running does nothing, and the next split is not cancelled by the last.
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(Status(), messages::kSplitCancelled);
    Run("imgSplit");
    EXPECT_EQ(Status(), messages::kSplitSucceeded);
    EXPECT_TRUE(fs::exists(out + "/report.doc.4.BRK"));
    EXPECT_TRUE(fs::exists(out + "/report.doc.bat"));
}

TEST_F(CancelTest, EscDuringTheLastReadOfASplitStillTakesBackEveryPiece) {
    StartHeldAtRead("imgSplit", kPieces);
    QTest::keyClick(window.get(), Qt::Key_Escape);
    Release();
    // After its last read the split still hashes its last pieces, flushes them and lists them:
    // until its checksum file is whole it can be stopped, and stopping takes everything back.
    EXPECT_EQ(Status(), messages::kSplitCancelled);
    EXPECT_EQ(Names(out), std::set<std::string>{})
        << "no piece, checksum file, placeholder or batch file is left";
    EXPECT_EQ(ReadFile(input), bytes);
}

TEST_F(CancelTest, EscAnywhereInAJoinLeavesTheTargetAsItWas) {
    SplitFirst();
    const auto names = Names(out);
    const Moment moments[] = {
        {"start", 1, "frmMain"}, {"middle", 2, "imgExit"}, {"very end", kPieces, "lblStatus"}};
    for (const auto& moment : moments) {
        StartHeldAtRead("ImgJoin", moment.heldRead);
        PressEsc(moment.escTo);
        Release();
        EXPECT_EQ(Status(), messages::kJoinCancelled) << moment.name;
        EXPECT_EQ(files.ReadsAsked(), moment.heldRead) << moment.name;
        EXPECT_EQ(fs::file_size(target), 0u) << moment.name << ": the placeholder stays empty";
        EXPECT_EQ(Names(out), names) << moment.name << ": no temporary file is left";
    }

    // A target that held data keeps it when the join it was to be replaced by is cancelled.
    WriteFile(target, {'k', 'e', 'e', 'p'});
    dialogs.replaceAnswer = true;
    StartHeldAtRead("ImgJoin", 3);
    QTest::keyClick(window.get(), Qt::Key_Escape);
    Release();
    EXPECT_EQ(Status(), messages::kJoinCancelled);
    EXPECT_EQ(ReadFile(target), std::vector<char>({'k', 'e', 'e', 'p'}));
    EXPECT_EQ(Names(out), names);
    EXPECT_EQ(dialogs.replaceQuestions.size(), 1u);
}

TEST_F(CancelTest, ClosingTheWindowOrExitDuringWorkCancelsWaitsThenEndsTheProgram) {
    struct Ending {
        const char* name;
        const char* image;
        std::function<void()> end;
        const char* status;
    };
    const Ending endings[] = {
        {"close during a split", "imgSplit",
         [&] { EXPECT_FALSE(window->close()) << "the window stays for the clean-up"; },
         messages::kSplitCancelled},
        {"Exit during a split", "imgSplit", [&] { Click("imgExit"); }, messages::kSplitCancelled},
        {"close during a join", "ImgJoin", [&] { window->close(); }, messages::kJoinCancelled},
    };
    for (const auto& ending : endings) {
        if (ending.image == std::string("ImgJoin")) SplitFirst();
        const auto names = Names(out);
        program.endings = 0;
        StartHeldAtRead(ending.image, 2);
        ending.end();
        QCoreApplication::processEvents();
        EXPECT_EQ(program.endings, 0) << ending.name << ": not before the clean-up";
        EXPECT_TRUE(window->isVisible()) << ending.name;
        files.Open();
        EXPECT_TRUE(QTest::qWaitFor([&] { return program.endings > 0; }, kWaitMilliseconds))
            << ending.name;
        EXPECT_EQ(program.endings, 1) << ending.name;
        EXPECT_EQ(Status(), ending.status) << ending.name << ": the status says what happened";
        EXPECT_EQ(files.ReadsAsked(), 2) << ending.name;
        EXPECT_EQ(Names(out), names) << ending.name << ": nothing written is left";
    }
}

}  // namespace
}  // namespace tessel::testing
