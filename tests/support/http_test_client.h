// A plain-socket HTTP client for tests of the web server: it sends exactly the bytes a test writes (a
// broken request line, a header of any size, a body the server did not ask for) and reads the answer
// as it arrives, chunked or not, so that a stream can be followed event by event.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvanta::testing {

struct HttpResponse {
    std::string statusLine;  // "HTTP/1.1 200 OK"
    int status = 0;
    std::vector<std::pair<std::string, std::string>> headers;  // names in lower case, in order
    std::string body;                                          // de-chunked

    // The value of the one header of that name (lower case), or none; two of one name fail the lookup.
    std::optional<std::string> header(std::string_view name) const {
        std::optional<std::string> found;
        for (const auto& [key, value] : headers) {
            if (key != name) continue;
            if (found) return std::string("(twice)");
            found = value;
        }
        return found;
    }
};

class HttpConnection {
public:
    using Clock = std::chrono::steady_clock;

    // receiveBuffer > 0: the socket's receive buffer, set before connecting (a client that reads slowly).
    // from: the IPv4 loopback address to connect from (every 127.x.y.z is this computer), such as
    // "127.0.0.2" for a second client address.
    explicit HttpConnection(std::uint16_t port, int receiveBuffer = 0, bool ipv6 = false,
                            const char* from = nullptr) {
        fd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) throw std::runtime_error("socket failed");
        if (receiveBuffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        if (from != nullptr) {
            sockaddr_in source{};
            source.sin_family = AF_INET;
            ::inet_pton(AF_INET, from, &source.sin_addr);
            if (::bind(fd_, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
                ::close(fd_);
                throw std::runtime_error("bind failed");
            }
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sockaddr_in6 address6{};
        address6.sin6_family = AF_INET6;
        address6.sin6_port = htons(port);
        address6.sin6_addr = in6addr_loopback;
        const int connected = ipv6 ? ::connect(fd_, reinterpret_cast<sockaddr*>(&address6), sizeof address6)
                                   : ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        if (connected != 0) {
            ::close(fd_);
            throw std::runtime_error("connect failed");
        }
    }
    ~HttpConnection() { ::close(fd_); }
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    // False when the server closed before taking all of it.
    bool send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
        return true;
    }

    // The answer's status line and headers, then as much of its body as has come: all of it when its end
    // is known (a length, the last chunk, the connection closed), else what arrived before timeout.
    std::optional<HttpResponse> readResponse(bool head = false,
                                             std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto deadline = Clock::now() + timeout;
        if (!readHeaders(deadline)) return std::nullopt;
        if (head) return response_;
        decode();
        while (!bodyComplete() && pump(deadline)) decode();
        decode();
        return response_;
    }

    // The status line and headers only, not waiting for a body (a stream's, a HEAD answer's).
    std::optional<HttpResponse> readHead(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        return readResponse(true, timeout);
    }

    // After readHead or readResponse: reads the body on until done(body) holds; false at the timeout or the
    // end.
    bool readBodyUntil(const std::function<bool(const std::string&)>& done,
                       std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto deadline = Clock::now() + timeout;
        decode();
        while (!done(response_.body)) {
            if (!pump(deadline)) return false;
            decode();
        }
        return true;
    }
    const std::string& body() const { return response_.body; }
    // Drops the body read so far (a stream's events already checked).
    void consume(std::size_t count) { response_.body.erase(0, count); }

    // Whether the server closed the connection (or reset it) within timeout (0: already); reads and drops
    // what comes.
    bool closedByServer(std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (pump(deadline)) {
        }
        return eof_;
    }

private:
    // Reads once more; false at the end of the connection or the deadline.
    bool pump(Clock::time_point deadline) {
        if (eof_) return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left < 0) return false;  // at 0 it still takes what has come
        pollfd poller{.fd = fd_, .events = POLLIN, .revents = 0};
        if (::poll(&poller, 1, static_cast<int>(left)) <= 0) return false;
        char buffer[65536];
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got <= 0) {
            eof_ = true;
            return false;
        }
        raw_.append(buffer, static_cast<std::size_t>(got));
        return true;
    }

    bool readHeaders(Clock::time_point deadline) {
        std::size_t end;
        while ((end = raw_.find("\r\n\r\n")) == std::string::npos) {
            if (!pump(deadline)) return false;
        }
        std::string head = raw_.substr(0, end + 2);
        raw_.erase(0, end + 4);
        std::size_t lineEnd = head.find("\r\n");
        response_ = HttpResponse{};
        response_.statusLine = head.substr(0, lineEnd);
        if (response_.statusLine.size() >= 12)
            response_.status = std::stoi(response_.statusLine.substr(9, 3));
        for (std::size_t start = lineEnd + 2; start < head.size(); start = lineEnd + 2) {
            lineEnd = head.find("\r\n", start);
            const std::string line = head.substr(start, lineEnd - start);
            const std::size_t colon = line.find(':');
            std::string name = line.substr(0, colon);
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return std::tolower(c); });
            std::string value = colon == std::string::npos ? std::string() : line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(' '));
            response_.headers.emplace_back(std::move(name), std::move(value));
        }
        chunked_ = response_.header("transfer-encoding") == "chunked";
        if (auto length = response_.header("content-length")) length_ = std::stoul(*length);
        return true;
    }

    bool bodyComplete() const {
        if (chunked_) return lastChunk_;
        if (length_) return response_.body.size() >= *length_;
        return eof_;
    }

    void decode() {
        if (!chunked_) {
            response_.body += raw_;
            raw_.clear();
            return;
        }
        while (!lastChunk_) {
            const std::size_t lineEnd = raw_.find("\r\n");
            if (lineEnd == std::string::npos) return;
            const std::size_t size = std::stoul(raw_.substr(0, lineEnd), nullptr, 16);
            if (raw_.size() < lineEnd + 2 + size + 2) return;
            response_.body += raw_.substr(lineEnd + 2, size);
            raw_.erase(0, lineEnd + 2 + size + 2);
            if (size == 0) lastChunk_ = true;
        }
    }

    int fd_ = -1;
    std::string raw_;
    HttpResponse response_;
    bool chunked_ = false;
    bool lastChunk_ = false;
    std::optional<std::size_t> length_;
    bool eof_ = false;
};

// One request on a connection of its own; the answer, or none when the server sent no whole head.
inline std::optional<HttpResponse> exchange(std::uint16_t port, std::string_view request, bool head = false) {
    HttpConnection connection(port);
    connection.send(request);
    return connection.readResponse(head);
}

// A GET of target with extra header lines ("Name: value\r\n" each).
inline std::string getRequest(std::string_view target, std::string_view headers = {}) {
    return "GET " + std::string(target) + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n" +
           std::string(headers) + "\r\n";
}

}  // namespace orvanta::testing
