// The preset list and the split-size field it feeds, and the help file's table of them.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <iterator>
#include <string>

#include "tests/support/temp_folder.h"
#include "tests/ui/ui_fakes.h"
#include "ui/field_text.h"

namespace tessel::testing {
namespace {

// The byte count each medium puts into the field, in list order; "Custom" follows them.
const char* const kPresetSizes[] = {
    "1457644",   "1213952",    "2931712",    "4194304",    "104857600", "125829120", "262144000",
    "367001600", "1073741824", "2147483648", "4294967295", "737280000", "4700372992"};

using PresetsTest = MainWindowTest;

TEST_F(PresetsTest, EachMediumPutsItsSizeIntoTheDisabledFieldAndLeavesTheFocus) {
    auto* list = Find<QListWidget>("lstFormat");
    auto* field = Find<QLineEdit>("txtFileChunk");
    auto* fileName = Find<QWidget>("txtFileName");
    ASSERT_EQ(list->count(), static_cast<int>(std::size(kPresetSizes)) + 1) << "media, then Custom";
    EXPECT_TRUE(list->item(kCustomRow)->text().startsWith("Custom "));
    for (int row = 0; row < kCustomRow; ++row) {
        const QString entry = list->item(row)->text();
        EXPECT_EQ(entry.size(), entry.startsWith("SuperDisk") ? 51 : 50) << entry.toStdString();
        list->setCurrentRow(row);
        EXPECT_EQ(field->text(), kPresetSizes[row]) << entry.toStdString();
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

// Each entry's label and size stand in the help file's table of piece sizes, in list order.
TEST(PresetsHelp, TheHelpFileListsEveryPresetWithItsSize) {
    const auto bytes = ReadFile(TESSEL_HELP_SOURCE);
    const std::string help(bytes.begin(), bytes.end());
    const auto section = help.find("<a name=\"presets\">");
    ASSERT_NE(section, std::string::npos);
    const std::string table = help.substr(section, help.find("</table>", section) - section);

    std::size_t rows = 0;
    for (auto at = table.find("<tr><td>"); at != std::string::npos;
         at = table.find("<tr><td>", at + 1))
        ++rows;
    EXPECT_EQ(rows, ui::kPresetEntries.size());

    std::size_t previous = 0;
    for (const auto entry : ui::kPresetEntries) {
        const std::string label(entry.substr(0, entry.find("  ")));
        const std::string size = ui::PresetSizeText(entry);
        const std::string row =
            size == "0" ? "<tr><td>" + label + "</td>"
                        : "<tr><td>" + label + "</td><td align=\"right\">" + size + "</td></tr>";
        const auto at = table.find(row);
        EXPECT_NE(at, std::string::npos) << row;
        if (at == std::string::npos) continue;
        EXPECT_GT(at, previous) << row << " stands out of list order";
        previous = at;
    }
}

}  // namespace
}  // namespace tessel::testing
