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
#include <QSpinBox>
#include <QUrl>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>

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

// The recovery row below the batch check box moves the frame's foot, and everything below it,
// down by its height.
constexpr int kRecoveryRowTwips = 330;
constexpr QSize kClientSize{5745 / kTwipsPerPixel, (6540 + kRecoveryRowTwips) / kTwipsPerPixel};
constexpr QColor kStatusTextColour{64, 64, 64};
constexpr QColor kStripLineColour{160, 160, 160};

constexpr const char* kCaption = product::kNameAndVersion;
constexpr char kChooseFileFolder[] = "/";
constexpr char kChooseFolderRoot[] = "/";
// The shown link leaves out the scheme so that it fits its label.
constexpr const char* kLinkCaption = product::kWebHost;
// The progress of a running operation is read out to a screen reader at most this often; the
// status line itself shows every change.
constexpr qint64 kProgressAnnouncementGapMs = 10000;

QString Text(const char* text) {
    return QString::fromUtf8(text);
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
    for (const auto& entry : texts::kAccessibleNames) {
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
    : settings_(settings), services_(services), summary_(summary), files_(files), work_() {
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
                                "break.svg", texts::kSplitTip);
    ImgJoin_ = MakeImageButton(frmButtons_, "ImgJoin", FromTwips(2835, 225, 1905, 495), "join.svg",
                               texts::kJoinTip);
}

void frmMain::BuildChoosers() {
    framOpen_ = MakeFrame(this, "framOpen", FromTwips(105, 1215, 5535, 2235), "");
    const QFont captionFont = SansFont(kFieldPoints, true);
    const QFont fieldFont = SansFont(kFieldPoints);

    lblFile_ = MakeLabel(framOpen_, "lblFile", FromTwips(360, 240, 2535, 375), texts::kFileCaption);
    lblFile_->setFont(captionFont);
    txtFileName_ = MakeField(framOpen_, "txtFileName", FromTwips(360, 600, 4095, 375), fieldFont);
    cmdOpenFile_ = MakePictureButton(framOpen_, "cmdOpenFile", FromTwips(4560, 600, 615, 375),
                                     "open_file.svg", texts::kOpenFileTip);

    lblFolder_ =
        MakeLabel(framOpen_, "lblFolder", FromTwips(360, 1200, 2535, 375), texts::kFolderCaption);
    lblFolder_->setFont(captionFont);
    txtFolder_ = MakeField(framOpen_, "txtFolder", FromTwips(375, 1560, 4095, 375), fieldFont);
    cmdOpenFolder_ = MakePictureButton(framOpen_, "cmdOpenFolder", FromTwips(4560, 1560, 615, 375),
                                       "open_folder.svg", texts::kOpenFolderTip);
}

void frmMain::BuildOutputOptions() {
    frmOutputSize_ =
        MakeFrame(this, "frmOutputSize", FromTwips(120, 3555, 5535, 1425 + kRecoveryRowTwips),
                  texts::kOutputOptionsCaption);

    lblOutPutFileSize_ = MakeLabel(frmOutputSize_, "lblOutPutFileSize",
                                   FromTwips(360, 360, 1305, 270), texts::kFileSizeCaption);
    SetTextColour(*lblOutPutFileSize_, Qt::black);

    lstFormat_ = Make<QListWidget>(frmOutputSize_, "lstFormat", FromTwips(1965, 375, 3480, 300));
    lstFormat_->setFont(FixedFont(kFieldPoints));
    lstFormat_->setSelectionMode(QAbstractItemView::SingleSelection);
    lstFormat_->setSortingEnabled(false);
    lstFormat_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lstFormat_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    lstFormat_->setTextElideMode(Qt::ElideNone);  // entries wider than the list are cut off

    lblFileChunk_ = MakeLabel(frmOutputSize_, "lblFileChunk", FromTwips(360, 720, 1830, 270),
                              texts::kChunkCaption);
    txtFileChunk_ = MakeField(frmOutputSize_, "txtFileChunk", FromTwips(1965, 705, 1335, 300),
                              FixedFont(kFieldPoints));
    txtFileChunk_->setText(QString::number(kDefaultChunkSize));
    QPalette chunkPalette = txtFileChunk_->palette();
    chunkPalette.setColor(QPalette::Disabled, QPalette::Base, Qt::white);  // only the text greys
    txtFileChunk_->setPalette(chunkPalette);
    txtFileChunk_->setToolTip(Text(texts::kChunkTip));

    chkBatchFile_ =
        Make<QCheckBox>(frmOutputSize_, "chkBatchFile", FromTwips(405, 1065, 4890, 285));
    chkBatchFile_->setText(Text(texts::kBatchCaption));
    PaintWhite(*chkBatchFile_);

    // The recovery row: its caption in the captions' column, its number in the fields' column.
    lblRecovery_ = MakeLabel(frmOutputSize_, "lblRecovery", FromTwips(360, 1410, 1830, 270),
                             texts::kRecoveryCaption);
    spnRecovery_ = Make<QSpinBox>(frmOutputSize_, "spnRecovery", FromTwips(1965, 1395, 735, 300));
    spnRecovery_->setFont(FixedFont(kFieldPoints));
    spnRecovery_->setRange(0, static_cast<int>(kMaxRecoveryPieces));
    spnRecovery_->setValue(0);
    spnRecovery_->setToolTip(Text(texts::kRecoveryTip));
    lblRecovery_->setBuddy(spnRecovery_);
}

void frmMain::BuildHelpAndExit() {
    framButon_ =
        MakeFrame(this, "framButon", FromTwips(120, 4965 + kRecoveryRowTwips, 5535, 855), "");
    imgHelp_ =
        MakeImageButton(framButon_, "imgHelp", FromTwips(2370, 210, 1365, 585), "help.svg", "");
    imgExit_ = MakeImageButton(framButon_, "imgExit", FromTwips(3855, 210, 1365, 585), "exit.svg",
                               texts::kExitTip);
}

void frmMain::BuildStatusAndLink() {
    Picture1_ = Make<QFrame>(this, "Picture1", FromTwips(150, 5925 + kRecoveryRowTwips, 5520, 255));
    Picture1_->setFrameStyle(QFrame::Box | QFrame::Plain);
    QPalette stripPalette = Picture1_->palette();
    stripPalette.setColor(QPalette::WindowText, kStripLineColour);
    Picture1_->setPalette(stripPalette);
    PaintWhite(*Picture1_);
    // A screen reader's "speak status bar" command looks for a status bar in the window.
    SetAccessibleRole(*Picture1_, QAccessible::StatusBar);

    lblStatus_ =
        MakeLabel(Picture1_, "lblStatus", FromTwips(165, 15, 5340, 255), texts::kStartStatus);
    lblStatus_->setFont(SansFont(kStatusPoints, true));
    SetTextColour(*lblStatus_, kStatusTextColour);
    // What a screen reader reads out when it appears: see SetStatus.
    SetAccessibleRole(*lblStatus_, QAccessible::Notification);

    lblURL_ =
        Make<ImageButton>(this, "lblURL", FromTwips(4035, 6255 + kRecoveryRowTwips, 1620, 255));
    lblURL_->setText(Text(kLinkCaption));
    lblURL_->setFont(SansFont(kStatusPoints, false, true));
    SetAccessibleRole(*lblURL_, QAccessible::Link);
    ShowHandCursor(*lblURL_);
}

void frmMain::SetTabOrder() {
    // The inputs in the design's order, then the images and the link, which take the focus
    // from the keyboard only; frames and plain labels never take it.
    QWidget* const order[] = {txtFileName_, cmdOpenFile_,  txtFolder_,    cmdOpenFolder_,
                              lstFormat_,   txtFileChunk_, chkBatchFile_, spnRecovery_,
                              imgSplit_,    ImgJoin_,      imgHelp_,      imgExit_,
                              lblURL_};
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
    connect(&work_, &BackgroundOperation::Progress, this, &frmMain::ShowProgress);
    connect(&work_, &BackgroundOperation::Finished, this, &frmMain::StepFinished);
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
    const auto chosen =
        services_.dialogs.ChooseFile(this, Text(texts::kChooseFileTitle), Text(kChooseFileFolder),
                                     Text(texts::kChooseFileFilter));
    if (chosen) txtFileName_->setText(FromSystemText(TrimSpaces(ToSystemPath(*chosen))));
}

void frmMain::ChooseFolder() {
    txtFolder_->setFocus();
    const auto chosen = services_.dialogs.ChooseFolder(this, Text(texts::kChooseFolderTitle),
                                                       Text(kChooseFolderRoot));
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
    if (operating_) return;  // one operation at a time
    const SplitFields fields{ToSystemPath(txtFileName_->text()), ToSystemPath(txtFolder_->text()),
                             txtFileChunk_->text().toStdString(), spnRecovery_->value(),
                             chkBatchFile_->isChecked()};
    auto started = StartSplit(settings_, fields);
    if (const auto* refusal = std::get_if<std::string>(&started)) {
        SetStatus(FromSystemText(*refusal));
        return;
    }
    splitJob_ = std::get<SplitJob>(std::move(started));
    const double pieceCount = settings_.PieceCount;
    RunStep(Step::CheckSplit, nullptr, 0, [this, pieceCount](const OperationControl&) {
        splitChecked_ = CheckSplitStep(*splitJob_, pieceCount, files_);
    });
}

void frmMain::SplitChecked() {
    const auto summary = TakeSplitChecked(settings_, *splitChecked_);
    if (!summary || work_.CancelAsked()) {
        if (summary) settings_.StatusMessage = messages::kSplitCancelled;
        ShowEngineStatus();
        return EndOperation();
    }
    summary_.ShowModal(*summary);
    const SplitPlan plan = *splitChecked_->check.plan;
    const double pieceCount = settings_.PieceCount;
    RunStep(Step::WriteSplit, texts::kSplitting, plan.size,
            [this, plan, pieceCount](const OperationControl& control) {
                splitWritten_ = WriteSplitStep(*splitJob_, plan, pieceCount, control, files_);
            });
}

void frmMain::SplitWritten() {
    TakeSplitWritten(settings_, *splitWritten_);
    ShowEngineStatus();
    EndOperation();
}

void frmMain::Join() {
    if (operating_) return;
    const JoinRequest request = JoinRequestFrom(settings_, ToSystemPath(txtFileName_->text()));
    RunStep(Step::CheckJoin, nullptr, 0,
            [this, request](const OperationControl&) { joinCheck_ = CheckJoin(request, files_); });
}

void frmMain::JoinChecked() {
    const auto question = TakeJoinChecked(settings_, *joinCheck_);
    if (!joinCheck_->plan) {
        ShowEngineStatus();
        return EndOperation();
    }
    if (work_.CancelAsked() || (question && !MayReplace(*question))) {
        SetStatus(Text(messages::kJoinCancelled));
        return EndOperation();
    }
    const JoinPlan plan = *joinCheck_->plan;
    RunStep(Step::WriteJoin, texts::kJoining, plan.total,
            [this, plan](const OperationControl& control) {
                joinResult_ = WriteJoin(plan, control, files_);
            });
}

void frmMain::JoinWritten() {
    TakeReport(settings_, joinResult_->report);
    ShowEngineStatus();
    EndOperation();
}

// A target that holds data is replaced only when the user says so.
bool frmMain::MayReplace(const ReplaceQuestion& question) {
    const QString text = Text(texts::kReplaceQuestion)
                             .arg(FromSystemText(question.name), QString::number(question.length));
    return services_.dialogs.AskToReplace(
        this, {Text(kCaption), text, Text(texts::kReplaceButton), Text(texts::kKeepButton)});
}

void frmMain::RunStep(Step next, const char* doing, std::int64_t totalBytes,
                      BackgroundOperation::Work work) {
    if (!operating_) {
        operating_ = true;
        work_.Begin();
        ShutInputs();
    }
    step_ = next;
    work_.Start(doing == nullptr ? QString() : Text(doing), totalBytes, std::move(work));
}

void frmMain::StepFinished() {
    switch (std::exchange(step_, Step::None)) {
        case Step::CheckSplit:
            return SplitChecked();
        case Step::WriteSplit:
            return SplitWritten();
        case Step::CheckJoin:
            return JoinChecked();
        case Step::WriteJoin:
            return JoinWritten();
        case Step::None:
            return;
    }
}

void frmMain::EndOperation() {
    operating_ = false;
    ReopenInputs();
    splitJob_.reset();
    splitChecked_.reset();
    splitWritten_.reset();
    joinCheck_.reset();
    joinResult_.reset();
    if (std::exchange(endWhenDone_, false)) services_.program.EndProgram();
}

// While the engine works the window takes no new work: the controls that start or shape one
// are disabled, so that input aimed at them is dropped at once, never acted on afterwards.
void frmMain::ShutInputs() {
    // The window itself holds the focus meanwhile, so that it does not wander to whatever
    // control comes next, and Esc reaches the window.
    focusBefore_ = focusWidget();
    setFocus();
    QWidget* const inputs[] = {imgSplit_,  ImgJoin_,   cmdOpenFile_,  cmdOpenFolder_, txtFileName_,
                               txtFolder_, lstFormat_, txtFileChunk_, chkBatchFile_,  spnRecovery_};
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
    if (!operating_) {
        services_.program.EndProgram();
        return;
    }
    endWhenDone_ = true;
    work_.Cancel();
}

// Esc anywhere in the window stops a running split or join: a key that no control takes comes
// up to the window. This holds also where the desktop has not made the window the active one.
void frmMain::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && operating_) {
        work_.Cancel();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void frmMain::closeEvent(QCloseEvent* event) {
    // Closing the window by any means ends the program, like the Exit image; during an
    // operation the window stays until the clean-up is over.
    if (operating_)
        event->ignore();
    else
        event->accept();
    EndProgram();
}

void frmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (operating_) return;  // refused: the file field is shut
    const auto* mime = event->mimeData();
    if (mime->hasUrls() && mime->urls().constFirst().isLocalFile()) event->acceptProposedAction();
}

void frmMain::dropEvent(QDropEvent* event) {
    if (operating_) return;
    const auto* mime = event->mimeData();
    if (!mime->hasUrls() || !mime->urls().constFirst().isLocalFile()) return;
    txtFileName_->setText(QDir::toNativeSeparators(mime->urls().constFirst().toLocalFile()));
    event->acceptProposedAction();
}

}  // namespace tessel::ui
