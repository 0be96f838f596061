#include "app/live_page.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/vb_error.h"
#include "service/plant_files.h"

namespace orvanta {
namespace {

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw VbError(kFileNotFound, "Cannot read " + path, "Orvanta");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

LivePage::LivePage(EventLoop& loop, EmbeddedLineDisplay& line, const WebSettings& settings,
                   const std::string& base, const std::string& historyFile, const ErrorReporter& report,
                   std::ostream& out) {
    if (!settings.enabled) return;
    web::ServerSettings server;
    server.address = settings.address;
    server.port = static_cast<std::uint16_t>(settings.port);
    server.token = settings.token;
    server.historyFile = historyFile;
    // The shifts of the last shift report are the plant's; a panel without its INI has the usual ones.
    if (const std::string ini = plantFile(base, kOwnIniFile); std::filesystem::is_regular_file(ini))
        server.iniFile = ini;
    try {
        if (!settings.certificateFile.empty()) {
            server.certificatePem = fileText(settings.certificateFile);
            server.keyPem = fileText(settings.keyFile);
        }
        server_ = std::make_unique<web::WebServer>(loop, std::move(server), report);
    } catch (const VbError& error) {
        report("The live line page does not start: " + error.description() + "; the panel runs without it");
        return;
    }
    feed_ = std::make_unique<web::WebFeed>(
        loop, line, std::filesystem::path(base).filename().string(),
        [server = server_.get()](std::string snapshot) { server->publish(std::move(snapshot)); });

    const bool v6 = settings.address.find(':') != std::string::npos;
    out << "Orvanta: the live line is at " << (settings.certificateFile.empty() ? "http" : "https") << "://"
        << (v6 ? "[" + settings.address + "]" : settings.address) << ":" << server_->port() << "/"
        << (settings.token.empty() ? "" : " (add ?token= and the [Web] Token)") << std::endl;
}

}  // namespace orvanta
