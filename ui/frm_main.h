// Tessel's main window: the file, the output folder and the piece size of a split, the batch
// option, the Split, Join, Help and Exit images, the status line and the web link.
#pragma once

#include <QWidget>
#include <string>

#include "engine/shared_settings.h"
#include "engine/split.h"
#include "platform/desktop/desktop_services.h"

class QCheckBox;
class QGroupBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace tessel::ui {

class ClickableLabel;

// The status line's answer to a split size that is not a whole number of bytes.
inline constexpr char kSplitSizeRefused[] =
    "Error - The split size must be a whole number of bytes";

class frmMain : public QWidget {
    Q_OBJECT

  public:
    // `settings` are the process's shared settings; the window gives them their start-up
    // values. `summary` is how the split shows its information dialog.
    frmMain(SharedSettings& settings, desktop::DesktopServices services, InfoDialog& summary);

    // Fills the file field for the path Tessel was started with: the name a piece or checksum
    // file belongs to, ready for Join, or any other path as it is, ready for Break.
    void TakeStartPath(const std::string& path);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void BuildBanner();
    void BuildActionImages();
    void BuildChoosers();
    void BuildOutputOptions();
    void BuildHelpAndExit();
    void BuildStatusAndLink();
    void SetTabOrder();
    void ConnectReactions();
    void StartupInitialisation();

    void ChooseFile();
    void ChooseFolder();
    void TakeChosenPreset();
    void Split();
    void Join();
    void ShowHelp();

    SharedSettings& settings_;
    desktop::DesktopServices services_;
    InfoDialog& summary_;

    QLabel* Image1_ = nullptr;
    QGroupBox* frmButtons_ = nullptr;
    ClickableLabel* imgSplit_ = nullptr;
    ClickableLabel* ImgJoin_ = nullptr;
    QGroupBox* framOpen_ = nullptr;
    QLabel* lblFile_ = nullptr;
    QLineEdit* txtFileName_ = nullptr;
    QPushButton* cmdOpenFile_ = nullptr;
    QLabel* lblFolder_ = nullptr;
    QLineEdit* txtFolder_ = nullptr;
    QPushButton* cmdOpenFolder_ = nullptr;
    QGroupBox* frmOutputSize_ = nullptr;
    QLabel* lblOutPutFileSize_ = nullptr;
    QListWidget* lstFormat_ = nullptr;
    QLabel* lblFileChunk_ = nullptr;
    QLineEdit* txtFileChunk_ = nullptr;
    QCheckBox* chkBatchFile_ = nullptr;
    QGroupBox* framButon_ = nullptr;
    ClickableLabel* imgHelp_ = nullptr;
    ClickableLabel* imgExit_ = nullptr;
    QFrame* Picture1_ = nullptr;
    QLabel* lblStatus_ = nullptr;
    ClickableLabel* lblURL_ = nullptr;
};

}  // namespace tessel::ui
