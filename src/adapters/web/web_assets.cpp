#include "adapters/web/web_assets.h"

#include <array>
#include <cstddef>

#include "web/web_asset_files.h"  // made at build time from assets/

namespace orvanta::web {
namespace {

// Where the page's HTML takes the snapshot. It stands inside a script element of type application/json,
// which the browser never runs: the JSON cannot close it, as it holds no '<'.
constexpr std::string_view kSnapshotMarker = "@SNAPSHOT@";

constexpr std::string_view typeOf(std::string_view name) {
    if (name.ends_with(".js")) return "text/javascript; charset=utf-8";
    if (name.ends_with(".css")) return "text/css; charset=utf-8";
    if (name.ends_with(".html")) return "text/html; charset=utf-8";
    if (name.ends_with(".svg")) return "image/svg+xml";
    if (name.ends_with(".png")) return "image/png";
    return "application/octet-stream";
}

constexpr std::size_t kFileCount = std::size(files::kEmbeddedFiles);

// Served by their path, "/live.js". The page's HTML is not one of them: it is the page at "/", with the
// snapshot in it. Made in place, never copied: an asset's path views the string beside it.
struct Table {
    std::array<std::string, kFileCount> paths;
    std::array<Asset, kFileCount> assets;
    std::size_t count = 0;
    std::string_view page;

    Table() {
        for (const files::EmbeddedFile& file : files::kEmbeddedFiles) {
            if (file.name == "live.html") {
                page = file.body;
                continue;
            }
            paths[count] = "/" + std::string(file.name);
            assets[count] = Asset{paths[count], typeOf(file.name), file.body};
            ++count;
        }
    }
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;
};

const Table& table() {
    static const Table built;
    return built;
}

}  // namespace

const Asset* findAsset(std::string_view path) {
    const Table& t = table();
    for (std::size_t i = 0; i < t.count; ++i)
        if (t.assets[i].path == path) return &t.assets[i];
    return nullptr;
}

std::string livePage(std::string_view snapshotJson) {
    std::string page(table().page);
    if (const std::size_t at = page.find(kSnapshotMarker); at != std::string::npos)
        page.replace(at, kSnapshotMarker.size(),
                     snapshotJson.empty() ? std::string_view("null") : snapshotJson);
    return page;
}

}  // namespace orvanta::web
