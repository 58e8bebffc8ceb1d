// While the engine works the window takes no input, and a long copy shows its progress.
#include "ui/busy_operation.h"

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <chrono>
#include <string>
#include <thread>

#include "tests/support/temp_folder.h"
#include "tests/ui/ui_fakes.h"

namespace tessel::testing {
namespace {

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

TEST(BusyOperation, ShowsProgressOnlyAfterHalfASecondOfCopying) {
    QLabel status("Please select a file to Split or Join.");
    ui::BusyOperation busy(status, "Joining pieces...");
    const auto progress = busy.Progress();

    progress(10, 100);
    EXPECT_EQ(status.text(), "Please select a file to Split or Join.");

    std::this_thread::sleep_for(std::chrono::milliseconds(550));
    progress(42, 100);
    EXPECT_EQ(status.text(), "Joining pieces... 42%");

    busy.RestartClock();  // e.g. the summary dialog was just dismissed
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    progress(60, 100);
    EXPECT_EQ(status.text(), "Joining pieces... 42%");
}

using BusyWindowTest = MainWindowTest;

TEST_F(BusyWindowTest, InputThatArrivesDuringASplitIsThrownAwayNotDeliveredAfterwards) {
    TempFolder temp;
    const std::string input = temp / "data.bin";
    WriteFile(input, PatternBytes(4000));
    auto* fileName = Find<QLineEdit>("txtFileName");
    fileName->setText(QString::fromStdString(input));
    Find<QLineEdit>("txtFolder")->setText(QString::fromStdString(temp / "out"));

    summary.whileShown = [&] {
        PostClick(Find<QWidget>("imgExit"));
        PostClick(Find<QWidget>("ImgJoin"));
        PostClick(Find<QWidget>("cmdOpenFile"));
        PostKey(fileName, Qt::Key_X, "x");
        QCoreApplication::postEvent(window.get(), new QCloseEvent);
    };
    Click("imgSplit");
    QCoreApplication::processEvents();

    EXPECT_EQ(summary.shown.size(), 1u);
    EXPECT_EQ(program.endings, 0);
    EXPECT_TRUE(dialogs.fileRequests.empty());
    EXPECT_EQ(fileName->text(), QString::fromStdString(input));
    EXPECT_EQ(Find<QLabel>("lblStatus")->text(), "Successfully broken file into pieces")
        << "a queued Join click would have replaced the split's status";

    // Once the split is over the window answers again.
    PostClick(Find<QWidget>("imgExit"));
    QCoreApplication::processEvents();
    EXPECT_EQ(program.endings, 1);
}

}  // namespace
}  // namespace tessel::testing
