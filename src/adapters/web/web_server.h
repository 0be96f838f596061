// The panel's web page: a small read-only HTTP(S) server on libmicrohttpd, off the loop's thread.
//
// It serves the live line page (the newest snapshot inlined, so that the picture is drawn without waiting
// for the stream), the page's built-in assets, a stream of snapshots as Server-Sent Events, and the
// history report for a chosen period. Nothing a request says can change the panel or the plant: the
// server only ever reads the snapshot the loop last published and, for the report, the history file
// (opened read-only). It never calls into the logic; the loop hands it snapshots with publish().
//
// Bounds: every request is held to maxRequestBytes (line, headers and all) and to GET and HEAD without a
// body; at most maxConnections are open, of them at most maxConnectionsPerAddress from one address, so that
// one address cannot keep every other viewer out; a request head not complete headTimeout after its
// connection began waiting for it is closed, however it trickles in; a connection that neither reads nor
// sends for idleTimeout is closed. A stream holds no queue of its own: it keeps the newest snapshot, so a
// slow reader skips to the newest one and a reader that never reads costs one connection until its timeout.
//
// With a token, every request must carry it: "?token=" on the page's address (the answer then sets it as
// a cookie for the stream and the report), the cookie, or "Authorization: Bearer". Without it: 401.
// Without a token, only a request that names this computer in its Host (localhost, a loopback literal,
// the address listened on) is answered, others get 421: see web_request.h.
//
// What libmicrohttpd says of faulty requests, and the connections closed for a head not complete in time,
// are counted and said in one line once every faultSummary, so that a client cannot flood the log.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "adapters/web/loopback.h"
#include "core/error_reporter.h"
#include "core/event_loop.h"

namespace orvanta::web {

struct ServerSettings {
    std::string address = "127.0.0.1";  // an IPv4 or IPv6 literal, or "localhost"
    std::uint16_t port = 0;             // 0: any free port (see WebServer::port)
    std::string token;                  // empty: no token asked
    std::string certificatePem;         // both PEM texts given: HTTPS; both empty: HTTP
    std::string keyPem;
    std::string historyFile;  // the history file the report reads; empty: no report page
    std::string iniFile;      // the panel's own INI, whose [Report] Shifts the report takes; empty: none

    std::size_t maxConnections = 400;
    std::size_t maxConnectionsPerAddress = 0;  // 0: half of maxConnections
    std::size_t maxRequestBytes = 16 * 1024;
    std::chrono::milliseconds headTimeout{5000};
    std::chrono::seconds idleTimeout{30};
    std::chrono::milliseconds faultSummary = std::chrono::hours(1);
    // A comment line on every stream this often, so that an idle stream is not taken for a dead one.
    std::chrono::milliseconds keepAlive{10000};
};

class WebServer {
public:
    // Listens at once. Throws VbError (its description names the address, the port and the cause) when it
    // cannot: the port is taken, the address is not one of this machine, the certificate or key is bad,
    // or the address is not a loopback one and no token is set.
    // Reports of trouble while it runs are posted to loop, so report is called on the loop's thread only.
    WebServer(EventLoop& loop, ServerSettings settings, ErrorReporter report);
    ~WebServer();  // closes every connection and joins the server's threads
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    std::uint16_t port() const;
    // Any thread: the live line as the JSON of web_snapshot.h, one line. Every stream is sent it; one that
    // has not yet taken the previous snapshot is sent only this one.
    void publish(std::string snapshotJson);
    // Streams open now.
    std::size_t streams() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace orvanta::web
