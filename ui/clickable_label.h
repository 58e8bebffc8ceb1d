// A picture or a text that works as a button: it reacts to the mouse only and never takes the
// focus.
#pragma once

#include <QLabel>

namespace tessel::ui {

class ClickableLabel : public QLabel {
    Q_OBJECT

  public:
    explicit ClickableLabel(QWidget* parent);

  signals:
    // A left press and release, both over the picture.
    void clicked();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    bool pressed_ = false;
};

}  // namespace tessel::ui
