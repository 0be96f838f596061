#include "adapters/web/web_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "adapters/web/web_assets.h"
#include "adapters/web/web_reply.h"
#include "adapters/web/web_request.h"
#include "core/lifetime.h"
#include "core/vb_error.h"
#include "report/report_command.h"

namespace orvanta::web {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSource = "WebServer";
// What a browser waits before it opens a broken stream again.
constexpr std::string_view kStreamStart = "retry: 2000\n";
constexpr std::string_view kAlive = ": alive\n\n";
// Room in a connection's memory beyond the request itself: the answer's status line and headers, MHD's own
// bookkeeping of the parsed request.
constexpr std::size_t kConnectionHeadroom = 8 * 1024;
// Trouble reported while running: at most this many lines a minute, the rest counted.
constexpr int kReportsPerMinute = 10;

struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;
    bool ipv6 = false;
};

std::string withoutBrackets(std::string_view address) {
    if (address.size() >= 2 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    return std::string(address);
}

std::optional<Address> parseAddress(std::string_view text, std::uint16_t port) {
    const std::string literal = text == "localhost" ? std::string("127.0.0.1") : withoutBrackets(text);
    Address address;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address.storage);
    if (inet_pton(AF_INET, literal.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        address.length = sizeof(sockaddr_in);
        return address;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
    if (inet_pton(AF_INET6, literal.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        address.length = sizeof(sockaddr_in6);
        address.ipv6 = true;
        return address;
    }
    return std::nullopt;
}

std::string errnoText(int error) {
    char buffer[256];
    return ::strerror_r(error, buffer, sizeof buffer);
}

// A JSON text as it may travel in one "data:" line of a stream and be inlined into the page: no line
// breaks (JSON allows them only as white space) and no '<', '>', '&' (JSON allows them only inside
// strings, where the escaped form means the same).
std::string sanitisedJson(std::string json) {
    std::string out;
    out.reserve(json.size());
    for (char c : json) {
        switch (c) {
            case '\n':
            case '\r':
                out += ' ';
                break;
            case '<':
                out += "\\u003c";
                break;
            case '>':
                out += "\\u003e";
                break;
            case '&':
                out += "\\u0026";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// The first line orvanta-report wrote to its error stream, without its program name.
std::string firstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    constexpr std::string_view kPrefix = "orvanta-report: ";
    if (line.rfind(kPrefix, 0) == 0) line.erase(0, kPrefix.size());
    return line;
}

// MHD's words for a browser that left: a tab closed, a page reloaded, a laptop asleep. Every stream ends so;
// none of it is trouble.
bool clientWentAway(std::string_view line) {
    for (std::string_view sign : {"Failed to send", "closed by remote", "disconnected when reading",
                                  "closed when reading", "no longer available"}) {
        if (line.find(sign) != std::string_view::npos) return true;
    }
    return false;
}

// Limits what a hostile client can make the server write into the program log.
class ReportThrottle {
public:
    // The line to report now, or none while the minute's share is used up.
    std::optional<std::string> pass(std::string message) {
        std::lock_guard lock(mutex_);
        const Clock::time_point now = Clock::now();
        if (now - windowStart_ >= std::chrono::minutes(1)) {
            windowStart_ = now;
            sent_ = 0;
        }
        if (sent_ >= kReportsPerMinute) {
            ++suppressed_;
            return std::nullopt;
        }
        ++sent_;
        if (suppressed_ > 0) {
            message += " (" + std::to_string(suppressed_) + " earlier reports of the web page were left out)";
            suppressed_ = 0;
        }
        return message;
    }

private:
    std::mutex mutex_;
    Clock::time_point windowStart_ = Clock::now() - std::chrono::minutes(2);
    int sent_ = 0;
    long suppressed_ = 0;
};

// Words for a period in a log line: "an hour", "2 hours", "90 s", "250 ms".
std::string periodWords(std::chrono::milliseconds period) {
    using std::chrono::hours;
    if (period >= hours(1) && period % hours(1) == std::chrono::milliseconds(0)) {
        const auto count = period / hours(1);
        return count == 1 ? "an hour" : std::to_string(count) + " hours";
    }
    if (period % std::chrono::seconds(1) == std::chrono::milliseconds(0))
        return std::to_string(period / std::chrono::seconds(1)) + " s";
    return std::to_string(period.count()) + " ms";
}

// Faulty requests cost the log one line a period: their count and the first of them. Anyone who can
// reach the port can make them, and ten lines a minute would push the panel's own lines out of a log
// that is kept to its size.
class FaultCount {
public:
    void add(std::string example) {
        std::lock_guard lock(mutex_);
        if (count_++ == 0) {
            first_ = std::move(example);
            since_ = Clock::now();
        }
    }
    // The line to say now, or none: nothing came, or the period since the first is not over.
    std::optional<std::string> due(std::chrono::milliseconds period) {
        std::lock_guard lock(mutex_);
        if (count_ == 0 || Clock::now() - since_ < period) return std::nullopt;
        std::string line = std::to_string(count_) + (count_ == 1 ? " faulty request" : " faulty requests") +
                           " within " + periodWords(period) + ", the first: " + first_;
        count_ = 0;
        first_.clear();
        return line;
    }

private:
    std::mutex mutex_;
    long count_ = 0;
    std::string first_;
    Clock::time_point since_;
};

// The client's address as a log line names it.
std::string addressText(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = "?";
    if (address == nullptr) return text;
    if (address->sa_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    else if (address->sa_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
    return text;
}

}  // namespace

struct WebServer::Impl {
    // One open stream of snapshots. Owned by its response: freed when MHD frees the response.
    struct Stream {
        Impl* server = nullptr;
        MHD_Connection* connection = nullptr;
        std::shared_ptr<const std::string> sending;  // the text being sent, from offset on
        std::size_t offset = 0;
        std::uint64_t version = 0;  // the snapshot last taken
        // Set (under mutex) just before MHD suspends the connection; whoever clears it resumes it, once.
        bool suspended = false;
        Clock::time_point lastSent = Clock::now();
    };

    // One request's state, from its first call of the handler to its end.
    struct Request {
        enum class Report { None, Making, Made };
        bool bodySeen = false;
        Report report = Report::None;
        unsigned reportStatus = 0;
        std::string reportBody;  // the report, or the message of a usage error
    };

    // A connection's wait for a whole request head: from its start, or from the end of its last request.
    // Reached through MHD's socket context; lives from the connection's start to its close.
    struct HeadWait {
        MHD_socket socket = MHD_INVALID_SOCKET;
        std::string from;
        Clock::time_point since = Clock::now();
        bool waiting = true;
        bool served = false;  // a request came before: an idle keep-alive connection, no fault
        bool cut = false;
    };

    struct ReportJob {
        MHD_Connection* connection = nullptr;
        Request* request = nullptr;
        std::vector<std::string> arguments;
    };

    EventLoop& loop;
    ServerSettings settings;
    ErrorReporter report;
    Lifetime lifetime;
    Lifetime::Token token = lifetime.token();
    ReportThrottle throttle;
    FaultCount faults;
    std::mutex headMutex;
    std::set<HeadWait*> heads;
    bool tls = false;
    std::string cookieValue;  // the token as the cookie carries it

    int listenSocket = -1;
    std::uint16_t boundPort = 0;
    MHD_Daemon* daemon = nullptr;
    // MHD's messages while it starts, for the error that explains a failed start.
    std::mutex startMutex;
    bool starting = true;
    std::string startLog;

    mutable std::mutex mutex;
    bool stopping = false;
    std::string latestJson = "null";
    std::shared_ptr<const std::string> latestEvent;  // "data: ...\n\n"; none before the first publish
    std::uint64_t version = 0;
    std::set<Stream*> streams;
    std::optional<ReportJob> job;  // waiting for the worker or being made
    bool reportBusy = false;
    std::condition_variable workerWake;
    std::condition_variable tickerWake;
    std::thread worker;
    std::thread ticker;

    Impl(EventLoop& loop, ServerSettings settings, ErrorReporter report)
        : loop(loop), settings(std::move(settings)), report(std::move(report)) {}
    // Also when the start failed halfway (a thread that could not be made): nothing may run on.
    ~Impl() { stop(); }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    std::string where() const {
        return "Web page at " + settings.address + " port " + std::to_string(settings.port);
    }

    [[noreturn]] void fail(const std::string& cause) const {
        throw VbError(kInvalidCall, where() + ": " + cause, kSource);
    }

    void start();
    void listen();
    void stop();

    // The token never goes into the log: as it is set and as it travels in an address or a cookie.
    std::string withoutToken(std::string message) const {
        for (const std::string* secret : {&settings.token, &cookieValue}) {
            if (secret->empty()) continue;
            for (std::size_t at = 0; (at = message.find(*secret, at)) != std::string::npos; at += 7)
                message.replace(at, secret->size(), "(token)");
        }
        return message;
    }

    // Any thread: a line for the program log.
    void say(std::string line) {
        loop.post(token.guard([this, line = std::move(line)] { report(line); }));
    }

    // Any thread: a line for the program log, throttled.
    void trouble(std::string message) {
        std::optional<std::string> line = throttle.pass(withoutToken(std::move(message)));
        if (line) say(std::move(*line));
    }

    void connectionEvent(MHD_Connection* connection, void** context, MHD_ConnectionNotificationCode code);
    static HeadWait* headWaitOf(MHD_Connection* connection);
    void headComplete(MHD_Connection* connection);
    void requestEnded(MHD_Connection* connection);
    void cutSlowHeads();

    void mhdSaid(const char* format, va_list arguments);
    MHD_Result handle(MHD_Connection* connection, const char* url, const char* method,
                      std::size_t* uploadSize, void** state);
    MHD_Result serveStream(MHD_Connection* connection, bool head);
    MHD_Result serveReport(MHD_Connection* connection, Request& request, std::vector<std::string> arguments);
    static RequestHead headOf(MHD_Connection* connection, const char* url, const char* method);
    static MHD_Result refuse(MHD_Connection* connection, const Verdict& verdict);
    ssize_t readStream(Stream& stream, char* buffer, std::size_t max);
    void runWorker();
    void runTicker();
    std::vector<MHD_Connection*> takeSuspended(bool onlyIdle);
};

void WebServer::Impl::listen() {
    const std::optional<Address> address = parseAddress(settings.address, settings.port);
    if (!address) fail("not an IPv4 or IPv6 address (nor \"localhost\")");
    const int family = address->ipv6 ? AF_INET6 : AF_INET;
    listenSocket = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenSocket < 0) fail("cannot open a socket: " + errnoText(errno));
    // A restarted panel takes its port back at once, although the last run's connections still linger.
    const int on = 1;
    ::setsockopt(listenSocket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(listenSocket, reinterpret_cast<const sockaddr*>(&address->storage), address->length) != 0 ||
        ::listen(listenSocket, 64) != 0) {
        const int error = errno;
        ::close(listenSocket);
        listenSocket = -1;
        if (error == EADDRINUSE) fail("the port is taken by another program (" + errnoText(error) + ")");
        if (error == EADDRNOTAVAIL)
            fail("the address is not one of this computer's (" + errnoText(error) + ")");
        fail("cannot listen: " + errnoText(error));
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(listenSocket, reinterpret_cast<sockaddr*>(&bound), &length) == 0) {
        boundPort = ntohs(address->ipv6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                        : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    }
}

void WebServer::Impl::mhdSaid(const char* format, va_list arguments) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    std::string line(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    {
        std::lock_guard lock(startMutex);
        if (starting) {
            if (startLog.size() < 2048) startLog += (startLog.empty() ? "" : "; ") + line;
            return;
        }
    }
    if (clientWentAway(line)) return;
    // MHD quotes the whole error page it sent; the status code before it says enough.
    const std::size_t page = line.find(" ('<");
    const std::size_t pageEnd = line.find("'))", page);
    if (page != std::string::npos && pageEnd != std::string::npos) line.erase(page, pageEnd + 2 - page);
    faults.add(withoutToken(std::move(line)));
}

void WebServer::Impl::connectionEvent(MHD_Connection* connection, void** context,
                                      MHD_ConnectionNotificationCode code) {
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        auto wait = std::make_unique<HeadWait>();
        if (const MHD_ConnectionInfo* info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD))
            wait->socket = info->connect_fd;
        if (const MHD_ConnectionInfo* info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS))
            wait->from = addressText(info->client_addr);
        std::lock_guard lock(headMutex);
        heads.insert(wait.get());
        *context = wait.release();
        return;
    }
    // Closed: MHD closes the socket only after this, so a cut under headMutex never meets another's socket.
    std::unique_ptr<HeadWait> wait(static_cast<HeadWait*>(*context));
    *context = nullptr;
    std::lock_guard lock(headMutex);
    heads.erase(wait.get());
}

WebServer::Impl::HeadWait* WebServer::Impl::headWaitOf(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info != nullptr ? static_cast<HeadWait*>(info->socket_context) : nullptr;
}

void WebServer::Impl::headComplete(MHD_Connection* connection) {
    HeadWait* wait = headWaitOf(connection);
    if (wait == nullptr) return;
    std::lock_guard lock(headMutex);
    wait->waiting = false;
    wait->served = true;
}

void WebServer::Impl::requestEnded(MHD_Connection* connection) {
    HeadWait* wait = headWaitOf(connection);
    if (wait == nullptr) return;
    std::lock_guard lock(headMutex);
    wait->waiting = true;
    wait->since = Clock::now();
}

// The idle timeout does not bound a head that comes a byte at a time, each renewing it: this does. The
// socket is shut down, not closed, so that MHD sees the end on its own thread and closes it there.
void WebServer::Impl::cutSlowHeads() {
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(headMutex);
    for (HeadWait* wait : heads) {
        if (!wait->waiting || wait->cut || now - wait->since < settings.headTimeout) continue;
        wait->cut = true;
        ::shutdown(wait->socket, SHUT_RDWR);
        if (!wait->served)
            faults.add("a request from " + wait->from + " did not complete its head within " +
                       periodWords(settings.headTimeout) + "; closed");
    }
}

void WebServer::Impl::start() {
    if (!settings.token.empty() && settings.token.size() > 1024)
        fail("the token is longer than 1024 characters");
    if (settings.token.empty() && !isLoopback(settings.address))
        fail(
            "an address other than this computer's own (127.0.0.1, ::1, localhost) needs a token, so that "
            "only those given it see the line");
    if (settings.certificatePem.empty() != settings.keyPem.empty())
        fail("HTTPS needs both a certificate and a key; only one is given");
    if (settings.maxConnections == 0) fail("at most 0 connections allowed");
    // Half: an office behind one NAT address still has room for its viewers, and one address alone
    // cannot take the other half.
    if (settings.maxConnectionsPerAddress == 0)
        settings.maxConnectionsPerAddress = std::max<std::size_t>(1, settings.maxConnections / 2);
    settings.maxConnectionsPerAddress = std::min(settings.maxConnectionsPerAddress, settings.maxConnections);
    settings.headTimeout =
        std::max<std::chrono::milliseconds>(settings.headTimeout, std::chrono::milliseconds(10));
    settings.faultSummary =
        std::max<std::chrono::milliseconds>(settings.faultSummary, std::chrono::milliseconds(10));
    tls = !settings.certificatePem.empty();
    // A stream sends a comment whenever it has sent nothing for this long: none at all would be a loop.
    settings.keepAlive =
        std::max<std::chrono::milliseconds>(settings.keepAlive, std::chrono::milliseconds(10));
    for (unsigned char c : settings.token) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            cookieValue += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            cookieValue += escaped;
        }
    }

    listen();

    const auto log = [](void* self, const char* format, va_list arguments) noexcept {
        try {
            static_cast<Impl*>(self)->mhdSaid(format, arguments);
        } catch (const std::exception&) {
            // A line that cannot be made (no memory) is lost, not the server.
        }
    };
    const auto access = [](void* self, MHD_Connection* connection, const char* url, const char* method,
                           const char* /*version*/, const char* /*data*/, std::size_t* uploadSize,
                           void** state) {
        // No exception may unwind into MHD: a request that cannot be answered (no memory) loses its
        // connection.
        try {
            return static_cast<Impl*>(self)->handle(connection, url, method, uploadSize, state);
        } catch (const std::exception&) {
            return MHD_NO;
        }
    };
    const auto completed = [](void* self, MHD_Connection* connection, void** state,
                              MHD_RequestTerminationCode) {
        delete static_cast<Request*>(*state);
        *state = nullptr;
        static_cast<Impl*>(self)->requestEnded(connection);
    };
    const auto connectionEvent = [](void* self, MHD_Connection* connection, void** context,
                                    MHD_ConnectionNotificationCode code) {
        try {
            static_cast<Impl*>(self)->connectionEvent(connection, context, code);
        } catch (const std::exception&) {
            // Without memory for its wait, a connection is bounded by the idle timeout alone.
        }
    };

    // MHD closes the socket it is given, also when it fails to start: it gets a copy of its own, so that
    // this one is closed exactly once whatever happens.
    const int handed = ::fcntl(listenSocket, F_DUPFD_CLOEXEC, 0);
    if (handed < 0) {
        ::close(listenSocket);
        listenSocket = -1;
        fail("cannot hand the socket over: " + errnoText(errno));
    }
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME |
                     MHD_USE_ITC | MHD_USE_ERROR_LOG;
    if (parseAddress(settings.address, 0)->ipv6) flags |= MHD_USE_IPv6;
    if (tls) flags |= MHD_USE_TLS;
    std::vector<MHD_OptionItem> options{
        {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(+log), this},
        {MHD_OPTION_LISTEN_SOCKET, handed, nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(settings.maxConnections), nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT,
         static_cast<intptr_t>(std::max<std::int64_t>(1, settings.idleTimeout.count())), nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT,
         static_cast<intptr_t>(settings.maxRequestBytes + kConnectionHeadroom), nullptr},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(+completed), this},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(+connectionEvent), this},
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<intptr_t>(settings.maxConnectionsPerAddress),
         nullptr},
    };
    if (tls) {
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(settings.certificatePem.c_str())});
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(settings.keyPem.c_str())});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});

    daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, +access, this, MHD_OPTION_ARRAY, options.data(),
                              MHD_OPTION_END);
    {
        std::lock_guard lock(startMutex);
        starting = false;
    }
    ::close(listenSocket);
    listenSocket = -1;
    if (daemon == nullptr) {
        std::string cause = tls ? "the certificate or key was refused" : "the server did not start";
        fail(cause + (startLog.empty() ? std::string() : " (" + startLog + ")"));
    }
    settings.port = boundPort;
    if (!tls && !settings.token.empty() && !isLoopback(settings.address))
        say(where() +
            ": the token travels unencrypted over the network (no [Web] Certificate and Key): anyone who can "
            "watch the network can read it and open the page");
    worker = std::thread([this] { runWorker(); });
    ticker = std::thread([this] { runTicker(); });
}

std::vector<MHD_Connection*> WebServer::Impl::takeSuspended(bool onlyIdle) {
    std::vector<MHD_Connection*> connections;
    // Reserved first: a flag cleared must be followed by its resume, or MHD could not be stopped.
    connections.reserve(streams.size());
    const Clock::time_point now = Clock::now();
    for (Stream* stream : streams) {
        if (!stream->suspended) continue;
        if (onlyIdle && now - stream->lastSent < settings.keepAlive) continue;
        stream->suspended = false;
        connections.push_back(stream->connection);
    }
    return connections;
}

void WebServer::Impl::stop() {
    if (daemon == nullptr) return;
    const MHD_socket quiesced = MHD_quiesce_daemon(daemon);
    std::vector<MHD_Connection*> suspended;
    {
        std::lock_guard lock(mutex);
        stopping = true;
        suspended = takeSuspended(false);
    }
    workerWake.notify_all();
    tickerWake.notify_all();
    if (worker.joinable()) worker.join();
    if (ticker.joinable()) ticker.join();
    // MHD must not be stopped with a connection suspended: each wakes up, sees the end and closes.
    for (MHD_Connection* connection : suspended) MHD_resume_connection(connection);
    MHD_stop_daemon(daemon);
    daemon = nullptr;
    if (quiesced != MHD_INVALID_SOCKET) ::close(quiesced);
}

// The parts of the request the rules read, as MHD parsed them.
RequestHead WebServer::Impl::headOf(MHD_Connection* connection, const char* url, const char* method) {
    const auto value = [connection](MHD_ValueKind kind, const char* name) -> std::optional<std::string_view> {
        const char* found = MHD_lookup_connection_value(connection, kind, name);
        return found != nullptr ? std::optional<std::string_view>(found) : std::nullopt;
    };
    return RequestHead{
        .method = method,
        .path = url,
        .host = value(MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST),
        .contentLength = value(MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH),
        .transferEncoding = value(MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING),
        .tokenArgument = value(MHD_GET_ARGUMENT_KIND, "token"),
        .tokenCookie = value(MHD_COOKIE_KIND, kTokenCookie.data()),
        .authorization = value(MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION),
        .from = value(MHD_GET_ARGUMENT_KIND, "from"),
        .to = value(MHD_GET_ARGUMENT_KIND, "to"),
        .format = value(MHD_GET_ARGUMENT_KIND, "format"),
        .last = value(MHD_GET_ARGUMENT_KIND, "last"),
    };
}

MHD_Result WebServer::Impl::refuse(MHD_Connection* connection, const Verdict& verdict) {
    Reply answer = Reply::error(verdict.status, verdict.title, verdict.message);
    for (const auto& [name, value] : verdict.headers) answer.with(std::string(name), std::string(value));
    return reply(connection, std::move(answer));
}

MHD_Result WebServer::Impl::handle(MHD_Connection* connection, const char* url, const char* method,
                                   std::size_t* uploadSize, void** state) {
    if (*state == nullptr) {
        // The first call, with the headers only: refuse what is not worth reading any further.
        *state = new Request;
        headComplete(connection);
        if (const std::optional<Verdict> refusal = refusedHead(headOf(connection, url, method)))
            return refuse(connection, *refusal);
        // MHD refuses what does not fit its memory; this refuses what fits it but exceeds the limit.
        const RequestSize size = requestSize(connection, url, method);
        if (size.target > settings.maxRequestBytes)
            return reply(connection,
                         Reply::error(MHD_HTTP_URI_TOO_LONG, "Request refused", "The address is too long."));
        if (size.total > settings.maxRequestBytes)
            return reply(connection, Reply::error(MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE, "Request refused",
                                                  "The request's headers are too large."));
        return MHD_YES;
    }
    auto& request = *static_cast<Request*>(*state);
    if (*uploadSize != 0) {
        // A body its headers did not announce: read past it, refuse the request once it is read.
        *uploadSize = 0;
        request.bodySeen = true;
        return MHD_YES;
    }
    if (request.bodySeen)
        return reply(connection, Reply::error(MHD_HTTP_CONTENT_TOO_LARGE, "Request refused",
                                              "A request to this page carries no body."));
    if (request.report != Request::Report::None) return serveReport(connection, request, {});

    const RequestRules rules{.token = settings.token,
                             .cookieValue = cookieValue,
                             .listenAddress = settings.address,
                             .history = !settings.historyFile.empty(),
                             .iniFile = settings.iniFile};
    Verdict verdict = route(rules, headOf(connection, url, method));
    switch (verdict.route) {
        case Route::Refused:
            return refuse(connection, verdict);
        case Route::Page: {
            std::string json;
            {
                std::lock_guard lock(mutex);
                json = latestJson;
            }
            Reply page = Reply::ok("text/html; charset=utf-8", livePage(json));
            if (verdict.tokenInAddress) {
                page.with("Set-Cookie", std::string(kTokenCookie) + "=" + cookieValue +
                                            "; Path=/; HttpOnly; SameSite=Strict" + (tls ? "; Secure" : ""));
            }
            return reply(connection, std::move(page));
        }
        case Route::Stream:
            return serveStream(connection, std::string_view(method) == MHD_HTTP_METHOD_HEAD);
        case Route::Report:
            return serveReport(connection, request, std::move(verdict.reportArguments));
        case Route::Asset:
            return reply(connection, Reply::ok(std::string(verdict.asset->contentType),
                                               std::string(verdict.asset->body)));
    }
    return MHD_NO;
}

MHD_Result WebServer::Impl::serveStream(MHD_Connection* connection, bool head) {
    if (head) {
        return reply(connection, Reply::ok("text/event-stream", ""));
    }
    auto stream = std::make_unique<Stream>();
    stream->server = this;
    stream->connection = connection;
    {
        std::lock_guard lock(mutex);
        if (stopping)
            return reply(connection,
                         Reply::error(MHD_HTTP_SERVICE_UNAVAILABLE, "Closing", "The panel is closing."));
        std::string first(kStreamStart);
        first += latestEvent ? *latestEvent : std::string("\n");
        stream->sending = std::make_shared<const std::string>(std::move(first));
        stream->version = version;
        streams.insert(stream.get());
    }
    const auto read = [](void* self, std::uint64_t, char* buffer, std::size_t max) -> ssize_t {
        auto& stream = *static_cast<Stream*>(self);
        try {
            return stream.server->readStream(stream, buffer, max);
        } catch (const std::exception&) {
            return MHD_CONTENT_READER_END_WITH_ERROR;
        }
    };
    const auto release = [](void* self) {
        std::unique_ptr<Stream> stream(static_cast<Stream*>(self));
        std::lock_guard lock(stream->server->mutex);
        stream->server->streams.erase(stream.get());
    };
    Stream* raw = stream.release();
    MHD_Response* response =
        MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 16 * 1024, +read, raw, +release);
    if (response == nullptr) {
        release(raw);
        return MHD_NO;
    }
    addCommonHeaders(response);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream");
    const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return queued;
}

ssize_t WebServer::Impl::readStream(Stream& stream, char* buffer, std::size_t max) {
    std::lock_guard lock(mutex);
    if (stopping) return MHD_CONTENT_READER_END_OF_STREAM;
    const Clock::time_point now = Clock::now();
    if (stream.offset >= stream.sending->size()) {
        if (stream.version != version && latestEvent) {
            // Whatever was published meanwhile, only the newest counts.
            stream.sending = latestEvent;
            stream.version = version;
        } else if (now - stream.lastSent >= settings.keepAlive) {
            static const auto alive = std::make_shared<const std::string>(kAlive);
            stream.sending = alive;
        } else {
            stream.suspended = true;
            MHD_suspend_connection(stream.connection);
            return 0;
        }
        stream.offset = 0;
    }
    const std::size_t count = std::min(max, stream.sending->size() - stream.offset);
    std::memcpy(buffer, stream.sending->data() + stream.offset, count);
    stream.offset += count;
    stream.lastSent = now;
    return static_cast<ssize_t>(count);
}

MHD_Result WebServer::Impl::serveReport(MHD_Connection* connection, Request& request,
                                        std::vector<std::string> arguments) {
    if (request.report == Request::Report::Made) {
        switch (request.reportStatus) {
            case MHD_HTTP_OK:
                return reply(connection,
                             Reply::ok("text/html; charset=utf-8", std::move(request.reportBody)));
            case MHD_HTTP_BAD_REQUEST:
                return reply(connection,
                             Reply::error(MHD_HTTP_BAD_REQUEST, "Report not made", request.reportBody));
            case MHD_HTTP_SERVICE_UNAVAILABLE:
                return reply(connection, Reply::error(MHD_HTTP_SERVICE_UNAVAILABLE, "Report not made",
                                                      "The panel is closing."));
            default:
                return reply(connection,
                             Reply::error(request.reportStatus, "Report not made",
                                          "The history could not be read; the program log says why."));
        }
    }
    ReportJob next{.connection = connection, .request = &request, .arguments = std::move(arguments)};
    next.arguments.push_back(settings.historyFile);
    {
        std::lock_guard lock(mutex);
        if (reportBusy || stopping)
            return reply(connection, Reply::error(MHD_HTTP_SERVICE_UNAVAILABLE, "Busy",
                                                  "Another report is being made; ask again in a moment.")
                                         .with("Retry-After", "5"));
        reportBusy = true;
        request.report = Request::Report::Making;
        job = std::move(next);
        // Suspended before the worker can see the job, so that its resume always finds it suspended.
        MHD_suspend_connection(connection);
    }
    workerWake.notify_one();
    return MHD_YES;
}

void WebServer::Impl::runWorker() {
    std::unique_lock lock(mutex);
    for (;;) {
        workerWake.wait(lock, [this] { return stopping || job; });
        // A job taken is always finished: its connection is suspended until the worker resumes it.
        if (!job) return;
        ReportJob current = std::move(*job);
        job.reset();
        const bool closing = stopping;
        lock.unlock();
        unsigned status = closing ? MHD_HTTP_SERVICE_UNAVAILABLE : MHD_HTTP_INTERNAL_SERVER_ERROR;
        std::string body;
        if (!closing) {
            try {
                std::ostringstream out;
                std::ostringstream err;
                const int exit = report::runReport(current.arguments, out, err);
                if (exit == report::kExitReported) {
                    status = MHD_HTTP_OK;
                    body = out.str();
                } else if (exit == report::kExitUsage) {
                    status = MHD_HTTP_BAD_REQUEST;
                    body = firstLine(err.str());
                } else {
                    trouble("Web page: the history report failed: " + firstLine(err.str()));
                }
            } catch (const std::exception& error) {
                // Out of memory, most likely: the page says 500, and the line may be lost as well.
                status = MHD_HTTP_INTERNAL_SERVER_ERROR;
                body.clear();
                try {
                    trouble(std::string("Web page: the history report failed: ") + error.what());
                } catch (const std::exception&) {
                }
            }
        }
        lock.lock();
        current.request->reportStatus = status;
        current.request->reportBody = std::move(body);
        current.request->report = Request::Report::Made;
        reportBusy = false;
        lock.unlock();
        MHD_resume_connection(current.connection);
        lock.lock();
    }
}

void WebServer::Impl::runTicker() {
    const auto period = std::clamp<std::chrono::milliseconds>(
        std::min({settings.keepAlive, settings.headTimeout, settings.faultSummary}) / 4,
        std::chrono::milliseconds(10), std::chrono::milliseconds(1000));
    std::unique_lock lock(mutex);
    while (!stopping) {
        tickerWake.wait_for(lock, period, [this] { return stopping; });
        if (stopping) break;
        std::vector<MHD_Connection*> due = takeSuspended(true);
        lock.unlock();
        for (MHD_Connection* connection : due) MHD_resume_connection(connection);
        cutSlowHeads();
        if (std::optional<std::string> line = faults.due(settings.faultSummary)) say("Web page: " + *line);
        lock.lock();
    }
}

WebServer::WebServer(EventLoop& loop, ServerSettings settings, ErrorReporter report)
    : impl_(std::make_unique<Impl>(loop, std::move(settings), std::move(report))) {
    impl_->start();
}

WebServer::~WebServer() = default;

std::uint16_t WebServer::port() const { return impl_->boundPort; }

void WebServer::publish(std::string snapshotJson) {
    std::string json = sanitisedJson(std::move(snapshotJson));
    auto event = std::make_shared<const std::string>("data: " + json + "\n\n");
    std::vector<MHD_Connection*> waiting;
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->stopping) return;
        impl_->latestJson = std::move(json);
        impl_->latestEvent = std::move(event);
        ++impl_->version;
        waiting = impl_->takeSuspended(false);
    }
    for (MHD_Connection* connection : waiting) MHD_resume_connection(connection);
}

std::size_t WebServer::streams() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->streams.size();
}

}  // namespace orvanta::web
