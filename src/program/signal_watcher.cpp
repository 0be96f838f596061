#include "program/signal_watcher.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <utility>

#include "adapters/access/bounded_process.h"

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

SignalWatcher::SignalWatcher(RunLoop& loop, std::function<void()> orderlyEnd, int interruptedStatus,
                             HelperStop* helpers)
    : loop_(loop),
      orderlyEnd_(std::move(orderlyEnd)),
      interruptedStatus_(interruptedStatus),
      helpers_(helpers),
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
    if (sigwait(&signals_, &received) != 0 || received == SIGUSR2) return;
    if (helpers_ != nullptr) helpers_->stop();
    loop_.post(orderlyEnd_);

    if (sigwait(&signals_, &received) != 0 || received == SIGUSR2) return;
    // The second: a loop that is free ends by itself and the program returns the status in order. A loop
    // blocked in a handler cannot, so after a short grace the process ends from here.
    interrupted_ = true;
    if (helpers_ != nullptr) helpers_->killRunning();
    loop_.quit(interruptedStatus_);
    const timespec grace{0, kGraceMs * 1000L * 1000L};
    siginfo_t info{};
    int next = 0;
    do {
        next = sigtimedwait(&signals_, &info, &grace);
    } while (next < 0 && errno == EINTR);
    if (next == SIGUSR2) return;
    exitAtOnce();
}

void SignalWatcher::exitAtOnce() const {
    // Only what needs no lock held by the blocked thread: a stream that is in use is left as it is.
    for (std::FILE* stream : {stdout, stderr}) {
        if (ftrylockfile(stream) == 0) {
            fflush_unlocked(stream);
            funlockfile(stream);
        }
    }
    static constexpr char kSaid[] = "Orvanta: ended at once by a second signal\n";
    static_cast<void>(::write(STDERR_FILENO, kSaid, sizeof(kSaid) - 1));
    if (helpers_ != nullptr) helpers_->killRunning();
    ::_exit(interruptedStatus_);
}

}  // namespace orvanta
