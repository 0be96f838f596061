// An X server of a test's own: Xvfb on the first free display from :91 on. The server reports readiness
// through -displayfd, so a display number another server holds is never mistaken for this one's.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace orvanta::testing {

class XvfbServer {
public:
    XvfbServer() {
        const std::string xvfb = find();
        if (xvfb.empty()) return;
        for (int number = 91; number < 131 && displayName_.empty(); ++number) start(xvfb, number);
    }
    ~XvfbServer() { stop(); }
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    static bool installed() { return !find().empty(); }
    // ":N", or empty when no server came up.
    const std::string& displayName() const { return displayName_; }

    // One line from fd within the deadline; empty when the writer closed it or time ran out.
    static std::string readLine(int fd, std::chrono::steady_clock::time_point deadline) {
        std::string line;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd watched{fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&watched, 1, static_cast<int>(left.count())) <= 0) return {};
            char c = 0;
            if (read(fd, &c, 1) != 1) return {};
            if (c == '\n') return line;
            line += c;
        }
    }

private:
    using Clock = std::chrono::steady_clock;

    static std::string find() {
        for (const char* candidate : {"/usr/bin/Xvfb", "/usr/local/bin/Xvfb"}) {
            if (access(candidate, X_OK) == 0) return candidate;
        }
        return {};
    }

    void start(const std::string& xvfb, int number) {
        int ready[2];
        if (pipe2(ready, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ready[1], 3);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::string name = ":";
        name += std::to_string(number);
        std::vector<std::string> arguments{xvfb, name, "-nolisten", "tcp", "-displayfd", "3"};
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(ready[1]);
        const std::string answer = pid_ > 0 ? readLine(ready[0], Clock::now() + std::chrono::seconds(3)) : "";
        close(ready[0]);
        if (answer == std::to_string(number)) {
            displayName_ = name;
        } else {
            stop();
        }
    }

    void stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    pid_t pid_ = -1;
    std::string displayName_;
};

}  // namespace orvanta::testing
