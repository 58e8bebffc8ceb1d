// The information dialog: a small modal window that shows the split's summary until the user
// presses OK.
#pragma once

#include <QDialog>
#include <QLabel>
#include <string>

class QGroupBox;
class QPushButton;

namespace tessel::ui {

// How the window shows a split's summary between the check and the writing; tests answer it
// without a dialog.
class InfoDialog {
  public:
    virtual ~InfoDialog() = default;
    // Shows `infoMessage` and returns once the user has dismissed it.
    virtual void ShowModal(const std::string& infoMessage) = 0;
};

// A label that breaks its text into lines at CR LF and at word boundaries, a word too long for
// a line (a path, say) wherever it must, and cuts off whatever does not fit its height.
class MessageLabel : public QLabel {
    Q_OBJECT

  public:
    explicit MessageLabel(QWidget* parent);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

class dlgInfo : public QDialog {
    Q_OBJECT

  public:
    // Lays the dialog out, centres it on the screen and shows `infoMessage` in it.
    explicit dlgInfo(const QString& infoMessage);

  private:
    QLabel* imgTitle_;
    QGroupBox* framMessage_;
    MessageLabel* lblMessage_;
    QPushButton* OKButton_;
};

// How the split shows its summary: a fresh dlgInfo for each showing, modal, with no owner
// window, destroyed once it is closed by OK or by any other means.
class InfoDialogPresenter final : public InfoDialog {
  public:
    void ShowModal(const std::string& infoMessage) override;
};

}  // namespace tessel::ui
