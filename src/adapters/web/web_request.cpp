#include "adapters/web/web_request.h"

#include <microhttpd.h>

#include "adapters/web/loopback.h"
#include "core/text.h"

namespace orvanta::web {
namespace {

// A period parameter of the report page is a date and time as orvanta-report takes it; nothing longer.
constexpr std::size_t kMaxPeriodText = 32;

Verdict refused(unsigned status, std::string_view title, std::string_view message) {
    Verdict verdict;
    verdict.status = status;
    verdict.title = title;
    verdict.message = message;
    return verdict;
}

// Only what orvanta-report's times are written with: "2026-12-07T14:00:30+01:00", "...Z". A '+' may
// arrive as a space when the browser encoded the form.
std::optional<std::string> periodText(std::string_view value) {
    if (value.empty() || value.size() > kMaxPeriodText) return std::nullopt;
    std::string text(value);
    for (char& c : text) {
        if (c == ' ') c = '+';
        const bool allowed =
            (c >= '0' && c <= '9') || c == '-' || c == ':' || c == 'T' || c == 'Z' || c == '+';
        if (!allowed) return std::nullopt;
    }
    return text;
}

bool authorised(const RequestRules& rules, const RequestHead& head, bool& viaQuery) {
    viaQuery = false;
    if (rules.token.empty()) return true;
    if (head.tokenArgument && sameSecret(*head.tokenArgument, rules.token)) {
        viaQuery = true;
        return true;
    }
    if (head.tokenCookie && sameSecret(*head.tokenCookie, rules.cookieValue)) return true;
    if (head.authorization) {
        constexpr std::string_view kBearer = "Bearer ";
        const std::string_view value = *head.authorization;
        if (value.size() > kBearer.size() &&
            equalsIgnoringAsciiCase(value.substr(0, kBearer.size()), kBearer) &&
            sameSecret(value.substr(kBearer.size()), rules.token))
            return true;
    }
    return false;
}

// The periods orvanta-report's --last names.
bool periodName(std::string_view value) {
    return value == "day" || value == "shift" || value == "week" || value == "month";
}

Verdict report(const RequestRules& rules, const RequestHead& head) {
    if (!rules.history)
        return refused(MHD_HTTP_NOT_FOUND, "No history",
                       "This panel keeps no history, so there is no report.");
    // The form sends an empty one when the dates are chosen.
    const bool last = head.last && !head.last->empty();
    if (last && !periodName(*head.last))
        return refused(MHD_HTTP_BAD_REQUEST, "Report not made", "last is day, shift, week or month.");
    if (last && (head.from || head.to))
        return refused(MHD_HTTP_BAD_REQUEST, "Report not made",
                       "The period is either last or from and to, not both.");
    const std::optional<std::string> from = head.from ? periodText(*head.from) : std::nullopt;
    const std::optional<std::string> to = head.to ? periodText(*head.to) : std::nullopt;
    if ((head.from && !from) || (head.to && !to))
        return refused(MHD_HTTP_BAD_REQUEST, "Report not made",
                       "from and to are times such as 2026-12-07 or 2026-12-07T14:00.");
    if (head.format && *head.format != "html")
        return refused(MHD_HTTP_BAD_REQUEST, "Report not made", "The report page is made as html only.");
    Verdict verdict;
    verdict.route = Route::Report;
    if (from) verdict.reportArguments.insert(verdict.reportArguments.end(), {"--from", *from});
    if (to) verdict.reportArguments.insert(verdict.reportArguments.end(), {"--to", *to});
    if (last) {
        verdict.reportArguments.insert(verdict.reportArguments.end(), {"--last", std::string(*head.last)});
        if (!rules.iniFile.empty())
            verdict.reportArguments.insert(verdict.reportArguments.end(),
                                           {"--ini", std::string(rules.iniFile)});
    }
    verdict.reportArguments.insert(verdict.reportArguments.end(), {"--format", "html", "--"});
    return verdict;
}

}  // namespace

bool sameSecret(std::string_view given, std::string_view expected) {
    unsigned difference = given.size() == expected.size() ? 0U : 1U;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const char g = given.empty() ? '\0' : given[i % given.size()];
        difference |= static_cast<unsigned char>(g ^ expected[i]);
    }
    return difference == 0;
}

bool hostIsOwn(std::string_view host, std::string_view listenAddress) {
    std::string_view name = host;
    std::string_view port;
    if (host.starts_with('[')) {
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos) return false;
        name = host.substr(0, close + 1);
        const std::string_view rest = host.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') return false;
        port = rest.empty() ? rest : rest.substr(1);
        // Only an IPv6 literal stands in brackets.
        if (name.find(':') == std::string_view::npos) return false;
    } else if (const std::size_t colon = host.find(':'); colon != std::string_view::npos) {
        name = host.substr(0, colon);
        port = host.substr(colon + 1);
    }
    if (port.find_first_not_of("0123456789") != std::string_view::npos || name.empty()) return false;
    if (equalsIgnoringAsciiCase(name, "localhost") || isLoopback(name)) return true;
    // The configured address as a browser writes it: an IPv6 one in brackets.
    const bool v6 = listenAddress.find(':') != std::string_view::npos && !listenAddress.starts_with('[');
    const std::string own = v6 ? "[" + std::string(listenAddress) + "]" : std::string(listenAddress);
    return !own.empty() && equalsIgnoringAsciiCase(name, own);
}

std::optional<Verdict> refusedHead(const RequestHead& head) {
    if (head.method != MHD_HTTP_METHOD_GET && head.method != MHD_HTTP_METHOD_HEAD) {
        Verdict verdict = refused(MHD_HTTP_METHOD_NOT_ALLOWED, "Method not allowed",
                                  "This page only answers GET and HEAD.");
        verdict.headers.emplace_back("Allow", "GET, HEAD");
        return verdict;
    }
    if ((head.contentLength && *head.contentLength != "0") || head.transferEncoding)
        return refused(MHD_HTTP_CONTENT_TOO_LARGE, "Request refused",
                       "A request to this page carries no body.");
    return std::nullopt;
}

Verdict route(const RequestRules& rules, const RequestHead& head) {
    bool viaQuery = false;
    if (!authorised(rules, head, viaQuery)) {
        Verdict verdict =
            refused(MHD_HTTP_UNAUTHORIZED, "Not authorised",
                    "This page needs its access token: open it with the address you were given.");
        verdict.headers.emplace_back("WWW-Authenticate", "Bearer");
        return verdict;
    }
    // Without a token the page answers only to this computer's own names: a site that has its own name
    // resolve to this computer (DNS rebinding) is not one of them. Without a Host at all (HTTP/1.0) no
    // browser asked.
    if (rules.token.empty() && head.host && !hostIsOwn(*head.host, rules.listenAddress))
        return refused(MHD_HTTP_MISDIRECTED_REQUEST, "Misdirected request",
                       "This page answers only to this computer's own name: open it as localhost or "
                       "127.0.0.1.");
    Verdict verdict;
    if (head.path == "/") {
        verdict.route = Route::Page;
        verdict.tokenInAddress = viaQuery;
    } else if (head.path == "/events") {
        verdict.route = Route::Stream;
    } else if (head.path == "/report") {
        verdict = report(rules, head);
    } else if ((verdict.asset = findAsset(head.path)) != nullptr) {
        verdict.route = Route::Asset;
    } else {
        verdict = refused(MHD_HTTP_NOT_FOUND, "Not found", "There is no such page here.");
    }
    return verdict;
}

}  // namespace orvanta::web
