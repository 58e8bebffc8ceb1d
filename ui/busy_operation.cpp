#include "ui/busy_operation.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QWidget>
#include <QWindow>

namespace tessel::ui {
namespace {

constexpr qint64 kQuietMilliseconds = 500;    // shorter operations show no progress at all
constexpr qint64 kRepaintMilliseconds = 100;  // the status line is redrawn at most this often

bool IsInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::Close:
            return true;
        default:
            return false;
    }
}

// The modal dialog that the operation itself opened (the split's summary) must still be
// answered, so input for it passes.
bool BelongsToModalDialog(QObject* watched) {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return false;
    if (auto* widget = qobject_cast<QWidget*>(watched)) return widget->window() == modal;
    if (auto* window = qobject_cast<QWindow*>(watched)) return window == modal->windowHandle();
    return false;
}

}  // namespace

BusyOperation::BusyOperation(QLabel& status, QString doing)
    : status_(&status), doing_(std::move(doing)) {
    clock_.start();
    QCoreApplication::instance()->installEventFilter(this);
}

BusyOperation::~BusyOperation() {
    // Input queued while the engine held the thread reaches the filter here and goes no further.
    QCoreApplication::processEvents();
    QCoreApplication::instance()->removeEventFilter(this);
}

void BusyOperation::RestartClock() {
    clock_.restart();
}

ProgressCallback BusyOperation::Progress() {
    return [this](std::int64_t done, std::int64_t total) { Report(done, total); };
}

bool BusyOperation::eventFilter(QObject* watched, QEvent* event) {
    if (IsInput(event->type()) && !BelongsToModalDialog(watched)) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void BusyOperation::Report(std::int64_t done, std::int64_t total) {
    if (status_ == nullptr || clock_.elapsed() < kQuietMilliseconds) return;
    const double fraction = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1;
    const int percent = static_cast<int>(fraction * 100);
    if (percent == shownPercent_) return;
    if (sinceShown_.isValid() && sinceShown_.elapsed() < kRepaintMilliseconds) return;
    shownPercent_ = percent;
    sinceShown_.start();
    status_->setText(QStringLiteral("%1 %2%").arg(doing_).arg(percent));
    status_->repaint();  // the event loop does not run until the engine returns
}

}  // namespace tessel::ui
