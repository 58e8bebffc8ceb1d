#include "ui/dlg_info.h"

#include <QGroupBox>
#include <QPainter>
#include <QPushButton>
#include <QTextOption>

#include "ui/artwork.h"
#include "ui/frame.h"
#include "ui/look.h"
#include "ui/system_text.h"

namespace tessel::ui {
namespace {

constexpr QSize kClientSize{3390 / kTwipsPerPixel, 2325 / kTwipsPerPixel};
constexpr char kBanner[] = "message_banner.svg";
constexpr char kOkCaption[] = "OK";

}  // namespace

MessageLabel::MessageLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWordWrap(true);
}

void MessageLabel::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setClipRect(contentsRect());  // text below the bottom edge is cut off, not scrolled
    painter.setPen(palette().color(foregroundRole()));
    QTextOption option(alignment());
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    painter.drawText(QRectF(contentsRect()), text(), option);
}

dlgInfo::dlgInfo(const QString& infoMessage)
    : QDialog(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                           Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      imgTitle_(new QLabel(this)),
      framMessage_(new Frame(this)),
      lblMessage_(new MessageLabel(framMessage_)),
      OKButton_(new QPushButton(QString::fromLatin1(kOkCaption), this)) {
    setObjectName("dlgInfo");
    setWindowTitle(QString());
    setWindowIcon(WindowIcon());
    setFont(SansFont(kDefaultPoints));
    PaintWhite(*this);
    setFixedSize(kClientSize);
    setModal(true);

    imgTitle_->setObjectName("imgTitle");
    ShowPicture(*imgTitle_, QString::fromLatin1(kBanner));
    imgTitle_->setGeometry(FromTwips(-150, -30, 3570, 525));

    framMessage_->setObjectName("framMessage");
    framMessage_->setGeometry(FromTwips(120, 420, 3210, 1425));

    lblMessage_->setObjectName("lblMessage");
    lblMessage_->setGeometry(FromTwips(135, 210, 2955, 960));
    // The engine ends lines with CR LF; a label breaks lines at LF.
    lblMessage_->setText(
        QString(infoMessage).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));

    OKButton_->setObjectName("OKButton");
    OKButton_->setGeometry(FromTwips(1125, 1905, 1215, 375));
    OKButton_->setDefault(true);  // Enter presses it
    connect(OKButton_, &QPushButton::clicked, this, &QDialog::accept);
    OKButton_->setFocus();

    CentreOnPrimaryScreen(*this);
}

void InfoDialogPresenter::ShowModal(const std::string& infoMessage) {
    dlgInfo dialog(FromSystemText(infoMessage));
    dialog.exec();  // OK, Escape and the close box all end it the same way: the split goes on
}

}  // namespace tessel::ui
