// The main window as it stands after start-up: every control's kind, place, texts, fonts and
// pictures, the colours, the cursor and the centring. The focus order is in
// keyboard_access_test.cpp.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QUrl>
#include <cmath>

#include "engine/messages.h"
#include "engine/shared_settings.h"
#include "tests/ui/ui_fakes.h"
#include "ui/image_button.h"
#include "ui/look.h"
#include "ui/window_texts.h"

namespace tessel::testing {
namespace {

// The recovery row under the batch check box, and how far it moves what lies below it.
constexpr int kRow = 330;

enum class Font { Default, Sans, SansBold, Fixed, StatusBold, Link };

// One row per control, in twips, as the window is designed.
struct Row {
    const char* name;
    const char* kind;
    const char* container;
    int left, top, width, height;
    const char* text;  // caption, title or start-up text; nullptr where there is none
    const char* tooltip;
    Font font;
};

const Row kRows[] = {
    {"Image1", "QLabel", "frmMain", -345, 0, 6300, 420, nullptr, "", Font::Default},
    {"frmButtons", "QGroupBox", "frmMain", 105, 435, 5535, 780, "", "", Font::Default},
    {"imgSplit", "QAbstractButton", "frmButtons", 615, 225, 1905, 495, nullptr, "Break the file",
     Font::Default},
    {"ImgJoin", "QAbstractButton", "frmButtons", 2835, 225, 1905, 495, nullptr, "Join the file",
     Font::Default},
    {"framOpen", "QGroupBox", "frmMain", 105, 1215, 5535, 2235, "", "", Font::Default},
    {"lblFile", "QLabel", "framOpen", 360, 240, 2535, 375, "File to Split or Join", "",
     Font::SansBold},
    {"txtFileName", "QLineEdit", "framOpen", 360, 600, 4095, 375, "", "", Font::Sans},
    {"cmdOpenFile", "QPushButton", "framOpen", 4560, 600, 615, 375, "",
     "Click this button to choose the file to split or join", Font::Default},
    {"lblFolder", "QLabel", "framOpen", 360, 1200, 2535, 375, "Output Folder", "", Font::SansBold},
    // Its start-up text, the home folder's "Tessel", is checked with the other defaults.
    {"txtFolder", "QLineEdit", "framOpen", 375, 1560, 4095, 375, nullptr, "", Font::Sans},
    {"cmdOpenFolder", "QPushButton", "framOpen", 4560, 1560, 615, 375, "",
     "The folder where the split file should be saved", Font::Default},
    {"frmOutputSize", "QGroupBox", "frmMain", 120, 3555, 5535, 1425 + kRow, "Output Options", "",
     Font::Default},
    {"lblOutPutFileSize", "QLabel", "frmOutputSize", 360, 360, 1305, 270, "File Size :", "",
     Font::Default},
    {"lstFormat", "QListWidget", "frmOutputSize", 1965, 375, 3480, 300, nullptr, "", Font::Fixed},
    {"lblFileChunk", "QLabel", "frmOutputSize", 360, 720, 1830, 270, "Split Size ( Bytes) : ", "",
     Font::Default},
    {"txtFileChunk", "QLineEdit", "frmOutputSize", 1965, 705, 1335, 300, "1457644",
     "Choose the file chunk size. Chunk size is the size of the file pieces. The input file will "
     "be broken into pieces of this size. ",
     Font::Fixed},
    {"chkBatchFile", "QCheckBox", "frmOutputSize", 405, 1065, 4890, 285,
     "  Generate Batch file for merging.", "", Font::Default},
    {"lblRecovery", "QLabel", "frmOutputSize", 360, 1410, 1830, 270, "Recovery pieces :", "",
     Font::Default},
    {"spnRecovery", "QSpinBox", "frmOutputSize", 1965, 1395, 735, 300, "0",
     "Extra pieces written after the others. A join can rebuild up to this many lost or damaged "
     "pieces from them.",
     Font::Fixed},
    {"framButon", "QGroupBox", "frmMain", 120, 4965 + kRow, 5535, 855, "", "", Font::Default},
    {"imgHelp", "QAbstractButton", "framButon", 2370, 210, 1365, 585, nullptr, "", Font::Default},
    {"imgExit", "QAbstractButton", "framButon", 3855, 210, 1365, 585, nullptr, "Exit Tessel",
     Font::Default},
    {"Picture1", "QFrame", "frmMain", 150, 5925 + kRow, 5520, 255, nullptr, "", Font::Default},
    {"lblStatus", "QLabel", "Picture1", 165, 15, 5340, 255,
     "Please select a file to Split or Join.", "", Font::StatusBold},
    {"lblURL", "QAbstractButton", "frmMain", 4035, 6255 + kRow, 1620, 255, "tessel.example.org", "",
     Font::Link},
};

// Pictures shown at their natural size, in pixels: the banner, the image buttons and the
// pictures on the push buttons.
struct PictureRow {
    const char* name;
    int width, height;
};
const PictureRow kBanner{"Image1", 420, 28};
const PictureRow kImagePictures[] = {
    {"imgSplit", 127, 33}, {"ImgJoin", 127, 33}, {"imgHelp", 91, 39}, {"imgExit", 91, 39}};
const PictureRow kButtonPictures[] = {{"cmdOpenFile", 23, 26}, {"cmdOpenFolder", 26, 30}};

const char* const kHandCursorControls[] = {"imgSplit",    "ImgJoin",       "imgHelp", "imgExit",
                                           "cmdOpenFile", "cmdOpenFolder", "lblURL"};

QString TextOf(QWidget* widget) {
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    if (auto* field = qobject_cast<QLineEdit*>(widget)) return field->text();
    if (auto* box = qobject_cast<QGroupBox*>(widget)) return box->title();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
    if (auto* spin = qobject_cast<QSpinBox*>(widget)) return spin->text();
    return {};
}

void ExpectFont(const QFont& font, Font expected, const char* name) {
    struct Want {
        const char* family;
        double points;
        bool bold, underline;
        const char* substitute;
    };
    const Want sans{"MS Sans Serif", 9.75, false, false, "Liberation Sans"};
    Want want = sans;
    switch (expected) {
        case Font::Default:
            want = {"MS Sans Serif", 8.25, false, false, "Liberation Sans"};
            break;
        case Font::Sans:
            break;
        case Font::SansBold:
            want.bold = true;
            break;
        case Font::Fixed:
            want = {"Courier New", 9.75, false, false, "Liberation Mono"};
            break;
        case Font::StatusBold:
            want = {"MS Sans Serif", 8.25, true, false, "Liberation Sans"};
            break;
        case Font::Link:
            want = {"MS Sans Serif", 8.25, false, true, "Liberation Sans"};
            break;
    }
    EXPECT_EQ(font.family(), want.family) << name;
    EXPECT_DOUBLE_EQ(font.pointSizeF(), want.points) << name;
    EXPECT_EQ(font.bold(), want.bold) << name;
    EXPECT_EQ(font.underline(), want.underline) << name;
    const QString shown = QFontInfo(font).family();
    EXPECT_TRUE(shown == want.family || shown == want.substitute)
        << name << " shows " << shown.toStdString();
}

using LayoutTest = MainWindowTest;

TEST_F(LayoutTest, EveryControlHasItsKindPlaceTextsAndFont) {
    EXPECT_EQ(window->windowTitle(), "Tessel v.1.0");
    EXPECT_EQ(window->size(), QSize(5745 / kTwips, (6540 + kRow) / kTwips));
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "the window must not be resizable";
    ExpectFont(window->font(), Font::Default, "frmMain");

    for (const Row& row : kRows) {
        auto* control = Find<QWidget>(row.name);
        if (control == nullptr) continue;
        EXPECT_TRUE(control->inherits(row.kind)) << row.name;
        EXPECT_EQ(control->parentWidget()->objectName(), row.container) << row.name;
        EXPECT_EQ(control->geometry(), Twips(row.left, row.top, row.width, row.height)) << row.name;
        if (row.text != nullptr) {
            EXPECT_EQ(TextOf(control), QString::fromUtf8(row.text)) << row.name;
        }
        EXPECT_EQ(control->toolTip(), QString::fromUtf8(row.tooltip)) << row.name;
        ExpectFont(control->font(), row.font, row.name);
    }
}

TEST_F(LayoutTest, PicturesAppearAtTheirNaturalSizeDrawnForTheScreen) {
    // Each picture keeps its size in logical pixels and has as many device pixels as the
    // window's screen gives it: twice as many each way at 200 % scaling.
    const qreal ratio = window->devicePixelRatio();
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) {
        EXPECT_DOUBLE_EQ(ratio, qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
    }
    const auto expectNatural = [ratio](const QPixmap& pixmap, const PictureRow& picture) {
        EXPECT_EQ(pixmap.deviceIndependentSize(), QSizeF(picture.width, picture.height))
            << picture.name;
        EXPECT_DOUBLE_EQ(pixmap.devicePixelRatio(), ratio) << picture.name;
        EXPECT_EQ(pixmap.size(), QSize(picture.width, picture.height) * ratio) << picture.name;
    };
    auto* banner = Find<QLabel>(kBanner.name);
    expectNatural(banner->pixmap(), kBanner);
    EXPECT_FALSE(banner->hasScaledContents());
    for (const auto& picture : kImagePictures) {
        auto* image = Find<ui::ImageButton>(picture.name);
        if (image == nullptr) continue;
        expectNatural(image->Picture(), picture);
        EXPECT_TRUE(image->text().isEmpty()) << picture.name;
    }
    for (const auto& picture : kButtonPictures) {
        auto* button = Find<QPushButton>(picture.name);
        if (button == nullptr) continue;
        EXPECT_FALSE(button->icon().isNull()) << picture.name;
        EXPECT_EQ(button->iconSize(), QSize(picture.width, picture.height)) << picture.name;
        const QPixmap shown = button->icon().pixmap(button->iconSize(), ratio);
        EXPECT_EQ(shown.size(), QSize(picture.width, picture.height) * ratio) << picture.name;
        EXPECT_TRUE(button->text().isEmpty()) << picture.name;
    }
    const QList<QSize> iconSizes = window->windowIcon().availableSizes();
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        EXPECT_TRUE(iconSizes.contains(QSize(size, size))) << "no window icon of " << size;
}

TEST_F(LayoutTest, StartsWithTheDefaultsAndTheFocusInTheFileField) {
    EXPECT_EQ(settings.OutputFolder, StartFolder().toStdString());
    EXPECT_EQ(settings.PieceExtension, ".BRK");
    EXPECT_EQ(settings.ChunkSize, 1457644);
    EXPECT_EQ(settings.InfoMessage, "");
    EXPECT_EQ(settings.StatusMessage, "");
    EXPECT_EQ(settings.PieceCount, 0.0);

    EXPECT_EQ(Find<QLineEdit>("txtFileName")->text(), "");
    EXPECT_EQ(Find<QLineEdit>("txtFolder")->text(), StartFolder());
    EXPECT_EQ(Find<QLineEdit>("txtFileChunk")->text(), "1457644");
    EXPECT_FALSE(Find<QLineEdit>("txtFileChunk")->isEnabled());
    EXPECT_TRUE(Find<QLineEdit>("txtFolder")->isEnabled());
    EXPECT_FALSE(Find<QCheckBox>("chkBatchFile")->isChecked());
    EXPECT_EQ(Find<QLabel>("lblStatus")->text(), "Please select a file to Split or Join.");
    EXPECT_EQ(QApplication::focusWidget(), Find<QWidget>("txtFileName"));

    auto* list = Find<QListWidget>("lstFormat");
    ASSERT_EQ(list->count(), 14);
    EXPECT_TRUE(list->selectedItems().isEmpty());
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_FALSE(list->isSortingEnabled());
    EXPECT_EQ(list->item(0)->text(), "Diskette 3'5 High Density (1.44 MB)        1457644");
    EXPECT_EQ(list->item(1)->text(), "Diskette 5'25 High Density (1.2 MM)        1213952");
    EXPECT_EQ(list->item(5)->text(), "SuperDisk LS-120 (120 MB)                 125829120");
    EXPECT_EQ(list->item(10)->text(), "USB stick FAT32 (4 GB)                  4294967295");
    EXPECT_EQ(list->item(13)->text(), "Custom                                           0");
}

TEST_F(LayoutTest, WhiteThroughoutWithTheStatusInDarkGreyAndAHandOverWhatCanBeClicked) {
    const QColor white(255, 255, 255);
    for (const char* name : {"frmButtons", "framOpen", "frmOutputSize", "framButon", "chkBatchFile",
                             "cmdOpenFile", "cmdOpenFolder", "Picture1"}) {
        auto* control = Find<QWidget>(name);
        EXPECT_EQ(control->palette().color(control->backgroundRole()), white) << name;
    }
    EXPECT_EQ(window->palette().color(window->backgroundRole()), white);
    EXPECT_TRUE(window->autoFillBackground());
    EXPECT_FALSE(Find<QLabel>("lblStatus")->autoFillBackground()) << "labels are transparent";
    EXPECT_EQ(Find<QLabel>("lblStatus")->palette().color(QPalette::WindowText), QColor(64, 64, 64));
    EXPECT_EQ(Find<QLabel>("lblOutPutFileSize")->palette().color(QPalette::WindowText),
              QColor(0, 0, 0));

    for (const char* name : kHandCursorControls) {
        const QCursor cursor = Find<QWidget>(name)->cursor();
        EXPECT_EQ(cursor.shape(), Qt::BitmapCursor) << name;
        EXPECT_EQ(cursor.hotSpot(), QPoint(12, 1)) << name;
        EXPECT_EQ(cursor.pixmap().deviceIndependentSize(), QSizeF(32, 32)) << name;
        EXPECT_DOUBLE_EQ(cursor.pixmap().devicePixelRatio(), window->devicePixelRatio()) << name;
    }
    for (const char* name : {"Image1", "txtFileName", "lblStatus"})
        EXPECT_NE(Find<QWidget>(name)->cursor().shape(), Qt::BitmapCursor) << name;
}

TEST_F(LayoutTest, EveryStatusTextFitsWhollyInTheStatusLine) {
    const QString progress = QString::fromUtf8(ui::texts::kProgress);
    const std::string texts[] = {
        messages::kSplitSucceeded,
        messages::kSplitFailed,
        messages::kSplitCancelled,
        messages::kSplitOfPlaceholder,
        messages::kJoinSucceeded,
        messages::kJoinVerified,
        messages::kJoinFailed,
        messages::kJoinCancelled,
        messages::kChecksumFileIncomplete,
        messages::kChecksumFileUnreadable,
        messages::kSplitOverForeignList,
        messages::kSplitNameTooLong,
        std::string(messages::kJoinVerified) + messages::kJoinRebuiltOne,
        std::string(messages::kJoinVerified) + messages::kJoinRebuiltOpen + "16" +
            messages::kJoinRebuiltClose,
        messages::TooManyLost(32767 + 16, 16),
        ui::texts::kSplitSizeRefused,
        std::string(messages::kPieceOpen) + "32767" + messages::kPieceDamagedClose,
        std::string(messages::kPieceOpen) + "32767" + messages::kPieceMissingClose,
        ui::texts::kChooseOutputFolder,
        progress.arg(ui::texts::kSplitting).arg(100).toStdString(),
        progress.arg(ui::texts::kJoining).arg(100).toStdString(),
    };
    auto* status = Find<QLabel>("lblStatus");
    for (const auto& text : texts) {
        const QString shown = QString::fromStdString(text);
        const QFont font = ui::StatusFont(shown, status->width());
        EXPECT_LE(QFontMetrics(font).horizontalAdvance(shown), status->width()) << text;
        EXPECT_GE(font.pointSizeF(), ui::kSmallestStatusPoints) << text;
        EXPECT_LE(status->geometry().right(), Find<QFrame>("Picture1")->contentsRect().right())
            << "the status line stays inside its strip";
    }
}

TEST_F(LayoutTest, OpensCentredOnThePrimaryScreen) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect frame = window->frameGeometry();
    EXPECT_LE(std::abs((frame.left() - screen.left()) - (screen.right() - frame.right())), 1);
    EXPECT_LE(std::abs((frame.top() - screen.top()) - (screen.bottom() - frame.bottom())), 1);
}

TEST_F(LayoutTest, AFileDroppedOnTheWindowLandsInTheFileField) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile("/tmp/some folder/report.doc")});
    QDragEnterEvent enter(QPoint(20, 200), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(20, 200), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    EXPECT_EQ(Find<QLineEdit>("txtFileName")->text(), "/tmp/some folder/report.doc");

    QMimeData text;
    text.setText("not a file");
    QDragEnterEvent enterText(QPoint(20, 200), Qt::CopyAction, &text, Qt::LeftButton,
                              Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enterText);
    EXPECT_FALSE(enterText.isAccepted());
    QDropEvent dropText(QPointF(20, 200), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &dropText);
    EXPECT_EQ(Find<QLineEdit>("txtFileName")->text(), "/tmp/some folder/report.doc");
}

}  // namespace
}  // namespace tessel::testing
