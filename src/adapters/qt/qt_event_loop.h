// The program's loop when it shows windows: Qt's own event loop runs, and the panel's timers and posted
// work are dispatched from it, on the same thread as the widgets, one handler at a time. A single Qt timer
// is kept set to the next due panel timer and reset whenever a panel timer changes. A dispatch runs one
// batch of posted work and the due timers; work posted meanwhile gets a dispatch of its own, queued
// behind Qt's events, so neither a flood of posted work nor the widgets starve each other.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <atomic>

#include "core/event_loop.h"

namespace orvanta {

class QtEventLoop : public RunLoop {
public:
    // Needs the application object to exist.
    QtEventLoop();

    int run() override;
    void quit(int exitCode) override;
    std::int64_t nowMs() const override { return clock_.elapsed(); }

private:
    void wake() override;
    void timersChanged() override;
    void dispatch();
    void schedule();

    QObject context_;
    QTimer wakeUp_;
    QElapsedTimer clock_;
    bool dispatching_ = false;
    std::atomic<bool> dispatchQueued_{false};
};

}  // namespace orvanta
