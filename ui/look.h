// The look both Tessel windows share: white surfaces, the fonts they ask for by name, and the
// conversion of design units (twips) to pixels. The pictures, icon and cursor are in artwork.h.
#pragma once

#include <QFont>
#include <QRect>

class QWidget;

namespace tessel::ui {

// Positions and sizes are designed in twips; 15 of them make one device-independent pixel.
inline constexpr int kTwipsPerPixel = 15;

// A rectangle given in twips (left, top, width, height), in pixels.
constexpr QRect FromTwips(int left, int top, int width, int height) {
    return {left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
            height / kTwipsPerPixel};
}

// The font names the windows ask for; where they are missing, metric-compatible substitutes
// stand in for them.
inline constexpr char kSansFamily[] = "MS Sans Serif";
inline constexpr char kFixedFamily[] = "Courier New";
inline constexpr char kSansSubstitute[] = "Liberation Sans";
inline constexpr char kFixedSubstitute[] = "Liberation Mono";

// The default font of both windows, and the size of the text fields and preset list.
inline constexpr double kDefaultPoints = 8.25;
inline constexpr double kFieldPoints = 9.75;

// Settles style, fonts and icon for the whole application; call once after QApplication.
void PrepareApplication();

QFont SansFont(double points, bool bold = false, bool underline = false);

// The status line's font for `text` in a line `width` pixels wide: bold at its usual size, a
// little smaller (never below kSmallestBoldStatusPoints) for a text that would not fit otherwise,
// and for the longest texts regular, smaller still (never below kSmallestStatusPoints).
inline constexpr double kStatusPoints = 8.25;
inline constexpr double kSmallestBoldStatusPoints = 7.5;
inline constexpr double kSmallestStatusPoints = 7.0;
QFont StatusFont(const QString& text, int width);
QFont FixedFont(double points);

// Gives `widget` (and whatever inside it does not choose otherwise) a white surface.
void PaintWhite(QWidget& widget);

// Moves `window` so that its outer frame is centred on the primary screen's available area;
// its size does not change and nothing clamps the position.
void CentreOnPrimaryScreen(QWidget& window);

}  // namespace tessel::ui
