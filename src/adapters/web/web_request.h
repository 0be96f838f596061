// What the server's own rules make of a request once libmicrohttpd has parsed its head: refused and how,
// or which page it asks for. Nothing here touches a socket, so every rule can be tried on any input.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "adapters/web/web_assets.h"

namespace orvanta::web {

// The parts of a request the rules read, as libmicrohttpd hands them (query values percent-decoded); a
// part the request does not carry is nullopt.
struct RequestHead {
    std::string_view method;
    std::string_view path;
    std::optional<std::string_view> host;
    std::optional<std::string_view> contentLength;
    std::optional<std::string_view> transferEncoding;
    std::optional<std::string_view> tokenArgument;  // ?token=
    std::optional<std::string_view> tokenCookie;    // the cookie kTokenCookie
    std::optional<std::string_view> authorization;
    std::optional<std::string_view> from;  // the report's period and format
    std::optional<std::string_view> to;
    std::optional<std::string_view> format;
    std::optional<std::string_view> last;  // a period by name instead of from and to; empty: none
};

constexpr std::string_view kTokenCookie = "orvanta_token";

struct RequestRules {
    std::string_view token;        // empty: none asked, and only this computer's own names are answered
    std::string_view cookieValue;  // the token as its cookie carries it
    std::string_view listenAddress;
    bool history = false;      // there is a history file to report on
    std::string_view iniFile;  // the panel's own INI, whose shifts the report takes; empty: none known
};

enum class Route { Refused, Page, Stream, Report, Asset };

struct Verdict {
    Route route = Route::Refused;
    // Refused: the answer.
    unsigned status = 0;
    std::string_view title;
    std::string_view message;
    std::vector<std::pair<std::string_view, std::string_view>> headers;
    bool tokenInAddress = false;               // Page: the answer sets the token's cookie
    const Asset* asset = nullptr;              // Asset
    std::vector<std::string> reportArguments;  // Report: orvanta-report's arguments, the file to follow
};

// The first look, at the method and the announced body: a refusal, or nothing.
std::optional<Verdict> refusedHead(const RequestHead& head);
// Host, token, path and the report's query.
Verdict route(const RequestRules& rules, const RequestHead& head);

// Whether a Host header names this computer by a name no other site can take: localhost, a 127.x.y.z or
// [::1] literal (any loopback literal), or the address the page listens on; a port may follow.
bool hostIsOwn(std::string_view host, std::string_view listenAddress);
// Compares every byte of expected whatever given holds, so that the time taken tells nothing of how much
// of a guess was right.
bool sameSecret(std::string_view given, std::string_view expected);

}  // namespace orvanta::web
