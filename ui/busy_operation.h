// What the window does while the engine copies: it takes no input (a click, key, drop or close
// that arrives meanwhile is thrown away rather than acted on afterwards), and once a copy has
// run for half a second the status line shows how far it has come.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>

#include "engine/progress.h"

class QLabel;

namespace tessel::ui {

class BusyOperation : public QObject {
    Q_OBJECT

  public:
    // `doing` names the work in the status line, as in "Joining pieces...".
    BusyOperation(QLabel& status, QString doing);
    // Throws away the input that arrived during the operation, then lets input through again.
    ~BusyOperation() override;
    BusyOperation(const BusyOperation&) = delete;
    BusyOperation& operator=(const BusyOperation&) = delete;

    // Counts the half second again from now, e.g. after the user has dismissed a dialog.
    void RestartClock();
    // The engine's progress callback for this operation.
    ProgressCallback Progress();

    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Report(std::int64_t done, std::int64_t total);

    QPointer<QLabel> status_;
    QString doing_;
    QElapsedTimer clock_;
    QElapsedTimer sinceShown_;
    int shownPercent_ = -1;
};

}  // namespace tessel::ui
