// A program a test starts as a person would, with its standard output and error read as they come.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace orvanta::testing {

class RunningProgram {
public:
    using Clock = std::chrono::steady_clock;

    // environment: NAME=VALUE entries that replace or add to the test's own environment.
    RunningProgram(const std::string& binary, const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment = {}) {
        int outPipe[2];
        int errPipe[2];
        int inPipe[2];
        if (pipe(outPipe) != 0 || pipe(errPipe) != 0 || pipe2(inPipe, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        // Standard input stays open as long as this object lives, as a terminal's would.
        posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
        posix_spawn_file_actions_addclose(&actions, outPipe[0]);
        posix_spawn_file_actions_addclose(&actions, errPipe[0]);
        std::vector<std::string> all{binary};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : all) argv.push_back(argument.data());
        argv.push_back(nullptr);
        std::vector<std::string> variables(environment);
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string name = std::string(*entry).substr(0, std::string(*entry).find('='));
            bool replaced = false;
            for (const std::string& own : environment) replaced = replaced || own.rfind(name + "=", 0) == 0;
            if (!replaced) variables.push_back(*entry);
        }
        std::vector<char*> envp;
        for (std::string& variable : variables) envp.push_back(variable.data());
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
            throw std::runtime_error("spawn " + binary);
        posix_spawn_file_actions_destroy(&actions);
        close(inPipe[0]);
        in_ = inPipe[1];
        close(outPipe[1]);
        close(errPipe[1]);
        out_ = outPipe[0];
        err_ = errPipe[0];
    }
    ~RunningProgram() {
        if (pid_ > 0 && status_ < 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(in_);
        close(out_);
        close(err_);
    }

    // Reads output until standard error (or standard output) holds text or the time runs out.
    bool waitForError(const std::string& text, std::chrono::milliseconds limit) {
        return waitFor(stderrText, text, limit);
    }
    bool waitForOutput(const std::string& text, std::chrono::milliseconds limit) {
        return waitFor(stdoutText, text, limit);
    }

    // Waits for the exit; -1 when it did not come in time.
    int waitForExit(std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (readSome(end)) {
        }
        while (Clock::now() < end) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return status_;
            }
            usleep(10000);
        }
        return -1;
    }

    void signal(int number) { kill(pid_, number); }
    pid_t pid() const { return pid_; }

    std::string stdoutText;
    std::string stderrText;

private:
    bool waitFor(const std::string& stream, const std::string& text, std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (stream.find(text) == std::string::npos) {
            if (Clock::now() >= end || !readSome(end)) return stream.find(text) != std::string::npos;
        }
        return true;
    }

    // One poll round; false once both streams are closed or the time is up.
    bool readSome(Clock::time_point end) {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0 || poll(fds, 2, static_cast<int>(left)) <= 0) return false;
        bool open = false;
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0) {
                open = true;
                continue;
            }
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? stdoutText : stderrText).append(buffer, static_cast<std::size_t>(n));
                open = true;
            }
        }
        return open;
    }

    pid_t pid_ = -1;
    int status_ = -1;
    int in_ = -1;
    int out_ = -1;
    int err_ = -1;
};

}  // namespace orvanta::testing
