// A real browser for tests: headless Chromium driven through chromedriver's WebDriver protocol, and the
// small HTTP/1.1 client that speaks it (usable for any server on this machine).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace orvanta::testing {

struct HttpAnswer {
    int status = 0;
    std::string headers;  // as sent, one per line; names as the server spelled them
    std::string body;     // a chunked body comes joined
};

// One request to 127.0.0.1:port on a connection of its own ("Connection: close"). Throws
// std::runtime_error when there is no answer (refused, cut short, or none within limit).
HttpAnswer httpRequest(std::uint16_t port, const std::string& method, const std::string& target,
                       const std::string& body = {},
                       std::chrono::milliseconds limit = std::chrono::seconds(30));

// A port nobody listened on a moment ago.
std::uint16_t freePort();

class WebDriver {
public:
    static constexpr const char* kChromium = "/usr/bin/chromium";
    static constexpr const char* kChromedriver = "/usr/bin/chromedriver";

    // What keeps a browser from being started here, empty when nothing does: for GTEST_SKIP.
    static std::string missing();

    // Starts chromedriver on a free port and a browser session with a fresh profile and a window of
    // width x height. environment: NAME=VALUE for chromedriver and so for the browser (TZ); arguments: the
    // browser's own beyond those it needs here ("--lang=de-DE"). Throws std::runtime_error when either
    // does not come up.
    WebDriver(int width, int height, const std::vector<std::string>& environment = {},
              const std::vector<std::string>& arguments = {});
    ~WebDriver();  // ends the session and chromedriver, removes the profile
    WebDriver(const WebDriver&) = delete;
    WebDriver& operator=(const WebDriver&) = delete;

    // Loads url and waits for the page's load event.
    void go(const std::string& url);
    std::string url();
    // Runs script as a function body in the page ("return ..."), arguments as arguments[0..]. Throws on
    // a script error.
    nlohmann::json run(const std::string& script, const nlohmann::json& arguments = nlohmann::json::array());
    // Runs script until it returns true, or the time is up: false then.
    bool waitUntil(const std::string& script, std::chrono::milliseconds limit);
    // The window's content as PNG bytes.
    std::string screenshotPng();
    void click(const std::string& cssSelector);
    std::vector<std::string> windows();
    void switchToWindow(const std::string& handle);

    // chromedriver's own output, for a failure's message.
    std::string log() const;

private:
    void shutDown();
    nlohmann::json command(const std::string& method, const std::string& path,
                           const nlohmann::json& body = nullptr);

    std::string folder_;
    pid_t driver_ = -1;
    std::uint16_t port_ = 0;
    std::string session_;
};

}  // namespace orvanta::testing
