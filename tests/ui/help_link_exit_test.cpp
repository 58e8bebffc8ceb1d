// The Help and Exit images, the web link, and Tessel's own help viewer.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QTextBrowser>

#include "platform/desktop/qt_desktop.h"
#include "tests/support/temp_folder.h"
#include "tests/ui/ui_fakes.h"

namespace tessel::testing {
namespace {

using HelpLinkExitTest = MainWindowTest;

TEST_F(HelpLinkExitTest, HelpAsksForTheHelpFileBesideTheExecutableAndChangesNothingElse) {
    Click("imgHelp");
    ASSERT_EQ(help.requests.size(), 1u);
    EXPECT_EQ(help.requests[0].first, window.get());
    EXPECT_EQ(help.requests[0].second, QCoreApplication::applicationDirPath() + "/Tessel.hlp");
    EXPECT_EQ(Find<QLabel>("lblStatus")->text(), "Please select a file to Split or Join.");
    EXPECT_TRUE(shell.addresses.isEmpty());
    EXPECT_EQ(program.endings, 0);
}

TEST_F(HelpLinkExitTest, TheLinkOpensTheMakersWebSite) {
    Click("lblURL");
    EXPECT_EQ(shell.addresses, QStringList{"https://tessel.example.org"});
    EXPECT_TRUE(help.requests.empty());
}

TEST_F(HelpLinkExitTest, ExitAndClosingTheWindowBothEndTheProgram) {
    Click("imgExit");
    EXPECT_EQ(program.endings, 1);
    window->close();
    EXPECT_EQ(program.endings, 2);
}

TEST(HelpViewer, ShowsTheHelpFileOrSaysThatItIsMissing) {
    TempFolder temp;
    desktop::QtHelpService service;
    const QString missing = QString::fromStdString(temp / "Tessel.hlp");
    service.ShowContents(nullptr, missing);
    ASSERT_NE(service.Viewer(), nullptr);
    EXPECT_TRUE(service.Viewer()->isVisible());
    EXPECT_TRUE(service.Viewer()->toPlainText().contains(missing));

    const std::string html =
        "<html><body><h1>Contents</h1><p>How to break a file.</p></body></html>";
    WriteFile(temp / "Tessel.hlp", std::vector<char>(html.begin(), html.end()));
    service.ShowContents(nullptr, missing);
    EXPECT_EQ(service.Viewer()->toPlainText(), "Contents\nHow to break a file.");
    EXPECT_TRUE(service.Viewer()->isVisible());
}

}  // namespace
}  // namespace tessel::testing
