#include "ui/background_operation.h"

#include <QMetaObject>
#include <utility>

#include "ui/window_texts.h"

namespace tessel::ui {
namespace {

constexpr qint64 kQuietMilliseconds = 500;  // shorter operations show no progress at all
constexpr int kTickMilliseconds = 100;      // the status line is brought up to date this often

int Percent(std::int64_t done, std::int64_t total) {
    if (total <= 0 || done >= total) return 100;
    return static_cast<int>(static_cast<double>(done) / static_cast<double>(total) * 100);
}

}  // namespace

BackgroundOperation::BackgroundOperation(ShowStatus showStatus)
    : showStatus_(std::move(showStatus)) {
    ticker_.setInterval(kTickMilliseconds);
    connect(&ticker_, &QTimer::timeout, this, &BackgroundOperation::ShowProgress);
}

BackgroundOperation::~BackgroundOperation() {
    if (!worker_.joinable()) return;
    cancel_ = true;
    worker_.join();
}

void BackgroundOperation::Start(const QString& doing, std::int64_t totalBytes, Work work,
                                Done done) {
    doing_ = doing;
    done_ = std::move(done);
    running_ = true;
    cancel_ = false;
    copied_ = 0;
    total_ = totalBytes;
    shown_.clear();
    clock_.start();
    ticker_.start();
    worker_ = std::thread([this, work = std::move(work)] {
        const OperationControl control{[this](std::int64_t copied, std::int64_t total) {
                                           copied_ = copied;
                                           total_ = total;
                                       },
                                       &cancel_};
        outcome_ = work(control);
        // Queued to the window's thread; dropped unread if this object is gone by then.
        QMetaObject::invokeMethod(this, &BackgroundOperation::Finish, Qt::QueuedConnection);
    });
}

void BackgroundOperation::Cancel() {
    if (running_) cancel_ = true;
}

void BackgroundOperation::ShowProgress() {
    if (clock_.elapsed() < kQuietMilliseconds) return;
    const QString text =
        QString::fromUtf8(texts::kProgress).arg(doing_, QString::number(Percent(copied_, total_)));
    if (text == shown_) return;
    shown_ = text;
    showStatus_(text);
}

void BackgroundOperation::Finish() {
    worker_.join();  // it has handed over its outcome and is ending
    ticker_.stop();
    running_ = false;
    const Done done = std::exchange(done_, {});
    done(outcome_);
}

}  // namespace tessel::ui
