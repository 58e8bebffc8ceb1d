#include "ui/frame.h"

#include <QFontMetrics>
#include <QPainter>

namespace tessel::ui {
namespace {

constexpr QColor kLineColour{160, 160, 160};
constexpr int kCaptionIndent = 6;   // pixels from the frame's left edge to its caption
constexpr int kCaptionPadding = 2;  // blank pixels either side of the caption

}  // namespace

Frame::Frame(QWidget* parent) : QGroupBox(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(true);
}

void Frame::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);

    const QFontMetrics metrics(font());
    // The line runs through the middle of the caption; without a caption it is at the top.
    const int lineTop = title().isEmpty() ? 0 : metrics.height() / 2;
    painter.setPen(kLineColour);
    painter.drawRect(rect().adjusted(0, lineTop, -1, -1));
    if (title().isEmpty()) return;

    const QRect caption(kCaptionIndent, 0, metrics.horizontalAdvance(title()) + 2 * kCaptionPadding,
                        metrics.height());
    painter.fillRect(caption, Qt::white);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(caption, Qt::AlignCenter, title());
}

}  // namespace tessel::ui
