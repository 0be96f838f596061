// The server's answers: every one as small a page as it can be, with the headers that keep a browser from
// guessing types, caching the live line, or loading anything from elsewhere.
#pragma once

#include <microhttpd.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvanta::web {

struct Reply {
    unsigned status = MHD_HTTP_OK;
    std::string contentType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;

    static Reply ok(std::string contentType, std::string body);
    // A short HTML page; message is plain text.
    static Reply error(unsigned status, std::string_view title, std::string_view message);

    Reply& with(std::string name, std::string value) & {
        headers.emplace_back(std::move(name), std::move(value));
        return *this;
    }
    Reply&& with(std::string name, std::string value) && {
        return std::move(with(std::move(name), std::move(value)));
    }
};

// What every answer carries, a stream too.
void addCommonHeaders(MHD_Response* response);

// Queues the answer on connection.
MHD_Result reply(MHD_Connection* connection, Reply answer);

// The request's size as the client sent it, near enough.
struct RequestSize {
    std::size_t target = 0;  // path and query
    std::size_t total = 0;   // the request line and every header
};
RequestSize requestSize(MHD_Connection* connection, const char* url, const char* method);

}  // namespace orvanta::web
