// The live line page, when [Web] asks for it: the server, off the loop's thread, and the feed that hands it
// snapshots of the line from the loop's thread.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "adapters/embedded/embedded_line_display.h"
#include "adapters/web/web_feed.h"
#include "adapters/web/web_server.h"
#include "core/error_reporter.h"
#include "core/event_loop.h"
#include "program/backend_settings.h"

namespace orvanta {

class LivePage {
public:
    // Starts the server at once and says on out where the page is. A page that cannot start (its port is
    // taken, its certificate does not fit its key) is reported; the panel runs without it.
    LivePage(EventLoop& loop, EmbeddedLineDisplay& line, const WebSettings& settings, const std::string& base,
             const std::string& historyFile, const ErrorReporter& report, std::ostream& out);

    bool running() const { return feed_ != nullptr; }
    // The page's observer of the pass and sink of the history; none when it does not run.
    web::WebFeed* feed() { return feed_.get(); }

private:
    std::unique_ptr<web::WebServer> server_;
    std::unique_ptr<web::WebFeed> feed_;  // after the server: it publishes to it until it goes
};

}  // namespace orvanta
