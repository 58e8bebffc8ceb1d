#include "ui/look.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QStyleFactory>
#include <QWidget>
#include <cmath>

#include "ui/artwork.h"

namespace tessel::ui {
namespace {

constexpr char kStyleName[] = "Fusion";  // the same look on every desktop

// Font substitutes must be in place before the first font is made, in the program and in tests
// alike.
void EnsureReady() {
    static const bool ready = [] {
        QFont::insertSubstitution(kSansFamily, kSansSubstitute);
        QFont::insertSubstitution(kFixedFamily, kFixedSubstitute);
        return true;
    }();
    (void)ready;
}

}  // namespace

void PrepareApplication() {
    EnsureReady();
    if (auto* style = QStyleFactory::create(kStyleName)) QApplication::setStyle(style);
    QApplication::setWindowIcon(WindowIcon());
}

QFont SansFont(double points, bool bold, bool underline) {
    EnsureReady();
    QFont font(kSansFamily);
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setUnderline(underline);
    return font;
}

QFont FixedFont(double points) {
    EnsureReady();
    QFont font(kFixedFamily);
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSizeF(points);
    return font;
}

void PaintWhite(QWidget& widget) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::Button, Qt::white);
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

void CentreOnPrimaryScreen(QWidget& window) {
    // The native window is made now so that its frame, where the platform already knows it,
    // counts in the outer size.
    (void)window.winId();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize outer = window.frameGeometry().size();
    // Halves computed in single precision, then taken down to whole pixels.
    const float left = (static_cast<float>(screen.width()) - static_cast<float>(outer.width())) / 2;
    const float top =
        (static_cast<float>(screen.height()) - static_cast<float>(outer.height())) / 2;
    window.move(screen.left() + static_cast<int>(std::floor(left)),
                screen.top() + static_cast<int>(std::floor(top)));
}

QFont StatusFont(const QString& text, int width) {
    constexpr double kStep = 0.25;
    const auto fits = [&](const QFont& font) {
        return QFontMetrics(font).horizontalAdvance(text) <= width;
    };
    // Bold, a little smaller where needed; the longest texts in regular weight, smaller still.
    QFont font = SansFont(kStatusPoints, true);
    while (!fits(font) && font.pointSizeF() - kStep >= kSmallestBoldStatusPoints)
        font.setPointSizeF(font.pointSizeF() - kStep);
    if (fits(font)) return font;
    font.setBold(false);
    while (!fits(font) && font.pointSizeF() - kStep >= kSmallestStatusPoints)
        font.setPointSizeF(font.pointSizeF() - kStep);
    return font;
}

}  // namespace tessel::ui
