// The Qt desktop services themselves: the file dialog, the folder browser and the help viewer.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QTextBrowser>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "platform/desktop/qt_desktop.h"
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

TEST(QtDialogService, TheFileDialogAcceptsAnyNameAndGivesNothingWhenCancelled) {
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

TEST(QtDialogService, TheFolderBrowserOffersFoldersOnly) {
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

TEST(HelpViewer, ShowsTheHelpFileOrSaysThatItIsMissing) {
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
}

}  // namespace
}  // namespace tessel::testing
