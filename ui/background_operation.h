// Runs one step of a split or join (its check, or its writing) on a worker thread of Qt's pool
// while the window's event loop goes on: the window keeps repainting and answering the desktop,
// a long copy shows its progress once it has run for half a second, and a cancel flag that the
// engine reads stops it between buffers. The step's results go back to the window through its
// own captures, read once Finished has been signalled on the window's thread.
#pragma once

#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>

#include "engine/progress.h"

namespace tessel::ui {

class BackgroundOperation : public QObject {
    Q_OBJECT

  public:
    // The step itself, run on a worker thread with the control it must honour.
    using Work = std::function<void(const OperationControl& control)>;

    BackgroundOperation();
    // A running step is cancelled and waited for; Finished is not signalled.
    ~BackgroundOperation() override;
    BackgroundOperation(const BackgroundOperation&) = delete;
    BackgroundOperation& operator=(const BackgroundOperation&) = delete;

    // Starts `work` on a worker thread. `doing` names it in the progress text ("Joining
    // pieces..."), or is empty for a step that shows none; `totalBytes` is what it copies.
    // Only one step runs at a time.
    void Start(const QString& doing, std::int64_t totalBytes, Work work);
    // Whether a step has started and Finished has not been signalled for it yet.
    bool Running() const { return running_; }
    // Asks the running step to stop at its next buffer, and the steps after it not to start.
    void Cancel();
    // Whether Cancel was asked since Begin: the steps of one split or join look at it between.
    bool CancelAsked() const { return cancel_; }
    // Starts an operation of one or more steps, with the cancel flag down.
    void Begin() { cancel_ = false; }

  signals:
    // A progress text for the status line, at most every tenth of a second.
    void Progress(const QString& text);
    // The step has returned; on the window's thread.
    void Finished();

  private:
    void ShowProgress();
    void StepReturned();

    QFutureWatcher<void> watcher_;
    QString doing_;
    bool running_ = false;
    QElapsedTimer clock_;
    QTimer ticker_;
    QString shown_;

    // Shared with the worker thread.
    std::atomic<bool> cancel_{false};
    std::atomic<std::int64_t> copied_{0};
    std::atomic<std::int64_t> total_{0};
};

}  // namespace tessel::ui
