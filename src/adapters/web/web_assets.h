// The web page's files, built into the program: nothing is ever served from the disk.
#pragma once

#include <string>
#include <string_view>

namespace orvanta::web {

struct Asset {
    std::string_view path;  // as requested, "/live.js"
    std::string_view contentType;
    std::string_view body;
};

// The asset at path, or none.
const Asset* findAsset(std::string_view path);

// The live line page with the snapshot (JSON of web_snapshot.h as the server keeps it, with '<', '>' and
// '&' escaped, so that no text in it can close the element it stands in) inlined, so that the picture is
// drawn from it before the stream begins. An empty one is inlined as null: the page says it has no picture of
// the line yet.
std::string livePage(std::string_view snapshotJson);

}  // namespace orvanta::web
