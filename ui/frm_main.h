// Tessel's main window: the file, the output folder and the piece size of a split, the batch
// option, the Split, Join, Help and Exit images, the status line and the web link.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/join.h"
#include "engine/shared_settings.h"
#include "engine/split.h"
#include "platform/desktop/desktop_services.h"
#include "platform/file_system.h"
#include "ui/background_operation.h"
#include "ui/dlg_info.h"
#include "ui/reactions.h"

class QCheckBox;
class QGroupBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;

namespace tessel::ui {

class ImageButton;

class frmMain : public QWidget {
    Q_OBJECT

  public:
    // `settings` are the process's shared settings; the window gives them their start-up
    // values. `summary` is how the split shows its information dialog; `files` is what the
    // engine reads and writes through.
    frmMain(SharedSettings& settings, desktop::DesktopServices services, InfoDialog& summary,
            platform::FileSystem& files = platform::DefaultFileSystem());

    // Fills the file field for the path Tessel was started with: the name a piece or checksum
    // file belongs to, ready for Join, or any other path as it is, ready for Break.
    void TakeStartPath(const std::string& path);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
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
    void FocusChunkField();
    void DescribeChosenSize();
    // A split or a join goes in steps, each on the worker: its check, then (once the window has
    // shown the summary or asked before replacing a file) its writing.
    void Split();
    void SplitChecked();
    void SplitWritten();
    void Join();
    void JoinChecked();
    void JoinWritten();
    bool MayReplace(const ReplaceQuestion& question);
    void ShowHelp();
    void EndProgram();

    // Shows `text` in the status line and has a screen reader read it out. Every status the
    // window shows goes through here, but for the progress of a running operation, which goes
    // through ShowProgress and is read out only now and then.
    void SetStatus(const QString& text);
    void ShowProgress(const QString& text);
    void ShowEngineStatus();

    // Runs a step on the worker (the inputs shut from the first step of an operation on); its
    // Finished goes on with `next`. `doing` names a step that shows its progress.
    enum class Step { None, CheckSplit, WriteSplit, CheckJoin, WriteJoin };
    void RunStep(Step next, const char* doing, std::int64_t totalBytes,
                 BackgroundOperation::Work work);
    void StepFinished();
    // Ends an operation: the inputs open again, and the program ends where Exit was asked.
    void EndOperation();
    void ShutInputs();
    void ReopenInputs();

    SharedSettings& settings_;
    desktop::DesktopServices services_;
    InfoDialog& summary_;
    platform::FileSystem& files_;
    BackgroundOperation work_;
    bool operating_ = false;  // from an operation's first step to its end
    Step step_ = Step::None;
    // What the steps of the running operation hand to each other; each written on the worker
    // and read on the window's thread once its step has finished.
    std::optional<SplitJob> splitJob_;
    std::optional<tessel::ui::SplitChecked> splitChecked_;
    std::optional<tessel::ui::SplitWritten> splitWritten_;
    std::optional<JoinCheck> joinCheck_;
    std::optional<JoinResult> joinResult_;
    // The inputs shut while the engine works, each with whether it was enabled before.
    std::vector<std::pair<QPointer<QWidget>, bool>> shutInputs_;
    QPointer<QWidget> focusBefore_;
    bool endWhenDone_ = false;
    // Since the progress was last read out; invalid until an operation's first progress.
    QElapsedTimer progressAnnounced_;

    QLabel* Image1_ = nullptr;
    QGroupBox* frmButtons_ = nullptr;
    ImageButton* imgSplit_ = nullptr;
    ImageButton* ImgJoin_ = nullptr;
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
    QLabel* lblRecovery_ = nullptr;
    QSpinBox* spnRecovery_ = nullptr;
    QGroupBox* framButon_ = nullptr;
    ImageButton* imgHelp_ = nullptr;
    ImageButton* imgExit_ = nullptr;
    QFrame* Picture1_ = nullptr;
    QLabel* lblStatus_ = nullptr;
    ImageButton* lblURL_ = nullptr;
};

}  // namespace tessel::ui
