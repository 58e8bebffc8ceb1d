// The Qt desktop services themselves: the file dialog, the folder browser, the question before
// a replace and the help viewer.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "platform/desktop/qt_desktop.h"
#include "tests/support/case_names.h"
#include "tests/support/temp_folder.h"

namespace tessel::testing {
namespace {

// Answers the file dialog that opens next with `answer`, after checking what it asks.
void WhenFileDialogOpens(std::function<void(QFileDialog&)> answer) {
    QTimer::singleShot(0, [answer] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            ADD_FAILURE() << "no file dialog is open";
            if (QApplication::activeModalWidget() != nullptr)
                QApplication::activeModalWidget()->close();
            return;
        }
        answer(*dialog);
    });
}

TEST(DesktopServicesDialogs, TheFileDialogAcceptsAnyNameAndGivesNothingWhenCancelled) {
    TempFolder temp;
    desktop::QtDialogService service;
    const QString folder = QString::fromStdString(temp.path().string());

    WhenFileDialogOpens([&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Add file to break or Join");
        EXPECT_EQ(dialog.fileMode(), QFileDialog::AnyFile);
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(dialog.directory().absolutePath(), folder);
        EXPECT_EQ(dialog.nameFilters(), QStringList{"All Files (*)"});
        dialog.reject();
    });
    EXPECT_FALSE(service.ChooseFile(nullptr, "Add file to break or Join", folder, "All Files (*)"));

    const QString typed = folder + "/not yet there.doc";
    WhenFileDialogOpens([&](QFileDialog& dialog) {
        dialog.selectFile(typed);
        static_cast<QDialog&>(dialog).accept();  // as the Open or Choose button does
    });
    EXPECT_EQ(service.ChooseFile(nullptr, "Add file to break or Join", folder, "All Files (*)"),
              typed);
}

TEST(DesktopServicesDialogs, TheFolderBrowserOffersFoldersOnly) {
    TempFolder temp;
    desktop::QtDialogService service;
    const QString folder = QString::fromStdString(temp.path().string());

    WhenFileDialogOpens([&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Select a folder");
        EXPECT_EQ(dialog.fileMode(), QFileDialog::Directory);
        EXPECT_TRUE(dialog.testOption(QFileDialog::ShowDirsOnly));
        EXPECT_EQ(dialog.directory().absolutePath(), folder);
        dialog.reject();
    });
    EXPECT_FALSE(service.ChooseFolder(nullptr, "Select a folder", folder));

    WhenFileDialogOpens([&](QFileDialog& dialog) {
        dialog.selectFile(folder);
        static_cast<QDialog&>(dialog).accept();  // as the Open or Choose button does
    });
    EXPECT_EQ(service.ChooseFolder(nullptr, "Select a folder", folder), folder);
}

QAbstractButton* ButtonOf(QMessageBox& box, const QString& caption) {
    for (QAbstractButton* button : box.buttons())
        if (button->text() == caption) return button;
    return nullptr;
}

struct Answer {
    const char* name;
    std::function<void(QMessageBox&)> give;
    bool replaces;
};
const Answer kAnswers[] = {
    {"Esc", [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); }, false},
    {"Enter", [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Return); }, false},
    {"Cancel", [](QMessageBox& box) { ButtonOf(box, "Cancel")->click(); }, false},
    {"Replace", [](QMessageBox& box) { ButtonOf(box, "Replace")->click(); }, true},
    {"close box", [](QMessageBox& box) { box.close(); }, false},
};

class DesktopServicesReplaceQuestion : public ::testing::TestWithParam<Answer> {};

TEST_P(DesktopServicesReplaceQuestion, TheReplaceQuestionKeepsTheFileUnlessReplaceIsChosen) {
    desktop::QtDialogService service;
    QWidget owner;
    owner.show();
    const desktop::ReplaceQuestion question{"Tessel v.1.0", "a.doc already holds 3 bytes. Replace?",
                                            "Replace", "Cancel"};
    const auto& answer = GetParam();
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            ADD_FAILURE() << "no question is open";
            return;
        }
        seen = true;
        EXPECT_EQ(box->parentWidget(), &owner) << "the question stands over the window";
        EXPECT_EQ(box->windowTitle(), "Tessel v.1.0");
        EXPECT_EQ(box->text(), "a.doc already holds 3 bytes. Replace?");
        EXPECT_EQ(box->icon(), QMessageBox::Question);
        EXPECT_EQ(box->buttons().size(), 2);
        QAbstractButton* cancel = ButtonOf(*box, "Cancel");
        if (ButtonOf(*box, "Replace") == nullptr || cancel == nullptr) {
            ADD_FAILURE() << "a button is missing";
            box->reject();
            return;
        }
        EXPECT_EQ(box->defaultButton(), cancel);
        EXPECT_EQ(box->escapeButton(), cancel);
        answer.give(*box);
    });
    EXPECT_EQ(service.AskToReplace(&owner, question), answer.replaces) << answer.name;
    EXPECT_TRUE(seen) << answer.name;
}

INSTANTIATE_TEST_SUITE_P(, DesktopServicesReplaceQuestion, ::testing::ValuesIn(kAnswers),
                         [](const auto& test) { return CamelCase(test.param.name); });

TEST(DesktopServicesHelpViewer, ShowsTheHelpFileOrSaysThatItIsMissing) {
    TempFolder temp;
    desktop::QtHelpService service;
    const QString helpFile = QString::fromStdString(temp / "Tessel.hlp");
    service.ShowContents(nullptr, helpFile);
    ASSERT_NE(service.Viewer(), nullptr);
    EXPECT_TRUE(service.Viewer()->isVisible());
    EXPECT_TRUE(service.Viewer()->toPlainText().contains(helpFile));

    const std::string html =
        "<html><body><h1>Contents</h1><p>How to break a file.</p></body></html>";
    WriteFile(temp / "Tessel.hlp", std::vector<char>(html.begin(), html.end()));
    service.ShowContents(nullptr, helpFile);
    EXPECT_EQ(service.Viewer()->toPlainText(), "Contents\nHow to break a file.");
    EXPECT_TRUE(service.Viewer()->isVisible());

    // A caret that Down moves line by line (a screen reader reads the line it reaches), while
    // the text stays as it is.
    desktop::HelpViewer& viewer = *service.Viewer();
    EXPECT_TRUE(viewer.isReadOnly());
    EXPECT_EQ(viewer.textCursor().blockNumber(), 0);
    QTest::keyClick(&viewer, Qt::Key_Down);
    EXPECT_EQ(viewer.textCursor().blockNumber(), 1);
    QTest::keyClick(&viewer, Qt::Key_X);
    EXPECT_EQ(viewer.toPlainText(), "Contents\nHow to break a file.");
}

}  // namespace
}  // namespace tessel::testing
