#include "adapters/qt/qt_event_loop.h"

#include <QCoreApplication>
#include <algorithm>

namespace orvanta {

QtEventLoop::QtEventLoop() {
    clock_.start();
    wakeUp_.setSingleShot(true);
    QObject::connect(&wakeUp_, &QTimer::timeout, &context_, [this] { dispatch(); });
}

int QtEventLoop::run() {
    schedule();
    return QCoreApplication::exec();
}

void QtEventLoop::quit(int exitCode) {
    QMetaObject::invokeMethod(
        &context_, [exitCode] { QCoreApplication::exit(exitCode); }, Qt::QueuedConnection);
}

// Any thread: one dispatch is queued to the loop's thread, however much is posted before it runs.
void QtEventLoop::wake() {
    if (dispatchQueued_.exchange(true)) return;
    QMetaObject::invokeMethod(
        &context_, [this] { dispatch(); }, Qt::QueuedConnection);
}

void QtEventLoop::timersChanged() {
    if (!dispatching_) schedule();
}

void QtEventLoop::dispatch() {
    dispatching_ = true;
    // Cleared first: whatever is posted from now on queues the next dispatch.
    dispatchQueued_ = false;
    runPostedBatch();
    fireDueTimers();
    dispatching_ = false;
    schedule();
    // Work left for the next batch: Qt's own events (painting, input) get their turn before it.
    if (hasPosted()) wake();
}

void QtEventLoop::schedule() {
    const std::int64_t due = nextDueMs();
    if (due < 0) {
        wakeUp_.stop();
        return;
    }
    wakeUp_.start(static_cast<int>(std::clamp<std::int64_t>(due - nowMs(), 0, 1 << 30)));
}

}  // namespace orvanta
