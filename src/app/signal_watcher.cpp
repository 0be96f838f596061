#include "app/signal_watcher.h"

#include <pthread.h>

#include <utility>

namespace orvanta {

sigset_t SignalWatcher::blockSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

SignalWatcher::SignalWatcher(RunLoop& loop, std::function<void()> orderlyEnd, int interruptedStatus)
    : loop_(loop),
      orderlyEnd_(std::move(orderlyEnd)),
      interruptedStatus_(interruptedStatus),
      signals_(blockSignals()) {
    thread_ = std::thread([this] { watch(); });
}

SignalWatcher::~SignalWatcher() {
    pthread_kill(thread_.native_handle(), SIGUSR2);
    thread_.join();
    pthread_sigmask(SIG_UNBLOCK, &signals_, nullptr);
}

void SignalWatcher::watch() {
    int received = 0;
    bool endRequested = false;
    while (sigwait(&signals_, &received) == 0 && received != SIGUSR2) {
        if (endRequested) {
            loop_.quit(interruptedStatus_);
        } else {
            endRequested = true;
            loop_.post(orderlyEnd_);
        }
    }
}

}  // namespace orvanta
