// Where the help viewer is sent: the help file beside the executable, else the installed one.
#include "ui/help_file.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <filesystem>
#include <string>

#include "tests/support/temp_folder.h"

namespace tessel::testing {
namespace {

TEST(HelpFile, TheFileBesideTheExecutableComesFirstThenTheInstalledOne) {
    TempFolder beside;
    TempFolder installed;
    const QStringList folders = {QString::fromStdString(beside.path().string()),
                                 QString::fromStdString(installed.path().string())};
    const QString besideFile = QString::fromStdString(beside / "Tessel.hlp");
    const QString installedFile = QString::fromStdString(installed / "Tessel.hlp");

    // Neither: the viewer is sent to the first place, to report the file missing there.
    EXPECT_EQ(ui::FindHelpFile(folders), besideFile);
    // A folder of that name is no help file.
    std::filesystem::create_directory(beside / "Tessel.hlp");
    EXPECT_EQ(ui::FindHelpFile(folders), besideFile);
    std::filesystem::remove(beside / "Tessel.hlp");

    WriteFile(installed / "Tessel.hlp", {'<', 'p', '>'});
    EXPECT_EQ(ui::FindHelpFile(folders), installedFile);
    WriteFile(beside / "Tessel.hlp", {'<', 'p', '>'});
    EXPECT_EQ(ui::FindHelpFile(folders), besideFile);
}

TEST(HelpFile, ItIsLookedForBesideTheExecutableAndInAnInstalledDataFolder) {
    const QStringList folders = ui::HelpFolders();
    ASSERT_EQ(folders.size(), 2);
    EXPECT_EQ(folders[0], QCoreApplication::applicationDirPath());
    EXPECT_TRUE(QDir::isAbsolutePath(folders[1])) << folders[1].toStdString();
    EXPECT_TRUE(folders[1].endsWith("/share/tessel")) << folders[1].toStdString();
}

}  // namespace
}  // namespace tessel::testing
