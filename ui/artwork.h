// Tessel's pictures, window icon and pointing-hand cursor. Each is an SVG file in the
// compiled-in resources, drawn here for the pixel density of the screen that shows it, so that
// it stays sharp at any display scaling while keeping its size in logical pixels.
#pragma once

#include <QCursor>
#include <QIcon>
#include <QPixmap>
#include <QString>

#include "tessel/product.h"

class QAbstractButton;
class QLabel;
class QWidget;

namespace tessel::ui {

class ImageButton;

// The sizes, in pixels, at which the window icon is drawn: those desktops ask for.
inline constexpr auto& kWindowIconSizes = product::kIconSizes;

// The picture in resource file `name` (e.g. "break.svg") at its natural size in logical pixels,
// drawn with `devicePixelRatio` device pixels to each logical pixel; a null pixmap when there is
// no such picture.
QPixmap RenderPicture(const QString& name, qreal devicePixelRatio);

// Shows picture `name` at its natural size on `label` or `image`, or as the icon of `button`,
// drawn for the screen the widget is on and drawn again whenever it moves to a screen of another
// density.
void ShowPicture(QLabel& label, const QString& name);
void ShowPicture(ImageButton& image, const QString& name);
void ShowPicture(QAbstractButton& button, const QString& name);

// Gives `widget` the pointing-hand cursor, kept sharp in the same way.
void ShowHandCursor(QWidget& widget);

// The window icon, drawn at every one of kWindowIconSizes.
QIcon WindowIcon();

// The pointing hand for a screen of `devicePixelRatio`; its hot spot is at the fingertip,
// column 12, row 1 in logical pixels.
QCursor HandCursor(qreal devicePixelRatio);

}  // namespace tessel::ui
