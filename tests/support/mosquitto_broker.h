// A mosquitto broker of a test's own on 127.0.0.1 and a free port, without persistence, so that retained
// values never outlive the test. stop() and start() again on the same port make a broker restart. Extra
// configuration lines apply to the listener (a password file, TLS certificates).
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace orvanta::testing {

class MosquittoBroker {
public:
    static constexpr const char* kBinary = "/usr/sbin/mosquitto";

    // A free port may be taken by another process before the broker binds it: then the broker ends at
    // once, and it is started again on another port.
    explicit MosquittoBroker(const std::string& extraConfig = {}) {
        for (int attempt = 0; attempt < 3 && !running(); ++attempt) {
            if (!folder_.empty()) {
                std::error_code ignored;
                std::filesystem::remove_all(folder_, ignored);
            }
            port_ = freePort();
            folder_ = std::filesystem::temp_directory_path() /
                      ("orvanta_mosquitto_" + std::to_string(getpid()) + "_" + std::to_string(port_));
            std::filesystem::create_directories(folder_);
            std::ofstream(folder_ / "mosquitto.conf") << "listener " << port_ << " 127.0.0.1\n"
                                                      << "allow_anonymous true\npersistence false\n"
                                                      << extraConfig;
            start();
        }
    }
    ~MosquittoBroker() {
        stop();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    static bool installed() { return access(kBinary, X_OK) == 0; }
    int port() const { return port_; }
    bool running() const { return pid_ > 0; }

    // Starts the broker; running() tells whether it accepts connections within about 3 s.
    void start() {
        if (pid_ > 0 || !installed()) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> arguments{kBinary, "-c", (folder_ / "mosquitto.conf").string()};
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (pid_ > 0 && !accepts()) {
            if (std::chrono::steady_clock::now() > deadline || exited()) {
                stop();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        // Another process that listens on the port answers too: the broker is running only if it has not
        // ended for want of the port.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (pid_ > 0 && exited()) pid_ = -1;
    }

    void stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    // A port nothing listens on right now: the kernel's choice for a socket bound to port 0.
    static int freePort() {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        int port = 0;
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        close(fd);
        return port;
    }

private:
    bool exited() const { return waitpid(pid_, nullptr, WNOHANG) == pid_; }

    bool accepts() const {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port_));
        const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        return connected;
    }

    int port_ = 0;
    pid_t pid_ = -1;
    std::filesystem::path folder_;
};

}  // namespace orvanta::testing
