// The window for a keyboard-only user and for a screen reader: the focus order, what assistive
// technology reads for each control, the keys that press the images, their focus mark, and the
// announcement of every status. What Orca itself says is tested by orca_test.sh.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/messages.h"
#include "tests/support/temp_folder.h"
#include "tests/ui/ui_fakes.h"

namespace tessel::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kNoTab = -1;

// One row per control that a keyboard or a screen reader meets.
struct Access {
    const char* control;
    int tab;  // place in the Tab order, kNoTab where Tab never stops
    QAccessible::Role role;
    const char* name;         // what a screen reader reads as its name
    const char* description;  // the tooltip, read as its description
};

const Access kAccess[] = {
    {"txtFileName", 0, QAccessible::EditableText, "File to Split or Join", ""},
    {"cmdOpenFile", 1, QAccessible::Button, "Choose the file to split or join",
     "Click this button to choose the file to split or join"},
    {"txtFolder", 2, QAccessible::EditableText, "Output Folder", ""},
    {"cmdOpenFolder", 3, QAccessible::Button, "Choose the output folder",
     "The folder where the split file should be saved"},
    // Its description is the size a split will use: here the field's, with no entry chosen.
    {"lstFormat", 4, QAccessible::List, "File Size", "Split Size (Bytes) 1457644"},
    {"txtFileChunk", 5, QAccessible::EditableText, "Split Size (Bytes)",
     "Choose the file chunk size. Chunk size is the size of the file pieces. The input file will "
     "be broken into pieces of this size. "},
    {"chkBatchFile", 6, QAccessible::CheckBox, "  Generate Batch file for merging.", ""},
    {"spnRecovery", 7, QAccessible::SpinBox, "Recovery pieces",
     "Extra pieces written after the others. A join can rebuild up to this many lost or damaged "
     "pieces from them."},
    {"imgSplit", 8, QAccessible::Button, "Break", "Break the file"},
    {"ImgJoin", 9, QAccessible::Button, "Join", "Join the file"},
    {"imgHelp", 10, QAccessible::Button, "Help", ""},
    {"imgExit", 11, QAccessible::Button, "Exit", "Exit Tessel"},
    {"lblURL", 12, QAccessible::Link, "Open the Tessel web site", ""},
    {"Picture1", kNoTab, QAccessible::StatusBar, "Status", ""},
    {"frmOutputSize", kNoTab, QAccessible::Grouping, "Output Options", ""},
    {"lblStatus", kNoTab, QAccessible::Notification, "Please select a file to Split or Join.", ""},
    {"lblFile", kNoTab, QAccessible::StaticText, "File to Split or Join", ""},
    {"lblRecovery", kNoTab, QAccessible::StaticText, "Recovery pieces :", ""},
    {"Image1", kNoTab, QAccessible::Graphic, "", ""},
};

QAccessibleInterface* Accessible(QWidget* widget) {
    return QAccessible::queryAccessibleInterface(widget);
}

using KeyboardAccessTest = MainWindowTest;

TEST_F(KeyboardAccessTest, EveryControlHasItsTabPlaceRoleNameAndDescription) {
    QAccessibleInterface* windowAccess = Accessible(window.get());
    EXPECT_EQ(windowAccess->role(), QAccessible::Window);
    EXPECT_EQ(windowAccess->text(QAccessible::Name), "Tessel v.1.0");

    std::vector<std::string> tabOrder;
    for (const Access& row : kAccess) {
        auto* control = Find<QWidget>(row.control);
        if (control == nullptr) continue;
        QAccessibleInterface* access = Accessible(control);
        ASSERT_NE(access, nullptr) << row.control;
        EXPECT_EQ(access->role(), row.role) << row.control;
        EXPECT_EQ(access->text(QAccessible::Name), QString::fromUtf8(row.name)) << row.control;
        EXPECT_EQ(access->text(QAccessible::Description), QString::fromUtf8(row.description))
            << row.control;
        const bool takesTab = (control->focusPolicy() & Qt::TabFocus) != 0;
        EXPECT_EQ(takesTab, row.tab != kNoTab) << row.control;
        EXPECT_EQ(access->state().focusable, row.tab != kNoTab) << row.control;
        if (row.tab != kNoTab) {
            if (tabOrder.size() <= static_cast<std::size_t>(row.tab)) tabOrder.resize(row.tab + 1);
            tabOrder[row.tab] = row.control;
        }
    }

    // Tab from the file field visits every enabled control of the table in its order and comes
    // back round; the chunk-size field is disabled at start-up and is passed over.
    std::vector<std::string> expected;
    for (std::size_t place = 1; place < tabOrder.size(); ++place) {
        if (tabOrder[place] != "txtFileChunk") expected.push_back(tabOrder[place]);
    }
    expected.push_back(tabOrder.at(0));
    std::vector<std::string> visited;
    Click("imgHelp");
    ASSERT_EQ(QApplication::focusWidget(), Find<QWidget>("txtFileName"))
        << "a click on an image leaves the focus where it was";
    for (std::size_t step = 0; step < expected.size(); ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.push_back(QApplication::focusWidget()->objectName().toStdString());
    }
    EXPECT_EQ(visited, expected);

    // Once enabled (the Custom preset), the chunk-size field takes its place between the list
    // and the check box again; the list's description follows the chosen size.
    auto* list = Find<QListWidget>("lstFormat");
    list->setCurrentRow(kCustomRow);
    ASSERT_TRUE(QTest::qWaitFor([this] { return Find<QWidget>("txtFileChunk")->hasFocus(); }));
    EXPECT_EQ(Accessible(list)->text(QAccessible::Description), "Split Size (Bytes) 0");
    QTest::keyClicks(QApplication::focusWidget(), "5000");
    EXPECT_EQ(Accessible(list)->text(QAccessible::Description), "Split Size (Bytes) 5000");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), Find<QWidget>("chkBatchFile"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), list);
    QTest::keyClick(list, Qt::Key_Home);
    EXPECT_EQ(Accessible(list)->text(QAccessible::Description),
              "Diskette 3'5 High Density (1.44 MB) 1457644");
}

TEST_F(KeyboardAccessTest, SpaceEnterAndReturnPressAFocusedImageAsAClickDoes) {
    TempFolder temp;
    const std::string input = temp / "report.doc";
    const std::string out = temp / "out";
    const auto bytes = PatternBytes(2500);
    WriteFile(input, bytes);
    Find<QLineEdit>("txtFileName")->setText(QString::fromStdString(input));
    Find<QLineEdit>("txtFolder")->setText(QString::fromStdString(out));

    auto* split = Find<QWidget>("imgSplit");
    split->setFocus(Qt::TabFocusReason);
    QTest::keyClick(split, Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor([&] { return summary.shown.size() == 1u; }, 30000))
        << "Space on BREAK splits";
    WaitForWork();
    EXPECT_EQ(Find<QLabel>("lblStatus")->text(), messages::kSplitSucceeded);
    EXPECT_EQ(ReadFile(out + "/report.doc.1.BRK"), bytes);

    Find<QLineEdit>("txtFileName")->setText(QString::fromStdString(out + "/report.doc"));
    auto* join = Find<QWidget>("ImgJoin");
    join->setFocus(Qt::TabFocusReason);
    QTest::keyClick(join, Qt::Key_Space);
    WaitForWork();
    EXPECT_EQ(Find<QLabel>("lblStatus")->text(), messages::kJoinVerified) << "Space on JOIN";
    EXPECT_EQ(ReadFile(out + "/report.doc"), bytes);

    auto* helpImage = Find<QWidget>("imgHelp");
    helpImage->setFocus(Qt::TabFocusReason);
    QTest::keyClick(helpImage, Qt::Key_Return);
    QTest::keyClick(helpImage, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(help.requests.size(), 2u) << "Return and the keypad's Enter on Help";
    // Keys that are not a press, a press with Ctrl, and the repeats of a held key do nothing.
    QTest::keyClick(helpImage, Qt::Key_A);
    QTest::keyClick(helpImage, Qt::Key_Space, Qt::ControlModifier);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
    QApplication::sendEvent(helpImage, &repeat);
    EXPECT_EQ(help.requests.size(), 2u);

    auto* link = Find<QWidget>("lblURL");
    link->setFocus(Qt::TabFocusReason);
    QTest::keyClick(link, Qt::Key_Return);
    EXPECT_EQ(shell.addresses, QStringList{"https://tessel.example.org"});

    auto* exit = Find<QWidget>("imgExit");
    exit->setFocus(Qt::TabFocusReason);
    QTest::keyClick(exit, Qt::Key_Space);
    EXPECT_EQ(program.endings, 1);
}

TEST_F(KeyboardAccessTest, AScreenReaderPressesAnImageThroughItsPressActionWhichNamesNoKey) {
    // Qt presses a button at once and lets it go (a click) a moment later.
    const auto press = [](const char* name, QWidget* control) {
        QAccessibleActionInterface* actions = Accessible(control)->actionInterface();
        EXPECT_NE(actions, nullptr) << name;
        if (actions == nullptr) return;
        const QString action = QAccessibleActionInterface::pressAction();
        EXPECT_EQ(actions->actionNames().contains(action), control->isEnabled()) << name;
        // A key named here would be read out after the control's name as its shortcut.
        EXPECT_EQ(actions->keyBindingsForAction(action).join(QString()), "") << name;
        actions->doAction(action);
    };
    press("imgHelp", Find<QWidget>("imgHelp"));
    EXPECT_TRUE(QTest::qWaitFor([this] { return help.requests.size() == 1; }));
    press("lblURL", Find<QWidget>("lblURL"));
    EXPECT_TRUE(QTest::qWaitFor([this] { return shell.addresses.size() == 1; }));

    auto* exit = Find<QWidget>("imgExit");
    auto* link = Find<QWidget>("lblURL");
    exit->setEnabled(false);
    link->setEnabled(false);
    press("imgExit", exit);
    press("lblURL", link);
    QTest::qWait(500);  // longer than a click takes
    EXPECT_EQ(program.endings, 0) << "a disabled image cannot be pressed";
    EXPECT_EQ(shell.addresses.size(), 1u) << "a disabled link cannot be pressed";
    exit->setEnabled(true);
    press("imgExit", exit);
    EXPECT_TRUE(QTest::qWaitFor([this] { return program.endings == 1; }));
}

TEST_F(KeyboardAccessTest, AFocusedImageShowsAMarkAlongItsEdge) {
    for (const char* name : {"imgSplit", "imgHelp", "lblURL"}) {
        auto* control = Find<QWidget>(name);
        const QImage plain = control->grab().toImage();
        control->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(control->hasFocus()) << name;
        const QImage marked = control->grab().toImage();
        EXPECT_NE(plain, marked) << name;
        // The mark runs along the top edge: some of its pixels are dark where there was white.
        int darkened = 0;
        for (int x = 0; x < marked.width(); ++x) {
            if (qGray(plain.pixel(x, 0)) > 200 && qGray(marked.pixel(x, 0)) < 128) ++darkened;
        }
        EXPECT_GT(darkened, marked.width() / 4) << name;
        Find<QWidget>("txtFileName")->setFocus();
        EXPECT_EQ(control->grab().toImage(), plain) << name << " keeps no mark without the focus";
    }
}

// What assistive technology was told to read out of the status line: a screen reader reads a
// notification out when it is shown.
std::vector<std::string> statusAnnouncements;
QPointer<QObject> watchedStatus;

void RecordStatusAnnouncement(QAccessibleEvent* event) {
    if (event->object() != watchedStatus || event->type() != QAccessible::ObjectShow) return;
    statusAnnouncements.push_back(
        event->accessibleInterface()->text(QAccessible::Name).toStdString());
}

TEST_F(KeyboardAccessTest, EveryStatusIsAnnouncedOnceEvenWhenItRepeats) {
    // Qt hands accessibility events on only while a bridge to assistive technology is active,
    // which the offscreen platform never has: ui_status_announced_over_atspi runs this test on
    // X11 beside a real accessibility bus.
    if (QGuiApplication::platformName() == "offscreen") GTEST_SKIP() << "no accessibility bridge";
    ASSERT_TRUE(QTest::qWaitFor([] { return QAccessible::isActive(); }, 5000))
        << "the accessibility bridge did not become active";
    watchedStatus = Find<QLabel>("lblStatus");
    statusAnnouncements.clear();
    QAccessible::installUpdateHandler(&RecordStatusAnnouncement);

    Find<QListWidget>("lstFormat")->setCurrentRow(kCustomRow);
    Find<QLineEdit>("txtFileChunk")->setText("abc");
    Click("imgSplit");
    Click("imgSplit");  // the same refusal again
    Find<QLineEdit>("txtFolder")->setText("  ");
    Click("imgSplit");
    Click("imgSplit");
    Find<QLineEdit>("txtFileName")->setText("/nonexistent/nothing.bin");
    Click("ImgJoin");
    WaitForWork();  // the join's check runs on the worker

    QAccessible::installUpdateHandler(nullptr);
    const std::string refused = "Error - The split size must be a whole number of bytes";
    const std::string noFolder = "Error - Choose an output folder";
    EXPECT_EQ(statusAnnouncements, (std::vector<std::string>{refused, refused, noFolder, noFolder,
                                                             messages::kJoinFailed}));
}

}  // namespace
}  // namespace tessel::testing
