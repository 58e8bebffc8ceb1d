// What assistive technology is told about a widget beyond what Qt tells it of the widget's kind:
// a role of the window's own choosing (the main window a window, the strip under the status line
// a status bar, the status line a notification, the web link a link), and news to be read out.
#pragma once

#include <QAccessible>

class QWidget;

namespace tessel::ui {

// Gives `widget` the role `role` in place of the one Qt gives its kind. Its name stays its
// accessible name, else its window title (for a window) or the text it shows; a button keeps a
// Press action, offered and carried out only while the button is enabled.
void SetAccessibleRole(QWidget& widget, QAccessible::Role role);

// Tells assistive technology that `notification` (a widget given the Notification role) shows
// news: a screen reader reads its text out once, each time this is called, the same text again
// too.
void AnnounceNews(QWidget& notification);

}  // namespace tessel::ui
