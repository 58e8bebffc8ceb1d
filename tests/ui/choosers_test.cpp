// The open-file dialog and the folder browser behind the two picture buttons.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>

#include "tests/ui/ui_fakes.h"

namespace tessel::testing {
namespace {

using ChoosersTest = MainWindowTest;

TEST_F(ChoosersTest, TheFileButtonAsksForAnyFileAndTakesTheConfirmedPathTrimmed) {
    auto* field = Find<QLineEdit>("txtFileName");
    field->setText("/earlier/choice.txt");

    Click("cmdOpenFile");  // cancelled
    ASSERT_EQ(dialogs.fileRequests.size(), 1u);
    const auto& request = dialogs.fileRequests[0];
    EXPECT_EQ(request.owner, window.get());
    EXPECT_EQ(request.title, "Add file to break or Join");
    EXPECT_EQ(request.folder, "/");
    EXPECT_EQ(request.filter, "All Files (*)");
    EXPECT_EQ(field->text(), "/earlier/choice.txt");

    dialogs.fileAnswer = "  /data/not yet there.doc ";
    Click("cmdOpenFile");
    EXPECT_EQ(field->text(), "/data/not yet there.doc");
    EXPECT_TRUE(settings.OutputFolder == StartFolder().toStdString() &&
                settings.StatusMessage.empty())
        << "choosing a file touches no setting";
}

TEST_F(ChoosersTest, TheFolderButtonFocusesTheFolderFieldAndTakesTheChosenFolder) {
    auto* field = Find<QLineEdit>("txtFolder");

    Click("cmdOpenFolder");  // cancelled
    ASSERT_EQ(dialogs.folderRequests.size(), 1u);
    EXPECT_EQ(dialogs.folderRequests[0].owner, window.get());
    EXPECT_EQ(dialogs.folderRequests[0].title, "Select a folder");
    EXPECT_EQ(dialogs.folderRequests[0].folder, "/");
    EXPECT_EQ(dialogs.folderRequests[0].focus, field) << "the field has the focus before asking";
    EXPECT_EQ(field->text(), StartFolder());
    EXPECT_EQ(QApplication::focusWidget(), field);

    dialogs.folderAnswer = "/media/usb stick";
    Click("cmdOpenFolder");
    EXPECT_EQ(field->text(), "/media/usb stick");
    EXPECT_EQ(settings.OutputFolder, StartFolder().toStdString())
        << "only Split copies the folder field";
}

TEST_F(ChoosersTest, ThePictureButtonsAnswerTheKeyboardToo) {
    auto* button = Find<QPushButton>("cmdOpenFile");
    button->setFocus();
    dialogs.fileAnswer = "/chosen/by/keyboard";
    QTest::keyClick(button, Qt::Key_Space);
    EXPECT_EQ(Find<QLineEdit>("txtFileName")->text(), "/chosen/by/keyboard");
}

}  // namespace
}  // namespace tessel::testing
