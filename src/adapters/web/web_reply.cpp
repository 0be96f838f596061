#include "adapters/web/web_reply.h"

#include <cstring>

#include "report/svg_writer.h"

namespace orvanta::web {

Reply Reply::ok(std::string contentType, std::string body) {
    return Reply{
        .status = MHD_HTTP_OK, .contentType = std::move(contentType), .body = std::move(body), .headers = {}};
}

Reply Reply::error(unsigned status, std::string_view title, std::string_view message) {
    const std::string heading = report::escapeXml(std::string(title));
    std::string page = "<!doctype html>\n<html><head><meta charset=\"utf-8\"><title>" + heading +
                       "</title></head>\n<body><h1>" + heading + "</h1><p>" +
                       report::escapeXml(std::string(message)) + "</p></body></html>\n";
    return Reply{
        .status = status, .contentType = "text/html; charset=utf-8", .body = std::move(page), .headers = {}};
}

void addCommonHeaders(MHD_Response* response) {
    // The live line changes every second: a cached copy would show a stale plant.
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    // The report draws with inline SVG and style attributes; no page here ever runs inline script.
    MHD_add_response_header(response, "Content-Security-Policy",
                            "default-src 'self'; img-src 'self' data:; style-src 'self' 'unsafe-inline'");
    MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
}

MHD_Result reply(MHD_Connection* connection, Reply answer) {
    MHD_Response* response =
        MHD_create_response_from_buffer(answer.body.size(), answer.body.data(), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) return MHD_NO;
    addCommonHeaders(response);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
    for (const auto& [name, value] : answer.headers)
        MHD_add_response_header(response, name.c_str(), value.c_str());
    const MHD_Result queued = MHD_queue_response(connection, answer.status, response);
    MHD_destroy_response(response);
    return queued;
}

RequestSize requestSize(MHD_Connection* connection, const char* url, const char* method) {
    const auto add = [](void* sum, MHD_ValueKind, const char* key, const char* value) {
        *static_cast<std::size_t*>(sum) += std::strlen(key) + (value != nullptr ? std::strlen(value) : 0) + 2;
        return MHD_YES;
    };
    RequestSize size;
    size.target = std::strlen(url);
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, +add, &size.target);
    size.total = std::strlen(method) + size.target + std::strlen("  HTTP/1.1\r\n\r\n");
    MHD_get_connection_values(connection, MHD_HEADER_KIND, +add, &size.total);
    return size;
}

}  // namespace orvanta::web
