#include "adapters/web/web_assets.h"

#include <array>

namespace orvanta::web {
namespace {

// A first page only: the drawn picture replaces it.
constexpr std::string_view kLivePage = R"(<!doctype html>
<html><head><meta charset="utf-8"><title>Orvanta</title></head>
<body><script id="snapshot" type="application/json">@SNAPSHOT@</script></body></html>
)";

constexpr std::array<Asset, 0> kAssets{};

}  // namespace

const Asset* findAsset(std::string_view path) {
    for (const Asset& asset : kAssets)
        if (asset.path == path) return &asset;
    return nullptr;
}

std::string livePage(std::string_view snapshotJson) {
    constexpr std::string_view kMarker = "@SNAPSHOT@";
    std::string page(kLivePage);
    page.replace(page.find(kMarker), kMarker.size(), snapshotJson);
    return page;
}

}  // namespace orvanta::web
