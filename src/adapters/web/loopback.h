// Whether an address the page is to listen on stays on this computer. Header-only, so that the settings
// check at start (which does not link the web server) and the server itself decide alike.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

#include <string>
#include <string_view>

namespace orvanta::web {

// address: an IPv4 or IPv6 literal (an IPv6 one with or without its brackets), or "localhost".
// 127.0.0.0/8, ::1 and ::ffff:127.x.y.z are the loopback.
inline bool isLoopback(std::string_view address) {
    if (address == "localhost") return true;
    // inet_pton would read only up to a NUL.
    if (address.find('\0') != std::string_view::npos) return false;
    if (address.size() >= 2 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    const std::string literal(address);
    in_addr v4{};
    if (inet_pton(AF_INET, literal.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, literal.c_str(), &v6) != 1) return false;
    return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
}

}  // namespace orvanta::web
