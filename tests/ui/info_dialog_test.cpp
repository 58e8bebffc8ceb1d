// The information dialog as the split shows it: a fresh modal dialog per showing, centred,
// with the summary, closed by OK.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <cmath>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"
#include "tests/ui/ui_fakes.h"
#include "ui/dlg_info.h"

namespace tessel::testing {
namespace {

// What one showing of the dialog looked like.
struct Seen {
    QPointer<QWidget> dialog;
    QString message;
    bool modal = false;
    bool okFocused = false;
    bool centred = false;
};

// Runs `answer` on the modal dialog as soon as it is up, after noting what it shows. The split
// checks its file on the worker first, so the dialog is looked for until it comes.
void WhenDialogOpens(std::vector<Seen>& seen, std::function<void(QWidget&)> answer) {
    auto* poll = new QTimer;
    QElapsedTimer* waited = new QElapsedTimer;
    waited->start();
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, waited, &seen, answer] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr && waited->elapsed() < 30000) return;
        poll->stop();
        poll->deleteLater();
        delete waited;
        if (dialog == nullptr) {
            ADD_FAILURE() << "no modal dialog is open";
            return;
        }
        EXPECT_TRUE(QTest::qWaitForWindowActive(dialog));
        Seen now;
        now.dialog = dialog;
        if (auto* label = dialog->findChild<QLabel*>("lblMessage")) now.message = label->text();
        now.modal = dialog->isModal();
        now.okFocused = QApplication::focusWidget() == dialog->findChild<QWidget*>("OKButton");
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect frame = dialog->frameGeometry();
        now.centred =
            std::abs((frame.left() - screen.left()) - (screen.right() - frame.right())) <= 1 &&
            std::abs((frame.top() - screen.top()) - (screen.bottom() - frame.bottom())) <= 1;
        seen.push_back(now);
        answer(*dialog);
    });
    poll->start();
}

TEST(InfoDialog, HasItsLayoutAndClosesWithEnterSpaceEscapeOrTheCloseBox) {
    ui::InfoDialogPresenter presenter;
    std::vector<Seen> seen;
    const std::function<void(QWidget&)> answers[] = {
        [](QWidget& dialog) { QTest::keyClick(&dialog, Qt::Key_Return); },
        [](QWidget& dialog) {
            QTest::keyClick(dialog.findChild<QWidget*>("OKButton"), Qt::Key_Space);
        },
        [](QWidget& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); },
        [](QWidget& dialog) { dialog.close(); },
        [](QWidget& dialog) {
            QTest::mouseClick(dialog.findChild<QWidget*>("OKButton"), Qt::LeftButton);
        },
    };
    for (const auto& answer : answers) {
        QWidget* layoutChecked = nullptr;
        WhenDialogOpens(seen, [&layoutChecked, answer](QWidget& dialog) {
            layoutChecked = &dialog;
            EXPECT_EQ(dialog.objectName(), "dlgInfo");
            EXPECT_EQ(dialog.windowTitle(), "");
            EXPECT_EQ(dialog.size(), QSize(3390 / kTwips, 2325 / kTwips));
            EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
            EXPECT_FALSE(dialog.windowIcon().isNull());
            EXPECT_EQ(dialog.palette().color(dialog.backgroundRole()), QColor(255, 255, 255));
            auto* banner = dialog.findChild<QLabel*>("imgTitle");
            auto* frame = dialog.findChild<QGroupBox*>("framMessage");
            auto* message = dialog.findChild<QLabel*>("lblMessage");
            auto* ok = dialog.findChild<QPushButton*>("OKButton");
            if (banner == nullptr || frame == nullptr || message == nullptr || ok == nullptr) {
                ADD_FAILURE() << "a control is missing";
            } else {
                EXPECT_EQ(banner->geometry(), Twips(-150, -30, 3570, 525));
                EXPECT_EQ(banner->pixmap().deviceIndependentSize(), QSizeF(238, 35));
                EXPECT_EQ(frame->geometry(), Twips(120, 420, 3210, 1425));
                EXPECT_EQ(frame->title(), "");
                EXPECT_EQ(message->parentWidget(), frame);
                EXPECT_EQ(message->geometry(), Twips(135, 210, 2955, 960));
                EXPECT_FALSE(message->autoFillBackground());
                EXPECT_EQ(message->font().family(), "MS Sans Serif");
                EXPECT_DOUBLE_EQ(message->font().pointSizeF(), 8.25);
                EXPECT_EQ(ok->geometry(), Twips(1125, 1905, 1215, 375));
                EXPECT_EQ(ok->text(), "OK");
            }
            answer(dialog);
        });
        presenter.ShowModal(
            "Selected file : /a/b\r\nSize of file  : 5 bytes  \r\n This will require only One "
            "file");
        EXPECT_NE(layoutChecked, nullptr) << "ShowModal returned without showing the dialog";
    }
    ASSERT_EQ(seen.size(), std::size(answers));
    for (const Seen& showing : seen) {
        EXPECT_EQ(
            showing.message,
            "Selected file : /a/b\nSize of file  : 5 bytes  \n This will require only One file");
        EXPECT_TRUE(showing.modal);
        EXPECT_TRUE(showing.okFocused);
        EXPECT_TRUE(showing.centred);
        EXPECT_TRUE(showing.dialog.isNull()) << "each dialog is destroyed once closed";
    }
}

TEST(InfoDialog, ALongSummaryIsCutAtTheLabelsBottomEdgeAndAnEmptyOneShowsNothing) {
    ui::InfoDialogPresenter presenter;
    std::vector<Seen> seen;
    QSize labelSize;
    int neededHeight = 0;
    WhenDialogOpens(seen, [&](QWidget& dialog) {
        auto* message = dialog.findChild<QLabel*>("lblMessage");
        labelSize = message->size();
        neededHeight = message->heightForWidth(message->width());
        QTest::keyClick(&dialog, Qt::Key_Return);
    });
    std::string longSummary;
    for (int line = 0; line < 12; ++line) longSummary += "line of the summary\r\n";
    presenter.ShowModal(longSummary);
    EXPECT_EQ(labelSize, QSize(2955 / kTwips, 960 / kTwips)) << "the label keeps its size";
    EXPECT_GT(neededHeight, labelSize.height()) << "the text is taller than the label";

    WhenDialogOpens(seen, [](QWidget& dialog) { QTest::keyClick(&dialog, Qt::Key_Return); });
    presenter.ShowModal("");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].message, "");
}

class InfoDialogSplitTest : public MainWindowTest {
  protected:
    void SetUp() override { Open(presenter); }
    ui::InfoDialogPresenter presenter;
    TempFolder temp;
};

TEST_F(InfoDialogSplitTest, TwoSplitsInARowShowTwoFreshDialogsEachWithItsOwnSummary) {
    const std::string small = temp / "small.txt";
    const std::string large = temp / "large.bin";
    WriteFile(small, PatternBytes(10));
    const auto largeBytes = PatternBytes(3 * 1457644);
    WriteFile(large, largeBytes);
    Find<QLineEdit>("txtFolder")->setText(QString::fromStdString(temp / "out"));

    std::vector<Seen> seen;
    Find<QLineEdit>("txtFileName")->setText(QString::fromStdString(small));
    WhenDialogOpens(seen, [](QWidget& dialog) { QTest::keyClick(&dialog, Qt::Key_Return); });
    Run("imgSplit");
    Find<QLineEdit>("txtFileName")->setText(QString::fromStdString(large));
    WhenDialogOpens(seen, [](QWidget& dialog) { QTest::keyClick(&dialog, Qt::Key_Return); });
    Run("imgSplit");

    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].message, QString::fromStdString("Selected file : " + small +
                                                      "\nSize of file  : 10 bytes  \n This will "
                                                      "require only One file"));
    EXPECT_EQ(seen[1].message, QString::fromStdString("Selected File : " + large +
                                                      "\nSize of file  : 4372932 bytes  \n This "
                                                      "will require 3 Files."));
    for (const Seen& showing : seen) {
        EXPECT_TRUE(showing.centred);
        EXPECT_TRUE(showing.dialog.isNull());
    }
    EXPECT_EQ(Find<QLabel>("lblStatus")->text(), "Successfully broken file into pieces");
    EXPECT_EQ(ReadFile(temp / "out/large.bin.3.BRK"),
              std::vector<char>(largeBytes.end() - 1457644, largeBytes.end()));
}

}  // namespace
}  // namespace tessel::testing
