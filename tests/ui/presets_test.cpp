// The preset list and the split-size field it feeds.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>

#include "tests/ui/ui_fakes.h"

namespace tessel::testing {
namespace {

// The byte count each entry puts into the field, in list order; "Custom" last.
const char* const kPresetSizes[] = {"1457644",    "1258292",   "2936012",   "4194304",
                                    "104857600",  "125829120", "262144000", "367001600",
                                    "1073741824", "2147483648"};
constexpr int kCustomRow = 10;

using PresetsTest = MainWindowTest;

TEST_F(PresetsTest, EachMediumPutsItsSizeIntoTheDisabledFieldAndLeavesTheFocus) {
    auto* list = Find<QListWidget>("lstFormat");
    auto* field = Find<QLineEdit>("txtFileChunk");
    auto* fileName = Find<QWidget>("txtFileName");
    ASSERT_EQ(list->count(), 11);
    for (int row = 0; row < kCustomRow; ++row) {
        list->setCurrentRow(row);
        EXPECT_EQ(field->text(), kPresetSizes[row]) << list->item(row)->text().toStdString();
        EXPECT_FALSE(field->isEnabled()) << row;
        EXPECT_EQ(QApplication::focusWidget(), fileName) << row;
        EXPECT_EQ(list->selectedItems().size(), 1);
    }
    EXPECT_EQ(settings.ChunkSize, 1457644) << "choosing a preset leaves the settings alone";
}

TEST_F(PresetsTest, CustomOpensTheFieldForTypingUntilAMediumIsChosenAgain) {
    auto* list = Find<QListWidget>("lstFormat");
    auto* field = Find<QLineEdit>("txtFileChunk");

    list->setCurrentRow(kCustomRow);
    EXPECT_EQ(field->text(), "0");
    EXPECT_TRUE(field->isEnabled());
    // The focus moves once the list is done with the choice.
    EXPECT_TRUE(QTest::qWaitFor([field] { return field->hasFocus(); }));
    EXPECT_EQ(field->selectedText(), "0") << "what is typed replaces the 0";

    QTest::keyClicks(field, "5000");
    EXPECT_EQ(field->text(), "5000");

    list->setCurrentRow(3);  // Diskette 4 MB
    EXPECT_EQ(field->text(), "4194304");
    EXPECT_FALSE(field->isEnabled());

    list->setCurrentRow(kCustomRow);
    EXPECT_EQ(field->text(), "0") << "Custom starts again from 0";
    EXPECT_TRUE(field->isEnabled());
}

TEST_F(PresetsTest, TheKeyboardChoosesPresetsToo) {
    auto* list = Find<QListWidget>("lstFormat");
    auto* field = Find<QLineEdit>("txtFileChunk");
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    ASSERT_EQ(list->selectedItems().size(), 1);
    const int row = list->row(list->selectedItems().constFirst());
    EXPECT_EQ(field->text(), kPresetSizes[row]);
    QTest::keyClick(list, Qt::Key_End);
    EXPECT_EQ(field->text(), "0");
    EXPECT_TRUE(field->isEnabled());
    EXPECT_TRUE(QTest::qWaitFor([field] { return field->hasFocus(); }));
}

}  // namespace
}  // namespace tessel::testing
