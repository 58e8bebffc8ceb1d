// A picture or a text that works as a button: it reacts to a click, takes the focus from the
// Tab key (not from a click, so clicking it leaves the focus where it was), shows a dotted mark
// while it has the focus, and reacts to Space, Enter and Return as to a click. To assistive
// technology it is a button (or a link) that can be pressed.
#pragma once

#include <QAccessible>
#include <QLabel>

namespace tessel::ui {

class ClickableLabel : public QLabel {
    Q_OBJECT

  public:
    explicit ClickableLabel(QWidget* parent);

    // What assistive technology is told the label is: a button unless set otherwise.
    QAccessible::Role AccessibleRole() const { return accessibleRole_; }
    void SetAccessibleRole(QAccessible::Role role) { accessibleRole_ = role; }

    // Acts as a click does.
    void Click() { emit clicked(); }

  signals:
    // A left press and release, both over the picture, or a key that presses it.
    void clicked();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    bool pressed_ = false;
    QAccessible::Role accessibleRole_ = QAccessible::Button;
};

}  // namespace tessel::ui
