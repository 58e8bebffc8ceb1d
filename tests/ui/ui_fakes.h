// Fakes for what the window asks of the desktop, and a main window built on them.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRect>
#include <QString>
#include <QTest>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/shared_settings.h"
#include "platform/desktop/desktop_services.h"
#include "tests/support/temp_folder.h"
#include "tests/ui/gated_file_system.h"
#include "ui/dlg_info.h"
#include "ui/field_text.h"
#include "ui/frm_main.h"

namespace tessel::testing {

// The window is laid out in twips, as it was designed: 15 to a pixel.
inline constexpr int kTwips = 15;

inline QRect Twips(int left, int top, int width, int height) {
    return {left / kTwips, top / kTwips, width / kTwips, height / kTwips};
}

// The row of "Custom" in the preset list: the last one.
inline constexpr int kCustomRow = static_cast<int>(ui::kPresetEntries.size()) - 1;

// The output folder every start begins with: "Tessel" in the user's home folder.
inline QString StartFolder() {
    return QDir::homePath() + "/Tessel";
}

// Answers the file dialog, the folder browser and the question before a replace with set
// answers (nothing = cancelled), and records what the window handed them and which control had
// the focus meanwhile.
struct FakeDialogs final : desktop::DialogService {
    struct Request {
        QWidget* owner = nullptr;
        QString title;
        QString folder;
        QString filter;
        QWidget* focus = nullptr;
    };
    std::optional<QString> fileAnswer;
    std::optional<QString> folderAnswer;
    bool replaceAnswer = false;
    std::vector<Request> fileRequests;
    std::vector<Request> folderRequests;
    std::vector<std::pair<QWidget*, desktop::ReplaceQuestion>> replaceQuestions;

    std::optional<QString> ChooseFile(QWidget* owner, const QString& title, const QString& folder,
                                      const QString& filter) override {
        fileRequests.push_back({owner, title, folder, filter, owner->focusWidget()});
        return fileAnswer;
    }
    std::optional<QString> ChooseFolder(QWidget* owner, const QString& title,
                                        const QString& root) override {
        folderRequests.push_back({owner, title, root, {}, owner->focusWidget()});
        return folderAnswer;
    }
    bool AskToReplace(QWidget* owner, const desktop::ReplaceQuestion& question) override {
        replaceQuestions.emplace_back(owner, question);
        return replaceAnswer;
    }
};

struct FakeHelp final : desktop::HelpService {
    std::vector<std::pair<QWidget*, QString>> requests;
    void ShowContents(QWidget* owner, const QString& helpFile) override {
        requests.emplace_back(owner, helpFile);
    }
};

struct FakeShell final : desktop::ShellService {
    QStringList addresses;
    void OpenWebAddress(const QString& address) override { addresses.push_back(address); }
};

struct FakeProgram final : desktop::ProgramService {
    int endings = 0;
    void EndProgram() override { ++endings; }
};

// Records each summary the split shows; `whileShown` runs where the user would read it.
struct FakeSummary final : ui::InfoDialog {
    std::vector<std::string> shown;
    std::function<void()> whileShown;
    void ShowModal(const std::string& infoMessage) override {
        shown.push_back(infoMessage);
        if (whileShown) whileShown();
    }
};

// A main window on fresh shared settings and fakes, shown and active, whose engine works through
// a file system that the test can hold up.
class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override { Open(summary); }
    // A worker still held at the gate is let go before the window that waits for it closes.
    void TearDown() override {
        files.Open();
        window.reset();
    }

    // Builds the window anew, showing its summaries through `dialog`.
    void Open(ui::InfoDialog& dialog) {
        window.reset();
        settings = SharedSettings{};
        window = std::make_unique<ui::frmMain>(
            settings, desktop::DesktopServices{dialogs, help, shell, program}, dialog, files);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    template <typename Control>
    Control* Find(const char* name) const {
        auto* control = window->findChild<Control*>(QString::fromLatin1(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }

    void Click(const char* name) { QTest::mouseClick(Find<QWidget>(name), Qt::LeftButton); }
    void Fill(const char* name, const std::string& text) {
        Find<QLineEdit>(name)->setText(QString::fromStdString(text));
    }
    // Chooses "Custom" and types `size` over its 0, as a user would.
    void TypeSplitSize(const char* size) {
        Find<QListWidget>("lstFormat")->setCurrentRow(kCustomRow);
        auto* field = Find<QLineEdit>("txtFileChunk");
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, size);
    }
    void TickBatch(bool ticked) { Find<QCheckBox>("chkBatchFile")->setChecked(ticked); }
    QString Status() { return Find<QLabel>("lblStatus")->text(); }

    // Waits, with the event loop running, until the split or join in the background has ended
    // and the window has taken it in.
    void WaitForWork() {
        auto* split = Find<QWidget>("imgSplit");
        EXPECT_TRUE(QTest::qWaitFor([split] { return split->isEnabled(); }, 30000))
            << "the operation did not end";
    }
    // Clicks the Split or Join image and waits for the operation it starts.
    void Run(const char* name) {
        Click(name);
        WaitForWork();
    }

    SharedSettings settings;
    FakeDialogs dialogs;
    FakeHelp help;
    FakeShell shell;
    FakeProgram program;
    FakeSummary summary;
    GatedFileSystem files;
    std::unique_ptr<ui::frmMain> window;
};

}  // namespace tessel::testing
