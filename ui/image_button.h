// A picture, or for the web link a text, that works as a button. Qt's button gives the click, the
// Space key and what assistive technology sees (a push button with a Press action that a disabled
// button ignores); this draws the picture where a button draws its bevel, lets Return and Enter
// press it as Space does (none of them with Shift, Ctrl or Alt held), takes the focus from the Tab
// key only (a click leaves the focus where it was) and marks the focus with a dotted line along
// its edge.
#pragma once

#include <QAbstractButton>
#include <QPixmap>

namespace tessel::ui {

class ImageButton : public QAbstractButton {
    Q_OBJECT

  public:
    explicit ImageButton(QWidget* parent);

    // The picture drawn at the top left at its natural size, greyed while the button is
    // disabled; without one the button's text is drawn there instead.
    const QPixmap& Picture() const { return picture_; }
    void SetPicture(const QPixmap& picture);

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QPixmap picture_;
};

}  // namespace tessel::ui
