#include "ui/background_operation.h"

#include <QtConcurrent/QtConcurrentRun>
#include <utility>

#include "ui/window_texts.h"

namespace tessel::ui {
namespace {

constexpr qint64 kQuietMilliseconds = 500;  // shorter steps show no progress at all
constexpr int kTickMilliseconds = 100;      // the status line is brought up to date this often

int Percent(std::int64_t done, std::int64_t total) {
    if (total <= 0 || done >= total) return 100;
    return static_cast<int>(static_cast<double>(done) / static_cast<double>(total) * 100);
}

}  // namespace

BackgroundOperation::BackgroundOperation() {
    ticker_.setInterval(kTickMilliseconds);
    connect(&ticker_, &QTimer::timeout, this, &BackgroundOperation::ShowProgress);
    connect(&watcher_, &QFutureWatcher<void>::finished, this, &BackgroundOperation::StepReturned);
}

BackgroundOperation::~BackgroundOperation() {
    if (!running_) return;
    cancel_ = true;
    watcher_.disconnect(this);
    watcher_.waitForFinished();
}

void BackgroundOperation::Start(const QString& doing, std::int64_t totalBytes, Work work) {
    doing_ = doing;
    running_ = true;
    copied_ = 0;
    total_ = totalBytes;
    shown_.clear();
    clock_.start();
    if (!doing_.isEmpty()) ticker_.start();
    watcher_.setFuture(QtConcurrent::run([this, work = std::move(work)] {
        const OperationControl control{[this](std::int64_t copied, std::int64_t total) {
                                           copied_ = copied;
                                           total_ = total;
                                       },
                                       &cancel_};
        work(control);
    }));
}

void BackgroundOperation::Cancel() {
    cancel_ = true;
}

void BackgroundOperation::ShowProgress() {
    if (clock_.elapsed() < kQuietMilliseconds) return;
    const QString text =
        QString::fromUtf8(texts::kProgress).arg(doing_, QString::number(Percent(copied_, total_)));
    if (text == shown_) return;
    shown_ = text;
    emit Progress(text);
}

void BackgroundOperation::StepReturned() {
    ticker_.stop();
    running_ = false;
    emit Finished();
}

}  // namespace tessel::ui
