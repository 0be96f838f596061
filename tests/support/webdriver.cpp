#include "support/webdriver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace orvanta::testing {
namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

// Closes the socket whatever way the exchange ends.
struct Socket {
    int fd = -1;
    ~Socket() {
        if (fd >= 0) ::close(fd);
    }
};

int millisLeft(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string dechunk(const std::string& chunked) {
    std::string body;
    std::size_t at = 0;
    for (;;) {
        const std::size_t lineEnd = chunked.find("\r\n", at);
        if (lineEnd == std::string::npos) throw std::runtime_error("HTTP: a chunk's size line is cut short");
        const std::size_t size = std::stoul(chunked.substr(at, lineEnd - at), nullptr, 16);
        if (size == 0) return body;
        if (lineEnd + 2 + size > chunked.size()) throw std::runtime_error("HTTP: a chunk is cut short");
        body.append(chunked, lineEnd + 2, size);
        at = lineEnd + 2 + size + 2;
    }
}

std::string base64Decode(const std::string& text) {
    std::array<int, 256> value{};
    value.fill(-1);
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < alphabet.size(); ++i)
        value[static_cast<unsigned char>(alphabet[i])] = static_cast<int>(i);
    std::string bytes;
    int bits = 0;
    int count = 0;
    for (const char c : text) {
        const int v = value[static_cast<unsigned char>(c)];
        if (v < 0) continue;  // padding, line breaks
        bits = (bits << 6) | v;
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return bytes;
}

}  // namespace

HttpAnswer httpRequest(std::uint16_t port, const std::string& method, const std::string& target,
                       const std::string& body, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    Socket socket{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    if (socket.fd < 0) throw std::runtime_error(std::string("HTTP: no socket: ") + std::strerror(errno));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("HTTP: cannot connect to port " + std::to_string(port) + ": " +
                                 std::strerror(errno));

    std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                          "\r\nConnection: close\r\nAccept: */*\r\n";
    if (!body.empty() || method == "POST")
        request += "Content-Type: application/json; charset=utf-8\r\nContent-Length: " +
                   std::to_string(body.size()) + "\r\n";
    request += "\r\n" + body;
    for (std::size_t sent = 0; sent < request.size();) {
        const ssize_t n = ::send(socket.fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) throw std::runtime_error(std::string("HTTP: send: ") + std::strerror(errno));
        sent += static_cast<std::size_t>(n);
    }

    std::string raw;
    char buffer[16384];
    std::size_t headerEnd = std::string::npos;
    std::size_t expected = std::string::npos;  // body bytes, when the answer says
    for (;;) {
        if (headerEnd == std::string::npos && (headerEnd = raw.find("\r\n\r\n")) != std::string::npos) {
            const std::string head = lower(raw.substr(0, headerEnd));
            if (const std::size_t at = head.find("\r\ncontent-length:"); at != std::string::npos)
                expected = std::stoul(head.substr(at + 17));
        }
        if (expected != std::string::npos && raw.size() >= headerEnd + 4 + expected) break;
        pollfd p{socket.fd, POLLIN, 0};
        if (::poll(&p, 1, millisLeft(end)) <= 0)
            throw std::runtime_error("HTTP: no answer to " + method + " " + target + " in time");
        const ssize_t n = ::recv(socket.fd, buffer, sizeof buffer, 0);
        if (n < 0) throw std::runtime_error(std::string("HTTP: recv: ") + std::strerror(errno));
        if (n == 0) break;
        raw.append(buffer, static_cast<std::size_t>(n));
    }
    if (headerEnd == std::string::npos) throw std::runtime_error("HTTP: the answer has no end of headers");

    HttpAnswer answer;
    const std::size_t statusEnd = raw.find("\r\n");
    const std::string statusLine = raw.substr(0, statusEnd);
    if (statusLine.rfind("HTTP/1.", 0) != 0 || statusLine.size() < 12)
        throw std::runtime_error("HTTP: not a status line: " + statusLine);
    answer.status = std::stoi(statusLine.substr(9, 3));
    answer.headers = statusEnd < headerEnd ? raw.substr(statusEnd + 2, headerEnd - statusEnd - 2) : "";
    answer.body = raw.substr(headerEnd + 4);
    if (expected != std::string::npos) answer.body.resize(std::min(answer.body.size(), expected));
    if (lower(answer.headers).find("transfer-encoding: chunked") != std::string::npos)
        answer.body = dechunk(answer.body);
    return answer;
}

std::uint16_t freePort() {
    Socket socket{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (socket.fd < 0 || ::bind(socket.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(socket.fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error(std::string("no free port: ") + std::strerror(errno));
    return ntohs(address.sin_port);
}

std::string WebDriver::missing() {
    for (const char* program : {kChromium, kChromedriver})
        if (::access(program, X_OK) != 0) return std::string(program) + " is not installed";
    return {};
}

WebDriver::WebDriver(int width, int height, const std::vector<std::string>& environment,
                     const std::vector<std::string>& arguments) {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvanta-browser-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error(std::string("no folder for the browser: ") + std::strerror(errno));
    folder_ = pattern;
    port_ = freePort();

    // Its output goes to a file: a pipe nobody reads would stop it once full.
    const std::string logFile = folder_ + "/chromedriver.log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    // Nothing else of the test's: a server's listening socket left open in the browser would keep its
    // port taken after the server ended.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    std::vector<std::string> driverCommand{kChromedriver, "--port=" + std::to_string(port_)};
    std::vector<char*> argv;
    for (std::string& argument : driverCommand) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables(environment);
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string own(*entry);
        const std::string name = own.substr(0, own.find('=') + 1);
        bool replaced = false;
        for (const std::string& given : environment) replaced = replaced || given.rfind(name, 0) == 0;
        if (!replaced) variables.push_back(own);
    }
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);
    const int spawned = posix_spawn(&driver_, kChromedriver, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        driver_ = -1;
        std::filesystem::remove_all(folder_);
        throw std::runtime_error(std::string("cannot start chromedriver: ") + std::strerror(spawned));
    }

    try {
        const auto end = Clock::now() + std::chrono::seconds(20);
        for (;;) {
            try {
                if (command("GET", "/status").value("ready", false)) break;
            } catch (const std::exception&) {
                // Not listening yet.
            }
            if (Clock::now() > end) throw std::runtime_error("chromedriver did not come up: " + log());
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        json browserArguments = {"--headless",
                                 "--no-sandbox",
                                 "--disable-gpu",
                                 "--disable-quic",
                                 "--no-first-run",
                                 "--disable-background-networking",
                                 "--disable-component-update",
                                 "--disable-sync",
                                 "--hide-scrollbars",
                                 "--user-data-dir=" + folder_ + "/profile",
                                 "--window-size=" + std::to_string(width) + "," + std::to_string(height)};
        for (const std::string& argument : arguments) browserArguments.push_back(argument);
        const json chromeOptions = {{"binary", kChromium}, {"args", browserArguments}};
        const json answer = command(
            "POST", "/session",
            {{"capabilities",
              {{"alwaysMatch", {{"browserName", "chrome"}, {"goog:chromeOptions", chromeOptions}}}}}});
        session_ = answer.at("sessionId").get<std::string>();
        // The window's size counts the frame a headless browser still pretends to have: the page is made
        // the size asked for.
        const std::string rect = "/session/" + session_ + "/window/rect";
        const json inner = run("return [window.innerWidth, window.innerHeight];");
        command(
            "POST", rect,
            {{"width", 2 * width - inner.at(0).get<int>()}, {"height", 2 * height - inner.at(1).get<int>()}});
    } catch (...) {
        shutDown();
        throw;
    }
}

WebDriver::~WebDriver() { shutDown(); }

void WebDriver::shutDown() {
    if (!session_.empty()) {
        try {
            command("DELETE", "/session/" + session_);
        } catch (const std::exception&) {
            // Ending chromedriver below ends its browser too.
        }
        session_.clear();
    }
    if (driver_ > 0) {
        ::kill(driver_, SIGTERM);
        int status = 0;
        const auto end = Clock::now() + std::chrono::seconds(5);
        while (::waitpid(driver_, &status, WNOHANG) == 0) {
            if (Clock::now() > end) {
                ::kill(driver_, SIGKILL);
                ::waitpid(driver_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        driver_ = -1;
    }
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        folder_.clear();
    }
}

json WebDriver::command(const std::string& method, const std::string& path, const json& body) {
    const HttpAnswer answer =
        httpRequest(port_, method, path, body.is_null() ? (method == "POST" ? "{}" : "") : body.dump());
    json parsed;
    try {
        parsed = json::parse(answer.body);
    } catch (const json::exception&) {
        throw std::runtime_error("WebDriver " + method + " " + path + ": HTTP " +
                                 std::to_string(answer.status) + ", no JSON: " + answer.body.substr(0, 300));
    }
    const json value = parsed.contains("value") ? parsed.at("value") : json();
    if (answer.status != 200) {
        std::string message = "WebDriver " + method + " " + path + ": HTTP " + std::to_string(answer.status);
        if (value.is_object())
            message +=
                ": " + value.value("error", std::string()) + ": " + value.value("message", std::string());
        throw std::runtime_error(message.substr(0, 2000));
    }
    return value;
}

void WebDriver::go(const std::string& url) {
    command("POST", "/session/" + session_ + "/url", {{"url", url}});
}

std::string WebDriver::url() { return command("GET", "/session/" + session_ + "/url").get<std::string>(); }

json WebDriver::run(const std::string& script, const json& arguments) {
    return command("POST", "/session/" + session_ + "/execute/sync",
                   {{"script", script}, {"args", arguments}});
}

bool WebDriver::waitUntil(const std::string& script, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    for (;;) {
        if (run(script) == json(true)) return true;
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::string WebDriver::screenshotPng() {
    return base64Decode(command("GET", "/session/" + session_ + "/screenshot").get<std::string>());
}

void WebDriver::click(const std::string& cssSelector) {
    const json found = command("POST", "/session/" + session_ + "/element",
                               {{"using", "css selector"}, {"value", cssSelector}});
    // The W3C name of an element reference.
    const std::string element = found.at("element-6066-11e4-a52e-4f735466cecf").get<std::string>();
    command("POST", "/session/" + session_ + "/element/" + element + "/click");
}

std::vector<std::string> WebDriver::windows() {
    return command("GET", "/session/" + session_ + "/window/handles").get<std::vector<std::string>>();
}

void WebDriver::switchToWindow(const std::string& handle) {
    command("POST", "/session/" + session_ + "/window", {{"handle", handle}});
}

std::string WebDriver::log() const {
    std::ifstream in(folder_ + "/chromedriver.log");
    std::ostringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    return all.size() > 4000 ? all.substr(all.size() - 4000) : all;
}

}  // namespace orvanta::testing
