// A frame in the windows' look: white inside, one thin grey line around it, and its caption,
// if it has one, set into the top line. Frames only group controls; they never take the focus.
#pragma once

#include <QGroupBox>

namespace tessel::ui {

class Frame : public QGroupBox {
    Q_OBJECT

  public:
    explicit Frame(QWidget* parent);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace tessel::ui
