// The writing step runs on a worker thread: the window's event loop goes on, a long copy shows
// its progress with the cancel hint, and input aimed at the window meanwhile is dropped, never
// acted on afterwards.
#include "ui/background_operation.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "engine/copy_loop.h"
#include "engine/messages.h"
#include "tests/support/temp_folder.h"
#include "tests/ui/ui_fakes.h"
#include "ui/window_texts.h"

namespace tessel::testing {
namespace {

constexpr std::int64_t kMiB = std::int64_t{1} << 20;
constexpr int kWaitMilliseconds = 30000;

void PostClick(QWidget* target) {
    const QPointF centre = QRectF(target->rect()).center();
    const QPointF global = target->mapToGlobal(centre);
    for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QCoreApplication::postEvent(
            target,
            new QMouseEvent(type, centre, global, Qt::LeftButton,
                            type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                            Qt::NoModifier));
    }
}

void PostKey(QWidget* target, Qt::Key key, const QString& text) {
    QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, text));
    QCoreApplication::postEvent(target,
                                new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier, text));
}

// Runs `work` as one step of `operation`, handing its outcome to `done` once Finished comes.
void RunStep(ui::BackgroundOperation& operation, const char* doing, std::int64_t total,
             std::function<Outcome(const OperationControl&)> work,
             std::function<void(Outcome)> done) {
    auto outcome = std::make_shared<Outcome>(Outcome::Failed);
    QObject::disconnect(&operation, &ui::BackgroundOperation::Finished, nullptr, nullptr);
    QObject::connect(&operation, &ui::BackgroundOperation::Finished, &operation,
                     [outcome, done = std::move(done)] { done(*outcome); });
    operation.Start(doing, total, [outcome, work = std::move(work)](const OperationControl& c) {
        *outcome = work(c);
    });
}

// Collects the progress texts `operation` shows.
void Collect(ui::BackgroundOperation& operation, QStringList& shown) {
    QObject::connect(&operation, &ui::BackgroundOperation::Progress, &operation,
                     [&shown](const QString& text) { shown << text; });
}

// Waits for the work's cancel flag, the way the engine looks at it between buffers.
Outcome WaitForCancel(const OperationControl& control) {
    for (int i = 0; i < 2000 && !control.Cancelled(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return control.Cancelled() ? Outcome::Cancelled : Outcome::Failed;
}

TEST(BackgroundOperation, WorksOnAnotherThreadAndHandsTheOutcomeBackOnTheWindowsThread) {
    QStringList shown;
    ui::BackgroundOperation operation;
    Collect(operation, shown);
    std::thread::id workedOn;
    std::thread::id doneOn;
    std::optional<Outcome> outcome;
    RunStep(
        operation, "Joining pieces...", 100,
        [&](const OperationControl& control) {
            workedOn = std::this_thread::get_id();
            control.progress(100, 100);
            return Outcome::Done;
        },
        [&](Outcome result) {
            doneOn = std::this_thread::get_id();
            outcome = result;
        });
    EXPECT_TRUE(operation.Running());
    ASSERT_TRUE(QTest::qWaitFor([&] { return outcome.has_value(); }, kWaitMilliseconds));
    EXPECT_EQ(*outcome, Outcome::Done);
    EXPECT_FALSE(operation.Running());
    EXPECT_NE(workedOn, std::this_thread::get_id());
    EXPECT_EQ(doneOn, std::this_thread::get_id());
    EXPECT_TRUE(shown.isEmpty()) << "a short operation shows no progress";
}

TEST(BackgroundOperation, ShowsProgressWithTheCancelHintAfterHalfASecondAndCancels) {
    QStringList shown;
    ui::BackgroundOperation operation;
    Collect(operation, shown);
    std::optional<Outcome> outcome;
    QElapsedTimer clock;
    clock.start();
    RunStep(
        operation, "Breaking file into pieces...", 1000,
        [](const OperationControl& control) {
            control.progress(420, 1000);
            return WaitForCancel(control);
        },
        [&](Outcome result) { outcome = result; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty(); }, kWaitMilliseconds));
    EXPECT_GE(clock.elapsed(), 500);
    EXPECT_EQ(shown.constFirst(), "Breaking file into pieces... 42% - press Esc to cancel");
    QTest::qWait(300);
    EXPECT_EQ(shown.size(), 1) << "an unchanged text is not shown again";

    operation.Cancel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return outcome.has_value(); }, kWaitMilliseconds));
    EXPECT_EQ(*outcome, Outcome::Cancelled);

    // The next operation starts with the flag down and counts its half second anew.
    outcome.reset();
    shown.clear();
    clock.restart();
    operation.Begin();
    RunStep(
        operation, "Joining pieces...", 0,
        [](const OperationControl& control) { return WaitForCancel(control); },
        [&](Outcome result) { outcome = result; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty(); }, kWaitMilliseconds));
    EXPECT_GE(clock.elapsed(), 500);
    EXPECT_EQ(shown.constFirst(), "Joining pieces... 100% - press Esc to cancel")
        << "nothing to copy counts as all done";
    EXPECT_FALSE(outcome.has_value());
    operation.Cancel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return outcome.has_value(); }, kWaitMilliseconds));
}

TEST(BackgroundOperation, GoingAwayCancelsTheWorkAndWaitsForItsCleanUp) {
    std::atomic<bool> cleanedUp = false;
    bool doneCalled = false;
    auto operation = std::make_unique<ui::BackgroundOperation>();
    RunStep(
        *operation, "Joining pieces...", 10,
        [&](const OperationControl& control) {
            const Outcome outcome = WaitForCancel(control);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            cleanedUp = true;
            return outcome;
        },
        [&](Outcome) { doneCalled = true; });
    operation.reset();
    EXPECT_TRUE(cleanedUp);
    QCoreApplication::processEvents();
    EXPECT_FALSE(doneCalled);
}

class BackgroundOperationWindowTest : public MainWindowTest {
  protected:
    // An input of `size` pattern bytes to be split into pieces of `chunk` bytes, with the
    // worker's reads held at the gate.
    void PrepareHeldSplit(std::int64_t size, const char* chunk) {
        WriteFile(input, PatternBytes(size));
        Find<QLineEdit>("txtFileName")->setText(QString::fromStdString(input));
        Find<QLineEdit>("txtFolder")->setText(QString::fromStdString(out));
        Find<QListWidget>("lstFormat")->setCurrentRow(kCustomRow);
        Find<QLineEdit>("txtFileChunk")->setText(chunk);
        files.Close();
    }
    // Lets the worker through reads 1 to n - 1 and waits until it asks for read n.
    void HoldAtRead(int n) {
        files.LetThrough(n - 1);
        ASSERT_TRUE(QTest::qWaitFor([&] { return files.ReadsAsked() >= n; }, kWaitMilliseconds));
    }

    TempFolder temp;
    const std::string input = temp / "data.bin";
    const std::string out = temp / "out";
};

const char* const kShutInputs[] = {"imgSplit",  "ImgJoin",     "cmdOpenFile", "cmdOpenFolder",
                                   "txtFolder", "txtFileName", "lstFormat",   "chkBatchFile"};

TEST_F(BackgroundOperationWindowTest, InputDuringAnOperationIsDroppedAndDoesNotFireAfterwards) {
    PrepareHeldSplit(4000, "1000");
    auto* fileName = Find<QLineEdit>("txtFileName");
    auto* list = Find<QListWidget>("lstFormat");
    auto* chunk = Find<QLineEdit>("txtFileChunk");
    fileName->setFocus();
    Click("imgSplit");
    HoldAtRead(2);

    for (const char* name : kShutInputs) EXPECT_FALSE(Find<QWidget>(name)->isEnabled()) << name;
    EXPECT_FALSE(chunk->isEnabled());
    for (const char* name : {"ImgJoin", "imgSplit", "cmdOpenFile", "cmdOpenFolder", "chkBatchFile",
                             "txtFileName", "lstFormat"})
        PostClick(Find<QWidget>(name));
    PostKey(fileName, Qt::Key_X, "x");
    PostKey(Find<QWidget>("txtFolder"), Qt::Key_Y, "y");
    PostKey(chunk, Qt::Key_7, "7");
    PostKey(list, Qt::Key_Down, "");
    PostKey(window.get(), Qt::Key_Return, "\r");
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile("/tmp/dropped.doc")});
    QDragEnterEvent enter(QPoint(20, 200), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    EXPECT_FALSE(enter.isAccepted()) << "a drop is refused while the engine works";
    QDropEvent drop(QPointF(20, 200), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    QCoreApplication::processEvents();

    files.Open();
    WaitForWork();
    QCoreApplication::processEvents();
    EXPECT_EQ(Status(), messages::kSplitSucceeded)
        << "a queued Join or Split click would have replaced the split's status";
    EXPECT_EQ(summary.shown.size(), 1u);
    EXPECT_TRUE(dialogs.fileRequests.empty());
    EXPECT_TRUE(dialogs.folderRequests.empty());
    EXPECT_TRUE(dialogs.replaceQuestions.empty());
    EXPECT_EQ(fileName->text(), QString::fromStdString(input));
    EXPECT_EQ(Find<QLineEdit>("txtFolder")->text(), QString::fromStdString(out));
    EXPECT_EQ(chunk->text(), "1000");
    EXPECT_EQ(list->currentRow(), kCustomRow);
    EXPECT_FALSE(Find<QCheckBox>("chkBatchFile")->isChecked());
    EXPECT_FALSE(std::filesystem::exists(out + "/data.bin.bat"));

    // Each input has its earlier state back: the size field stays open for the Custom size,
    // and the focus is where it was.
    for (const char* name : kShutInputs) EXPECT_TRUE(Find<QWidget>(name)->isEnabled()) << name;
    EXPECT_TRUE(chunk->isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), fileName);
    QTest::keyClicks(fileName, "z");
    EXPECT_EQ(fileName->text(), QString::fromStdString(input + "z"));
    Click("imgExit");
    EXPECT_EQ(program.endings, 1);
}

TEST_F(BackgroundOperationWindowTest, ASizeFieldThatWasShutStaysShutAfterTheOperation) {
    PrepareHeldSplit(3000, "1000");
    Find<QListWidget>("lstFormat")->setCurrentRow(0);  // a preset shuts the size field
    ASSERT_FALSE(Find<QLineEdit>("txtFileChunk")->isEnabled());
    Click("imgSplit");
    HoldAtRead(1);
    files.Open();
    WaitForWork();
    EXPECT_EQ(Status(), messages::kSplitSucceeded);
    EXPECT_FALSE(Find<QLineEdit>("txtFileChunk")->isEnabled());
    EXPECT_TRUE(Find<QWidget>("lstFormat")->isEnabled());
}

// The percentage in a progress status with the cancel hint, or -1 for any other status.
int ProgressIn(const QString& status, const char* doing) {
    const QRegularExpression progress(QRegularExpression::escape(doing) +
                                      R"( (\d+)% - press Esc to cancel)");
    const auto match = progress.match(status);
    return match.hasMatch() && match.capturedLength() == status.size() ? match.captured(1).toInt()
                                                                       : -1;
}

TEST_F(BackgroundOperationWindowTest, TheWindowKeepsItsEventLoopAndShowsProgressWithTheCancelHint) {
    // A piece is told done once it is hashed and on the medium, and the split copies one piece
    // ahead for each hashing thread: enough pieces that progress moves while the copy is held.
    const int pieces = CopyLoop::CoresToHashOn() + 3;
    PrepareHeldSplit(pieces * kMiB, "1048576");
    QElapsedTimer sinceOk;
    summary.whileShown = [&] {
        QTest::qWait(300);  // the user reads the summary: that time does not count
        sinceOk.start();
    };
    Click("imgSplit");
    // The click's reaction has returned while the worker waits at its first read.
    EXPECT_FALSE(Find<QWidget>("imgSplit")->isEnabled());
    bool timerFired = false;
    QTimer::singleShot(20, [&] { timerFired = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return timerFired; }, kWaitMilliseconds));

    HoldAtRead(2);  // piece 1 is written
    ASSERT_TRUE(QTest::qWaitFor([&] { return Status().contains('%'); }, kWaitMilliseconds));
    EXPECT_GE(sinceOk.elapsed(), 500) << "progress shows after half a second of writing";
    const int first = ProgressIn(Status(), ui::texts::kSplitting);
    EXPECT_GT(first, 0) << Status().toStdString();
    EXPECT_LT(first, 100) << Status().toStdString();
    HoldAtRead(pieces);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ProgressIn(Status(), ui::texts::kSplitting) > first; },
                                kWaitMilliseconds))
        << Status().toStdString();
    files.Open();
    WaitForWork();
    EXPECT_EQ(Status(), messages::kSplitSucceeded);

    // The join of those pieces, held the same way at its last piece.
    Find<QLineEdit>("txtFileName")->setText(QString::fromStdString(out + "/data.bin"));
    files.Close();
    Click("ImgJoin");
    HoldAtRead(pieces);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const int joined = ProgressIn(Status(), ui::texts::kJoining);
            return joined > 0 && joined < 100;
        },
        kWaitMilliseconds))
        << Status().toStdString();
    files.Open();
    WaitForWork();
    EXPECT_EQ(Status(), messages::kJoinVerified);
    EXPECT_EQ(ReadFile(out + "/data.bin"), PatternBytes(pieces * kMiB));
}

}  // namespace
}  // namespace tessel::testing

namespace tessel::testing {
namespace {

// Counts the paint events a widget gets.
class PaintCounter : public QObject {
  public:
    int paints = 0;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return QObject::eventFilter(watched, event);
    }
};

// The checks of a split run on the worker too: held for two seconds on a slow medium, they leave
// the window repainting and answering, and Esc meanwhile stops the split before the summary.
TEST_F(BackgroundOperationWindowTest,
       AHeldCheckLeavesTheWindowLiveAndEscStopsTheSplitBeforeItsSummary) {
    WriteFile(input, PatternBytes(3000));
    Fill("txtFileName", input);
    Fill("txtFolder", out);
    files.HoldLooks(true);
    Click("imgSplit");
    ASSERT_TRUE(QTest::qWaitFor([&] { return files.LookHeld(); }, kWaitMilliseconds));

    PaintCounter counter;
    window->installEventFilter(&counter);
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(50);
    QElapsedTimer held;
    held.start();
    while (held.elapsed() < 2000) {
        window->update();
        QTest::qWait(100);
    }
    EXPECT_GE(ticks, 20) << "the event loop went on";
    EXPECT_GE(counter.paints, 10) << "the window was drawn again";
    EXPECT_FALSE(Find<QWidget>("imgSplit")->isEnabled()) << "a second operation waits";
    QTest::keyClick(window.get(), Qt::Key_Escape);
    files.HoldLooks(false);
    WaitForWork();
    EXPECT_EQ(Status(), messages::kSplitCancelled);
    EXPECT_TRUE(summary.shown.empty());
    EXPECT_TRUE(Names(out).empty()) << "a split stopped at its check wrote something";
}

}  // namespace
}  // namespace tessel::testing
