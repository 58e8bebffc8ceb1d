#include "ui/frm_main.h"

#include <QAccessible>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "engine/join.h"
#include "engine/merge_batch.h"
#include "engine/messages.h"
#include "engine/piece_naming.h"
#include "tessel/product.h"
#include "ui/accessible_roles.h"
#include "ui/artwork.h"
#include "ui/field_text.h"
#include "ui/frame.h"
#include "ui/help_file.h"
#include "ui/image_button.h"
#include "ui/look.h"
#include "ui/mod_main.h"
#include "ui/start_path.h"
#include "ui/system_text.h"
#include "ui/window_texts.h"

namespace tessel::ui {
namespace {

constexpr QSize kClientSize{5745 / kTwipsPerPixel, 6540 / kTwipsPerPixel};
constexpr QColor kStatusTextColour{64, 64, 64};
constexpr QColor kStripLineColour{160, 160, 160};

constexpr const char* kCaption = product::kNameAndVersion;
constexpr char kStartStatus[] = "Please select a file to Split or Join.";

constexpr char kChooseFileTitle[] = "Add file to break or Join";
constexpr char kChooseFileFolder[] = "/";
constexpr char kChooseFileFilter[] = "All Files (*)";
constexpr char kChooseFolderTitle[] = "Select a folder";
constexpr char kChooseFolderRoot[] = "/";
// The shown link leaves out the scheme so that it fits its label.
constexpr const char* kLinkCaption = product::kWebHost;
constexpr char kFileCaption[] = "File to Split or Join";
constexpr char kFolderCaption[] = "Output Folder";
// The progress of a running operation is read out to a screen reader at most this often; the
// status line itself shows every change.
constexpr qint64 kProgressAnnouncementGapMs = 10000;

// The names assistive technology reads for the controls whose look does not name them: the
// pictures, the picture buttons and the link by what they do, the fields by their captions,
// and the strip that holds the status line.
struct AccessibleName {
    const char* control;
    const char* name;
};
constexpr AccessibleName kAccessibleNames[] = {
    {"imgSplit", "Break"},
    {"ImgJoin", "Join"},
    {"imgHelp", "Help"},
    {"imgExit", "Exit"},
    {"cmdOpenFile", "Choose the file to split or join"},
    {"cmdOpenFolder", "Choose the output folder"},
    {"lblURL", "Open the Tessel web site"},
    {"txtFileName", kFileCaption},
    {"txtFolder", kFolderCaption},
    {"txtFileChunk", "Split Size (Bytes)"},
    {"lstFormat", "File Size"},
    {"Picture1", "Status"},
};

QString Text(const char* text) {
    return QString::fromUtf8(text);
}

// Blanks (spaces only) removed from both ends.
QString TrimBlanks(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == u' ') ++first;
    while (last > first && text[last - 1] == u' ') --last;
    return text.mid(first, last - first);
}

void SetTextColour(QWidget& widget, const QColor& colour) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, colour);
    widget.setPalette(palette);
}

template <typename Control>
Control* Make(QWidget* container, const char* name, QRect geometry) {
    auto* control = new Control(container);
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(geometry);
    return control;
}

QGroupBox* MakeFrame(QWidget* container, const char* name, QRect geometry, const char* caption) {
    auto* frame = Make<Frame>(container, name, geometry);
    frame->setTitle(Text(caption));
    return frame;
}

QLabel* MakeLabel(QWidget* container, const char* name, QRect geometry, const char* caption) {
    auto* label = Make<QLabel>(container, name, geometry);
    label->setText(Text(caption));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

ImageButton* MakeImageButton(QWidget* container, const char* name, QRect geometry,
                             const char* picture, const char* tooltip) {
    auto* image = Make<ImageButton>(container, name, geometry);
    ShowPicture(*image, QString::fromLatin1(picture));
    image->setToolTip(Text(tooltip));
    ShowHandCursor(*image);
    return image;
}

QPushButton* MakePictureButton(QWidget* container, const char* name, QRect geometry,
                               const char* picture, const char* tooltip) {
    auto* button = Make<QPushButton>(container, name, geometry);
    ShowPicture(*button, QString::fromLatin1(picture));
    button->setToolTip(Text(tooltip));
    ShowHandCursor(*button);
    button->setAutoDefault(false);
    PaintWhite(*button);
    return button;
}

void ShowInStatusLine(QLabel& statusLine, const QString& text) {
    statusLine.setFont(StatusFont(text, statusLine.width()));
    statusLine.setText(text);
}

void NameForAssistiveTechnology(QWidget& window) {
    for (const auto& entry : kAccessibleNames) {
        if (auto* control = window.findChild<QWidget*>(QString::fromLatin1(entry.control)))
            control->setAccessibleName(Text(entry.name));
    }
}

QLineEdit* MakeField(QWidget* container, const char* name, QRect geometry, const QFont& font) {
    auto* field = Make<QLineEdit>(container, name, geometry);
    field->setFont(font);
    field->setAcceptDrops(false);  // a file dropped on it goes to the window's drop reaction
    return field;
}

}  // namespace

frmMain::frmMain(SharedSettings& settings, desktop::DesktopServices services, InfoDialog& summary,
                 platform::FileSystem& files)
    : settings_(settings),
      services_(services),
      summary_(summary),
      files_(files),
      work_([this](const QString& text) { ShowProgress(text); }) {
    setObjectName("frmMain");
    SetAccessibleRole(*this, QAccessible::Window);  // a plain widget would be a mere filler
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(Text(kCaption));
    setWindowIcon(WindowIcon());
    setFont(SansFont(kDefaultPoints));
    PaintWhite(*this);
    setFixedSize(kClientSize);
    setAcceptDrops(true);

    BuildBanner();
    BuildActionImages();
    BuildChoosers();
    BuildOutputOptions();
    BuildHelpAndExit();
    BuildStatusAndLink();
    NameForAssistiveTechnology(*this);
    SetTabOrder();
    ConnectReactions();

    // Load: centring first, then the start-up initialisation.
    CentreOnPrimaryScreen(*this);
    StartupInitialisation();
    txtFileName_->setFocus();
}

void frmMain::TakeStartPath(const std::string& path) {
    txtFileName_->setText(FromSystemText(FileFieldText(path, settings_.PieceExtension)));
}

void frmMain::BuildBanner() {
    // Wider than the window: both ends are cut off.
    Image1_ = Make<QLabel>(this, "Image1", FromTwips(-345, 0, 6300, 420));
    ShowPicture(*Image1_, "banner.svg");
}

void frmMain::BuildActionImages() {
    frmButtons_ = MakeFrame(this, "frmButtons", FromTwips(105, 435, 5535, 780), "");
    imgSplit_ = MakeImageButton(frmButtons_, "imgSplit", FromTwips(615, 225, 1905, 495),
                                "break.svg", "Break the file");
    ImgJoin_ = MakeImageButton(frmButtons_, "ImgJoin", FromTwips(2835, 225, 1905, 495), "join.svg",
                               "Join the file");
}

void frmMain::BuildChoosers() {
    framOpen_ = MakeFrame(this, "framOpen", FromTwips(105, 1215, 5535, 2235), "");
    const QFont captionFont = SansFont(kFieldPoints, true);
    const QFont fieldFont = SansFont(kFieldPoints);

    lblFile_ = MakeLabel(framOpen_, "lblFile", FromTwips(360, 240, 2535, 375), kFileCaption);
    lblFile_->setFont(captionFont);
    txtFileName_ = MakeField(framOpen_, "txtFileName", FromTwips(360, 600, 4095, 375), fieldFont);
    cmdOpenFile_ =
        MakePictureButton(framOpen_, "cmdOpenFile", FromTwips(4560, 600, 615, 375), "open_file.svg",
                          "Click this button to choose the file to split or join");

    lblFolder_ = MakeLabel(framOpen_, "lblFolder", FromTwips(360, 1200, 2535, 375), kFolderCaption);
    lblFolder_->setFont(captionFont);
    txtFolder_ = MakeField(framOpen_, "txtFolder", FromTwips(375, 1560, 4095, 375), fieldFont);
    cmdOpenFolder_ =
        MakePictureButton(framOpen_, "cmdOpenFolder", FromTwips(4560, 1560, 615, 375),
                          "open_folder.svg", "The folder where the split file should be saved");
}

void frmMain::BuildOutputOptions() {
    frmOutputSize_ =
        MakeFrame(this, "frmOutputSize", FromTwips(120, 3555, 5535, 1425), "Output Options");

    lblOutPutFileSize_ = MakeLabel(frmOutputSize_, "lblOutPutFileSize",
                                   FromTwips(360, 360, 1305, 270), "File Size :");
    SetTextColour(*lblOutPutFileSize_, Qt::black);

    lstFormat_ = Make<QListWidget>(frmOutputSize_, "lstFormat", FromTwips(1965, 375, 3480, 300));
    lstFormat_->setFont(FixedFont(kFieldPoints));
    lstFormat_->setSelectionMode(QAbstractItemView::SingleSelection);
    lstFormat_->setSortingEnabled(false);
    lstFormat_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lstFormat_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    lstFormat_->setTextElideMode(Qt::ElideNone);  // entries wider than the list are cut off

    lblFileChunk_ = MakeLabel(frmOutputSize_, "lblFileChunk", FromTwips(360, 720, 1830, 270),
                              "Split Size ( Bytes) : ");
    txtFileChunk_ = MakeField(frmOutputSize_, "txtFileChunk", FromTwips(1965, 705, 1335, 300),
                              FixedFont(kFieldPoints));
    txtFileChunk_->setText(QString::number(kDefaultChunkSize));
    QPalette chunkPalette = txtFileChunk_->palette();
    chunkPalette.setColor(QPalette::Disabled, QPalette::Base, Qt::white);  // only the text greys
    txtFileChunk_->setPalette(chunkPalette);
    txtFileChunk_->setToolTip(
        Text("Choose the file chunk size. Chunk size is the size of the file pieces. The input "
             "file will be broken into pieces of this size. "));

    chkBatchFile_ =
        Make<QCheckBox>(frmOutputSize_, "chkBatchFile", FromTwips(405, 1065, 4890, 285));
    chkBatchFile_->setText(Text("  Generate Batch file for merging."));
    PaintWhite(*chkBatchFile_);
}

void frmMain::BuildHelpAndExit() {
    framButon_ = MakeFrame(this, "framButon", FromTwips(120, 4965, 5535, 855), "");
    imgHelp_ =
        MakeImageButton(framButon_, "imgHelp", FromTwips(2370, 210, 1365, 585), "help.svg", "");
    imgExit_ = MakeImageButton(framButon_, "imgExit", FromTwips(3855, 210, 1365, 585), "exit.svg",
                               "Exit Tessel");
}

void frmMain::BuildStatusAndLink() {
    Picture1_ = Make<QFrame>(this, "Picture1", FromTwips(150, 5925, 5520, 255));
    Picture1_->setFrameStyle(QFrame::Box | QFrame::Plain);
    QPalette stripPalette = Picture1_->palette();
    stripPalette.setColor(QPalette::WindowText, kStripLineColour);
    Picture1_->setPalette(stripPalette);
    PaintWhite(*Picture1_);
    // A screen reader's "speak status bar" command looks for a status bar in the window.
    SetAccessibleRole(*Picture1_, QAccessible::StatusBar);

    lblStatus_ = MakeLabel(Picture1_, "lblStatus", FromTwips(165, 15, 5340, 255), kStartStatus);
    lblStatus_->setFont(SansFont(kStatusPoints, true));
    SetTextColour(*lblStatus_, kStatusTextColour);
    // What a screen reader reads out when it appears: see SetStatus.
    SetAccessibleRole(*lblStatus_, QAccessible::Notification);

    lblURL_ = Make<ImageButton>(this, "lblURL", FromTwips(4035, 6255, 1620, 255));
    lblURL_->setText(Text(kLinkCaption));
    lblURL_->setFont(SansFont(kStatusPoints, false, true));
    SetAccessibleRole(*lblURL_, QAccessible::Link);
    ShowHandCursor(*lblURL_);
}

void frmMain::SetTabOrder() {
    // The inputs in the design's order, then the images and the link, which take the focus
    // from the keyboard only; frames and plain labels never take it.
    QWidget* const order[] = {txtFileName_, cmdOpenFile_,  txtFolder_,    cmdOpenFolder_,
                              lstFormat_,   txtFileChunk_, chkBatchFile_, imgSplit_,
                              ImgJoin_,     imgHelp_,      imgExit_,      lblURL_};
    for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

void frmMain::ConnectReactions() {
    connect(cmdOpenFile_, &QPushButton::clicked, this, &frmMain::ChooseFile);
    connect(cmdOpenFolder_, &QPushButton::clicked, this, &frmMain::ChooseFolder);
    connect(lstFormat_, &QListWidget::itemSelectionChanged, this, &frmMain::TakeChosenPreset);
    connect(lstFormat_, &QListWidget::itemSelectionChanged, this, &frmMain::DescribeChosenSize);
    connect(txtFileChunk_, &QLineEdit::textChanged, this, &frmMain::DescribeChosenSize);
    connect(imgSplit_, &ImageButton::clicked, this, &frmMain::Split);
    connect(ImgJoin_, &ImageButton::clicked, this, &frmMain::Join);
    connect(imgHelp_, &ImageButton::clicked, this, &frmMain::ShowHelp);
    connect(imgExit_, &ImageButton::clicked, this, &frmMain::EndProgram);
    connect(lblURL_, &ImageButton::clicked, this,
            [this] { modMain::OpenWebSite(services_.shell); });
}

void frmMain::StartupInitialisation() {
    SetStartupDefaults(settings_);
    txtFolder_->setText(FromSystemText(settings_.OutputFolder));
    txtFileChunk_->setText(QString::number(settings_.ChunkSize));
    // Each entry is exactly as tall as the inside of the list, so one entry shows at a time.
    const int rowHeight = lstFormat_->height() - 2 * lstFormat_->frameWidth();
    for (const auto entry : kPresetEntries) {
        auto* item = new QListWidgetItem(
            QString::fromLatin1(entry.data(), static_cast<qsizetype>(entry.size())), lstFormat_);
        item->setSizeHint(QSize(0, rowHeight));
    }
    txtFileChunk_->setEnabled(false);
    DescribeChosenSize();
}

void frmMain::ChooseFile() {
    const auto chosen = services_.dialogs.ChooseFile(
        this, Text(kChooseFileTitle), Text(kChooseFileFolder), Text(kChooseFileFilter));
    if (chosen) txtFileName_->setText(TrimBlanks(*chosen));
}

void frmMain::ChooseFolder() {
    txtFolder_->setFocus();
    const auto chosen =
        services_.dialogs.ChooseFolder(this, Text(kChooseFolderTitle), Text(kChooseFolderRoot));
    if (chosen) txtFolder_->setText(*chosen);
}

void frmMain::TakeChosenPreset() {
    std::optional<std::string> chosenSize;
    for (int i = 0; i < lstFormat_->count(); ++i) {
        if (!lstFormat_->item(i)->isSelected()) continue;
        chosenSize = PresetSizeText(lstFormat_->item(i)->text().toStdString());
        txtFileChunk_->setText(QString::fromStdString(*chosenSize));
    }
    // Compared as a number; no selection counts as 0.
    const std::int64_t size = chosenSize ? ParseChunkSize(*chosenSize).value_or(0) : 0;
    if (size == 0) {
        txtFileChunk_->setEnabled(true);
        // The focus moves once the list is done with the choice: the list tells assistive
        // technology of its newly chosen entry only after this reaction, and a screen reader
        // would end on that entry and never say the field's name.
        QMetaObject::invokeMethod(this, &frmMain::FocusChunkField, Qt::QueuedConnection);
    } else {
        txtFileChunk_->setEnabled(false);
    }
}

void frmMain::FocusChunkField() {
    if (!txtFileChunk_->isEnabled()) return;  // another entry was chosen meanwhile
    txtFileChunk_->setFocus();
    // All of it is selected, so that what the user types replaces the 0, with the caret at the
    // start. Moving the caret tells a screen reader that the caret news from the new text, sent
    // while the field had no focus yet, is out of date: read late, with the field focused by
    // then, that news would make it move to the field without saying the field's name.
    txtFileChunk_->setCursorPosition(0);
    txtFileChunk_->selectAll();
}

// What a screen reader says of the list besides its name: the size a split will use, as the
// chosen entry, or, with none chosen or Custom, as the size in the field.
void frmMain::DescribeChosenSize() {
    const QList<QListWidgetItem*> chosen = lstFormat_->selectedItems();
    const QString description =
        !chosen.isEmpty() && !txtFileChunk_->isEnabled()
            ? chosen.constFirst()->text().simplified()
            : txtFileChunk_->accessibleName() + u' ' + txtFileChunk_->text();
    lstFormat_->setAccessibleDescription(description);
}

void frmMain::Split() {
    if (work_.Running()) return;  // one operation at a time
    const std::string folder = CutAtNul(ToSystemPath(txtFolder_->text()));
    if (IsBlank(folder)) {
        // The pieces would otherwise go to the root of the file system.
        SetStatus(Text(texts::kChooseOutputFolder));
        return;
    }
    settings_.OutputFolder = folder;
    const auto chunkSize = ParseChunkSize(CutAtNul(txtFileChunk_->text().toStdString()));
    if (!chunkSize) {
        // Refused before the engine runs: nothing is written, not even a batch file, which
        // would list the piece count of an earlier split.
        SetStatus(Text(kSplitSizeRefused));
        return;
    }
    settings_.ChunkSize = *chunkSize;
    const std::string fileName = ToSystemPath(txtFileName_->text());

    const SplitCheck check = CheckSplit(SplitRequestFrom(settings_, fileName), files_);
    if (check.pieceCount) settings_.PieceCount = *check.pieceCount;
    TakeReport(settings_, check.report);
    if (!check.plan) {
        ShowEngineStatus();
        if (chkBatchFile_->isChecked() && check.report.outcome != Outcome::Refused)
            WriteMergeBatch(settings_, fileName, files_);
        return;
    }
    summary_.ShowModal(settings_.InfoMessage);
    auto report = std::make_shared<Report>();
    RunInBackground(
        texts::kSplitting, check.plan->size,
        [this, plan = *check.plan, report](const OperationControl& control) {
            *report = WriteSplit(plan, control, files_).report;
            return report->outcome;
        },
        [this, fileName, report](Outcome outcome) {
            TakeReport(settings_, *report);
            SplitDone(outcome, fileName);
        });
}

void frmMain::SplitDone(Outcome outcome, const std::string& fileName) {
    ShowEngineStatus();
    // A cancelled split took its pieces back: a batch file would list pieces that are gone.
    if (outcome != Outcome::Cancelled && chkBatchFile_->isChecked())
        WriteMergeBatch(settings_, fileName, files_);
}

void frmMain::Join() {
    if (work_.Running()) return;
    const JoinCheck check =
        CheckJoin(JoinRequestFrom(settings_, ToSystemPath(txtFileName_->text())), files_);
    TakeReport(settings_, check.report);
    if (!check.plan) {
        ShowEngineStatus();
        return;
    }
    if (!MayReplace(*check.plan)) {
        SetStatus(Text(messages::kJoinCancelled));
        return;
    }
    auto report = std::make_shared<Report>();
    RunInBackground(
        texts::kJoining, check.plan->total,
        [this, plan = *check.plan, report](const OperationControl& control) {
            *report = WriteJoin(plan, control, files_).report;
            return report->outcome;
        },
        [this, report](Outcome) {
            TakeReport(settings_, *report);
            ShowEngineStatus();
        });
}

// A target that holds data is replaced only when the user says so; an empty one (the
// placeholder a split leaves) or a missing one is joined without a question.
bool frmMain::MayReplace(const JoinPlan& plan) {
    if (plan.existingLength.value_or(0) <= 0) return true;
    const QString question = Text(texts::kReplaceQuestion)
                                 .arg(FromSystemText(FileNamePart(plan.request.targetPath)),
                                      QString::number(*plan.existingLength));
    return services_.dialogs.AskToReplace(
        this, {Text(kCaption), question, Text(texts::kReplaceButton), Text(texts::kKeepButton)});
}

void frmMain::RunInBackground(const char* doing, std::int64_t totalBytes,
                              BackgroundOperation::Work work, std::function<void(Outcome)> then) {
    ShutInputs();
    work_.Start(Text(doing), totalBytes, std::move(work),
                [this, then = std::move(then)](Outcome outcome) {
                    ReopenInputs();
                    then(outcome);
                    if (std::exchange(endWhenDone_, false)) services_.program.EndProgram();
                });
}

// While the engine works the window takes no new work: the controls that start or shape one
// are disabled, so that input aimed at them is dropped at once, never acted on afterwards.
void frmMain::ShutInputs() {
    // The window itself holds the focus meanwhile, so that it does not wander to whatever
    // control comes next, and Esc reaches the window.
    focusBefore_ = focusWidget();
    setFocus();
    QWidget* const inputs[] = {imgSplit_,  ImgJoin_,   cmdOpenFile_,  cmdOpenFolder_, txtFileName_,
                               txtFolder_, lstFormat_, txtFileChunk_, chkBatchFile_};
    shutInputs_.clear();
    for (QWidget* input : inputs) {
        shutInputs_.emplace_back(input, input->isEnabled());
        input->setEnabled(false);
    }
}

void frmMain::ReopenInputs() {
    for (const auto& [input, wasEnabled] : shutInputs_)
        if (input != nullptr) input->setEnabled(wasEnabled);
    shutInputs_.clear();
    // Where the user has not moved it meanwhile, the focus goes back where it was.
    if (focusWidget() == this && focusBefore_ != nullptr && focusBefore_->isEnabled())
        focusBefore_->setFocus();
}

void frmMain::SetStatus(const QString& text) {
    ShowInStatusLine(*lblStatus_, text);
    // Every status is news, the same text shown again (the same refusal twice, say) too.
    AnnounceNews(*lblStatus_);
    progressAnnounced_.invalidate();  // the next operation's first progress is read out at once
}

void frmMain::ShowProgress(const QString& text) {
    ShowInStatusLine(*lblStatus_, text);
    if (progressAnnounced_.isValid() && !progressAnnounced_.hasExpired(kProgressAnnouncementGapMs))
        return;
    AnnounceNews(*lblStatus_);
    progressAnnounced_.start();
}

void frmMain::ShowEngineStatus() {
    SetStatus(FromSystemText(settings_.StatusMessage));
}

void frmMain::ShowHelp() {
    services_.help.ShowContents(this, FindHelpFile(HelpFolders()));
}

// Ends the program at once, or, while the engine works, once it has been cancelled, has taken
// back what it wrote and the status line says so.
void frmMain::EndProgram() {
    if (!work_.Running()) {
        services_.program.EndProgram();
        return;
    }
    endWhenDone_ = true;
    work_.Cancel();
}

// Esc anywhere in the window stops a running split or join: a key that no control takes comes
// up to the window. This holds also where the desktop has not made the window the active one.
void frmMain::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && work_.Running()) {
        work_.Cancel();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void frmMain::closeEvent(QCloseEvent* event) {
    // Closing the window by any means ends the program, like the Exit image; during an
    // operation the window stays until the clean-up is over.
    if (work_.Running())
        event->ignore();
    else
        event->accept();
    EndProgram();
}

void frmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (work_.Running()) return;  // refused: the file field is shut
    const auto* mime = event->mimeData();
    if (mime->hasUrls() && mime->urls().constFirst().isLocalFile()) event->acceptProposedAction();
}

void frmMain::dropEvent(QDropEvent* event) {
    if (work_.Running()) return;
    const auto* mime = event->mimeData();
    if (!mime->hasUrls() || !mime->urls().constFirst().isLocalFile()) return;
    txtFileName_->setText(QDir::toNativeSeparators(mime->urls().constFirst().toLocalFile()));
    event->acceptProposedAction();
}

}  // namespace tessel::ui
