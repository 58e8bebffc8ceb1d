// The Help and Exit images and the web link.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QLabel>

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

}  // namespace
}  // namespace tessel::testing
