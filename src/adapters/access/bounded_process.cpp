#include "adapters/access/bounded_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace orvanta {
namespace {

using Clock = std::chrono::steady_clock;

class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }

    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

struct Pipe {
    Descriptor read;
    Descriptor write;
    int open() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return errno;
        read.reset(ends[0]);
        write.reset(ends[1]);
        return 0;
    }
};

class SpawnSettings {
public:
    SpawnSettings() {
        ::posix_spawn_file_actions_init(&actions_);
        ::posix_spawnattr_init(&attributes_);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;
    ~SpawnSettings() {
        ::posix_spawn_file_actions_destroy(&actions_);
        ::posix_spawnattr_destroy(&attributes_);
    }

    int prepare(int output, int errors) {
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        sigdelset(&all, SIGKILL);
        sigdelset(&all, SIGSTOP);
        int failure = ::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        if (failure == 0) failure = ::posix_spawn_file_actions_adddup2(&actions_, output, STDOUT_FILENO);
        if (failure == 0) failure = ::posix_spawn_file_actions_adddup2(&actions_, errors, STDERR_FILENO);
        if (failure == 0) failure = ::posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
        if (failure == 0)
            failure = ::posix_spawnattr_setflags(
                &attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
        if (failure == 0) failure = ::posix_spawnattr_setsigmask(&attributes_, &none);
        if (failure == 0) failure = ::posix_spawnattr_setsigdefault(&attributes_, &all);
        if (failure == 0) failure = ::posix_spawnattr_setpgroup(&attributes_, 0);
        return failure;
    }

    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attributes() const { return &attributes_; }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

// The started child: killed (with its process group) and reaped when it is left unreaped; known to its
// HelperStop until it is reaped.
class Child {
public:
    Child(pid_t pid, HelperStop* stop) : pid_(pid), stop_(stop) {
        if (stop_ != nullptr) stop_->enter(pid_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (!reaped_) {
            kill();
            wait(0);
        }
    }

    void kill() const {
        ::kill(-pid_, SIGKILL);
        ::kill(pid_, SIGKILL);
    }

    // Reaps the child; with WNOHANG false while it still runs.
    bool wait(int options) {
        for (;;) {
            const pid_t done = ::waitpid(pid_, &status_, options);
            if (done == pid_) break;
            if (done == 0) return false;
            if (errno == EINTR) continue;
            lost_ = true;  // ECHILD: reaped by someone else's waitpid
            break;
        }
        reaped_ = true;
        // Pids are handed out in turn, so the one just reaped is not given again before it is forgotten.
        if (stop_ != nullptr) stop_->leave(pid_);
        return true;
    }

    int status() const { return status_; }
    bool statusLost() const { return lost_; }

private:
    pid_t pid_;
    HelperStop* stop_;
    bool reaped_ = false;
    bool lost_ = false;
    int status_ = 0;
};

int millisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60 * 60 * 1000));
}

void pauseBriefly(std::chrono::microseconds length) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(length);
    timespec pause{static_cast<time_t>(seconds.count()),
                   static_cast<long>(std::chrono::nanoseconds(length - seconds).count())};
    while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

// Appends what one read() gives; false once the pipe is closed or broken.
bool drain(int fd, std::string& into, std::size_t keep) {
    constexpr std::size_t kChunk = 1 << 16;
    char scratch[4096];
    const bool keeping = into.size() < keep;
    const std::size_t before = into.size();
    if (keeping) into.resize(before + kChunk);
    const ssize_t n =
        keeping ? ::read(fd, into.data() + before, kChunk) : ::read(fd, scratch, sizeof(scratch));
    if (keeping) into.resize(before + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    if (n > 0) return true;
    return n < 0 && (errno == EINTR || errno == EAGAIN);
}

}  // namespace

HelperStop::HelperStop() {
    // Without the pipe a stop still ends every run that starts after it, only not one that already waits.
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
}

HelperStop::~HelperStop() {
    for (const int fd : wake_)
        if (fd >= 0) ::close(fd);
}

void HelperStop::stop() {
    if (stopped_.exchange(true)) return;
    // Never read: the descriptor stays readable, so every waiting run and every later one sees it.
    if (wake_[1] >= 0) static_cast<void>(::write(wake_[1], "x", 1));
}

void HelperStop::killRunning() {
    const std::lock_guard lock(mutex_);
    // Each leads its own process group.
    for (const pid_t pid : running_) ::kill(-pid, SIGKILL);
}

void HelperStop::enter(pid_t pid) {
    const std::lock_guard lock(mutex_);
    running_.insert(pid);
}

void HelperStop::leave(pid_t pid) {
    const std::lock_guard lock(mutex_);
    running_.erase(pid);
}

BoundedRunResult runBounded(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                            const BoundedRunLimits& limits, HelperStop* stop) {
    BoundedRunResult result;
    const auto deadline = Clock::now() + limits.wallTime;
    if (argv.empty()) {
        result.spawnError = EINVAL;
        return result;
    }
    if (stop != nullptr && stop->stopped()) {
        result.end = BoundedRunResult::End::Stopped;
        return result;
    }
    Pipe output;
    Pipe errors;
    SpawnSettings settings;
    if ((result.spawnError = output.open()) != 0 || (result.spawnError = errors.open()) != 0 ||
        (result.spawnError = settings.prepare(output.write.get(), errors.write.get())) != 0)
        return result;
    // Fewer wake-ups for a large table; the default size is fine where the system refuses.
    ::fcntl(output.read.get(), F_SETPIPE_SZ, 1 << 20);

    std::vector<char*> arguments;
    for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    std::vector<char*> variables;
    for (const std::string& variable : environment) variables.push_back(const_cast<char*>(variable.c_str()));
    variables.push_back(nullptr);

    pid_t pid = 0;
    result.spawnError = ::posix_spawn(&pid, argv.front().c_str(), settings.actions(), settings.attributes(),
                                      arguments.data(), variables.data());
    if (result.spawnError != 0) return result;
    Child child(pid, stop);
    output.write.reset();
    errors.write.reset();

    result.end = BoundedRunResult::End::Exited;
    while (output.read.isOpen() || errors.read.isOpen()) {
        pollfd watched[3] = {{output.read.get(), POLLIN, 0},
                             {errors.read.get(), POLLIN, 0},
                             {stop != nullptr ? stop->wakeDescriptor() : -1, POLLIN, 0}};
        const int timeout = millisecondsUntil(deadline);
        if (timeout == 0) {
            result.end = BoundedRunResult::End::TimedOut;
            break;
        }
        const int ready = ::poll(watched, 3, timeout);
        if (ready < 0 && errno != EINTR) {
            result.end = BoundedRunResult::End::TimedOut;  // cannot wait any more: stop it like a hang
            break;
        }
        if (stop != nullptr && stop->stopped()) {
            result.end = BoundedRunResult::End::Stopped;
            break;
        }
        if (ready <= 0) continue;
        if (watched[0].revents != 0 && !drain(output.read.get(), result.output, limits.maxOutputBytes + 1))
            output.read.reset();
        if (result.output.size() > limits.maxOutputBytes) {
            result.output.resize(limits.maxOutputBytes);
            result.end = BoundedRunResult::End::OutputTooLarge;
            break;
        }
        if (watched[1].revents != 0 && !drain(errors.read.get(), result.errorText, limits.maxErrorBytes))
            errors.read.reset();
    }
    if (result.errorText.size() > limits.maxErrorBytes) result.errorText.resize(limits.maxErrorBytes);

    if (result.end == BoundedRunResult::End::Exited) {
        // Both pipes are closed, so the child is ending; give it the rest of the time to do so.
        auto pause = std::chrono::microseconds(50);
        while (!child.wait(WNOHANG)) {
            if (millisecondsUntil(deadline) == 0) {
                result.end = BoundedRunResult::End::TimedOut;
                break;
            }
            if (stop != nullptr && stop->stopped()) {
                result.end = BoundedRunResult::End::Stopped;
                break;
            }
            pauseBriefly(pause);
            pause = std::min(pause * 2, std::chrono::microseconds(10000));
        }
    }
    if (result.end != BoundedRunResult::End::Exited) {
        child.kill();
        child.wait(0);
        return result;
    }
    const int status = child.status();
    if (child.statusLost()) {
        result.end = BoundedRunResult::End::Vanished;
    } else if (WIFSIGNALED(status)) {
        result.end = BoundedRunResult::End::Signaled;
        result.signal = WTERMSIG(status);
    } else {
        result.exitCode = WEXITSTATUS(status);
    }
    return result;
}

}  // namespace orvanta
