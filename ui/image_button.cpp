#include "ui/image_button.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace tessel::ui {
namespace {

constexpr Qt::Alignment kPlace = Qt::AlignLeft | Qt::AlignTop;
constexpr QColor kFocusMarkColour{27, 51, 88};  // dark navy: clear on white and on the blue

bool IsPressKey(int key) {
    return key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter;
}

// Shift, Ctrl or Alt held: the keypad's own flag does not count.
bool IsModified(const QKeyEvent& event) {
    return (event.modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier;
}

}  // namespace

ImageButton::ImageButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::TabFocus);
}

void ImageButton::SetPicture(const QPixmap& picture) {
    picture_ = picture;
    updateGeometry();
    update();
}

QSize ImageButton::sizeHint() const {
    if (!picture_.isNull()) return picture_.deviceIndependentSize().toSize();
    return fontMetrics().size(Qt::TextSingleLine, text());
}

void ImageButton::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    if (picture_.isNull()) {
        style()->drawItemText(&painter, rect(), kPlace, palette(), isEnabled(), text(),
                              QPalette::WindowText);
    } else if (isEnabled()) {
        style()->drawItemPixmap(&painter, rect(), kPlace, picture_);
    } else {
        QStyleOption option;
        option.initFrom(this);
        style()->drawItemPixmap(&painter, rect(), kPlace,
                                style()->generatedIconPixmap(QIcon::Disabled, picture_, &option));
    }
    if (!hasFocus()) return;
    painter.setPen(QPen(kFocusMarkColour, 1, Qt::DotLine));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void ImageButton::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (!IsPressKey(key)) {
        QAbstractButton::keyPressEvent(event);
    } else if (IsModified(*event)) {
        event->ignore();  // not a press: the key goes on to the window
    } else if (key == Qt::Key_Space) {
        QAbstractButton::keyPressEvent(event);  // pressed now, clicked when Space comes up
    } else {
        event->accept();
        if (!event->isAutoRepeat()) click();  // holding the key down presses once
    }
}

}  // namespace tessel::ui
