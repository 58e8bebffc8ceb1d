// Runs the writing step of a split or join on a worker thread while the window's event loop
// goes on: the window keeps repainting and answering the desktop, a long copy shows its progress
// in the status line once it has run for half a second, and a cancel flag stops it between
// buffers.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "engine/progress.h"
#include "engine/split.h"

namespace tessel::ui {

class BackgroundOperation : public QObject {
    Q_OBJECT

  public:
    // The work itself, run on the worker thread with the control it must honour.
    using Work = std::function<Outcome(const OperationControl& control)>;
    // Runs on the window's thread once the work has returned.
    using Done = std::function<void(Outcome outcome)>;
    // Puts a text in the status line.
    using ShowStatus = std::function<void(const QString& text)>;

    explicit BackgroundOperation(ShowStatus showStatus);
    // A running operation is cancelled and waited for; its `done` is not called.
    ~BackgroundOperation() override;
    BackgroundOperation(const BackgroundOperation&) = delete;
    BackgroundOperation& operator=(const BackgroundOperation&) = delete;

    // Starts `work` on a worker thread; `doing` names it in the progress text ("Joining
    // pieces...") and `totalBytes` is what it copies. Only one operation runs at a time.
    void Start(const QString& doing, std::int64_t totalBytes, Work work, Done done);
    // Whether an operation has started and its `done` has not run yet.
    bool Running() const { return running_; }
    // Asks the running work to stop at its next buffer; it then cleans up and ends as cancelled.
    void Cancel();

  private:
    void ShowProgress();
    void Finish();

    ShowStatus showStatus_;
    QString doing_;
    Done done_;
    bool running_ = false;
    QElapsedTimer clock_;
    QTimer ticker_;
    QString shown_;

    // Shared with the worker thread.
    std::atomic<bool> cancel_{false};
    std::atomic<std::int64_t> copied_{0};
    std::atomic<std::int64_t> total_{0};
    Outcome outcome_ = Outcome::Failed;  // written by the worker before it hands over
    std::thread worker_;
};

}  // namespace tessel::ui
