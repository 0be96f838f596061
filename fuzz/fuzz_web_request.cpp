// The web server's own rules on what a request carries (web_request.h): the method and body check, the
// Host check, the token check, the route and the report's query. libmicrohttpd splits the request; its
// parts come here straight from the fuzzer: the first two bytes say which optional parts are present,
// then come the parts, separated by '\n', in RequestHead's order. Every rule is checked against a plain
// reading of what it promises: no answer without the token, no page for a foreign Host without one, only
// the named routes, and report arguments that orvanta-report takes as times or as a period's name, never
// both.
#include <arpa/inet.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "adapters/web/web_request.h"
#include "fuzz_support.h"

namespace {

using orvanta::web::RequestHead;
using orvanta::web::RequestRules;
using orvanta::web::Route;
using orvanta::web::Verdict;

[[noreturn]] void finding(const char* what) { orvanta::fuzz::finding("fuzz_web_request", what); }

constexpr std::string_view kToken = "Fuzz-token.0123456789_~";

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool digits(std::string_view text) { return text.find_first_not_of("0123456789") == std::string_view::npos; }

// A Host that may pass: localhost, an IPv4 literal in 127/8, or a bracketed IPv6 loopback literal, each
// with an optional port; read by other means than the server's.
bool ownHost(std::string_view host) {
    // inet_pton reads a C string: a NUL would end it early.
    if (host.find('\0') != std::string_view::npos) return false;
    std::string_view name = host;
    if (const std::size_t close = host.rfind(']'); host.starts_with('[') && close != std::string_view::npos) {
        name = host.substr(0, close + 1);
        const std::string_view rest = host.substr(close + 1);
        if (!rest.empty() && (rest.front() != ':' || !digits(rest.substr(1)))) return false;
        const std::string inner(name.substr(1, name.size() - 2));
        in6_addr v6{};
        if (inet_pton(AF_INET6, inner.c_str(), &v6) != 1) return false;
        return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
    }
    if (const std::size_t colon = host.rfind(':'); colon != std::string_view::npos) {
        if (!digits(host.substr(colon + 1))) return false;
        name = host.substr(0, colon);
    }
    if (sameIgnoringCase(name, "localhost")) return true;
    const std::string literal(name);
    in_addr v4{};
    return inet_pton(AF_INET, literal.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127;
}

bool carriesToken(const RequestHead& head) {
    if (head.tokenArgument == kToken || head.tokenCookie == kToken) return true;
    return head.authorization && head.authorization->size() == 7 + kToken.size() &&
           sameIgnoringCase(head.authorization->substr(0, 7), "bearer ") &&
           head.authorization->substr(7) == kToken;
}

bool timeText(std::string_view text) {
    return !text.empty() && text.size() <= 32 &&
           text.find_first_not_of("0123456789-:TZ+") == std::string_view::npos;
}

void checkReportArguments(const RequestRules& rules, const std::vector<std::string>& arguments) {
    const std::size_t n = arguments.size();
    if (n < 3 || n > 7 || n % 2 == 0) finding("report arguments of an odd count");
    if (arguments[n - 3] != "--format" || arguments[n - 2] != "html" || arguments[n - 1] != "--")
        finding("report arguments do not end with --format html --");
    bool dates = false;
    bool last = false;
    for (std::size_t i = 0; i + 3 < n; i += 2) {
        const std::string& value = arguments[i + 1];
        if (arguments[i] == "--from" || arguments[i] == "--to") {
            if (!timeText(value)) finding("a report time that is no time text");
            dates = true;
        } else if (arguments[i] == "--last") {
            if (value != "day" && value != "shift" && value != "week" && value != "month")
                finding("a period name the report does not know");
            last = true;
        } else if (arguments[i] == "--ini") {
            if (!last || value != rules.iniFile) finding("an INI other than the panel's own");
        } else {
            finding("a report option other than the period");
        }
    }
    if (dates && last) finding("a period both named and dated");
}

void checkRoute(const RequestRules& rules, const RequestHead& head) {
    const Verdict verdict = orvanta::web::route(rules, head);
    const bool tokenAsked = !rules.token.empty();
    if (verdict.route == Route::Refused) {
        if (verdict.title.empty() || verdict.message.empty()) finding("a refusal without words");
        if (verdict.status == 401 && (!tokenAsked || carriesToken(head))) finding("401 although authorised");
        if (verdict.status == 421 && (tokenAsked || !head.host || ownHost(*head.host)))
            finding("421 for a request that may be answered");
    } else {
        if (tokenAsked && !carriesToken(head)) finding("answered without the token");
        if (!tokenAsked && head.host && !ownHost(*head.host))
            finding("answered a foreign Host without a token");
    }
    switch (verdict.route) {
        case Route::Page:
            if (head.path != "/") finding("the page for another path");
            if (verdict.tokenInAddress != (tokenAsked && head.tokenArgument == kToken))
                finding("the cookie set wrongly");
            break;
        case Route::Stream:
            if (head.path != "/events") finding("the stream for another path");
            break;
        case Route::Report:
            if (head.path != "/report" || !rules.history)
                finding("a report not asked for or without history");
            checkReportArguments(rules, verdict.reportArguments);
            break;
        case Route::Asset:
            if (verdict.asset == nullptr || verdict.asset->path != head.path)
                finding("an asset for another path");
            break;
        case Route::Refused:
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const unsigned present = data[0] | (static_cast<unsigned>(data[1]) << 8);
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
    std::array<std::string_view, 12> parts{};
    std::size_t at = 0;
    for (std::string_view& part : parts) {
        if (at > bytes.size()) break;
        const std::size_t end = std::min(bytes.find('\n', at), bytes.size());
        part = bytes.substr(at, end - at);
        at = end + 1;
    }
    const auto optional = [&](std::size_t index) -> std::optional<std::string_view> {
        if ((present & (1U << index)) == 0) return std::nullopt;
        return parts[index];
    };
    const RequestHead head{.method = parts[0],
                           .path = parts[1],
                           .host = optional(2),
                           .contentLength = optional(3),
                           .transferEncoding = optional(4),
                           .tokenArgument = optional(5),
                           .tokenCookie = optional(6),
                           .authorization = optional(7),
                           .from = optional(8),
                           .to = optional(9),
                           .format = optional(10),
                           // Its presence is bit 12: bit 11 says whether there is a history.
                           .last = (present & (1U << 12)) != 0 ? std::optional(parts[11]) : std::nullopt};

    const std::optional<Verdict> refusal = orvanta::web::refusedHead(head);
    const bool plainRead = (head.method == "GET" || head.method == "HEAD") &&
                           (!head.contentLength || *head.contentLength == "0") && !head.transferEncoding;
    if (plainRead == refusal.has_value()) finding("the head check disagrees with GET or HEAD without a body");
    if (refusal && refusal->status != 405 && refusal->status != 413)
        finding("a head refused with another status");

    const bool history = (present & (1U << 11)) != 0;
    checkRoute(
        {.token = "", .cookieValue = "", .listenAddress = "127.0.0.1", .history = history, .iniFile = ""},
        head);
    checkRoute({.token = kToken,
                .cookieValue = kToken,
                .listenAddress = "::1",
                .history = history,
                .iniFile = "/srv/line1/Program/Orvanta/Orvanta.ini"},
               head);

    if (head.host && orvanta::web::hostIsOwn(*head.host, "127.0.0.1") != ownHost(*head.host))
        finding("the Host check disagrees with a plain reading");
    if (orvanta::web::sameSecret(parts[0], parts[1]) != (parts[0] == parts[1]))
        finding("sameSecret disagrees with ==");
    return 0;
}
