// The page as the program serves it: built into the program, and within what the server's
// Content-Security-Policy (default-src 'self') lets a browser run.
#include "adapters/web/web_assets.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace orvanta::web {
namespace {

TEST(WebAssets, ThePageTakesTheSnapshotWhereOnlyTheScriptReadsItAndLoadsNothingInline) {
    const std::string json = R"({"seq":7,"line":"A \u003cb\u003e"})";
    const std::string page = livePage(json);
    // Once, in the one element the script reads, which the browser does not run.
    const std::string element = R"(<script id="snapshot" type="application/json">)" + json + "</script>";
    ASSERT_NE(page.find(element), std::string::npos) << page;
    EXPECT_EQ(page.find(json), page.rfind(json));
    EXPECT_EQ(page.find("@SNAPSHOT@"), std::string::npos);
    // Nothing yet: the page draws "null" as "no picture yet", never a script error.
    EXPECT_NE(livePage("").find(R"(type="application/json">null</script>)"), std::string::npos);

    // Every other script and style is a file of the program's: inline ones the policy would block.
    std::smatch found;
    std::string rest = page;
    int scripts = 0;
    while (std::regex_search(rest, found, std::regex(R"(<script([^>]*)>([^<]*)</script>)"))) {
        const std::string attributes = found[1];
        if (attributes.find("application/json") == std::string::npos) {
            EXPECT_TRUE(found[2].str().empty()) << "an inline script: " << found[0];
            std::smatch source;
            ASSERT_TRUE(std::regex_search(attributes, source, std::regex(R"(src="([^"]+)\")")));
            EXPECT_NE(findAsset(source[1].str()), nullptr) << source[1];
            ++scripts;
        }
        rest = found.suffix();
    }
    EXPECT_EQ(scripts, 1);
    EXPECT_EQ(page.find("<style"), std::string::npos);
    EXPECT_EQ(page.find(" style="), std::string::npos);
    EXPECT_FALSE(std::regex_search(page, std::regex(R"(\son[a-z]+=)"))) << "an inline handler";
    EXPECT_NE(page.find(R"(<link rel="stylesheet" href="/live.css">)"), std::string::npos);
}

TEST(WebAssets, FilesAreFoundByTheirPathWithTheirTypeAndNothingElseIs) {
    for (const auto& [path, type, starts] :
         {std::tuple{"/live.js", "text/javascript; charset=utf-8", "// The live line page"},
          std::tuple{"/live.css", "text/css; charset=utf-8", "/* The live line page"}}) {
        const Asset* asset = findAsset(path);
        ASSERT_NE(asset, nullptr) << path;
        EXPECT_EQ(asset->path, path);
        EXPECT_EQ(asset->contentType, type);
        EXPECT_TRUE(asset->body.starts_with(starts)) << path;
        // The whole file, to its last line.
        EXPECT_TRUE(asset->body.ends_with("\n")) << path;
        EXPECT_GT(asset->body.size(), 2000u) << path;
    }
    for (const char* path :
         {"/", "", "/live.html", "live.js", "/live.js/", "/LIVE.JS", "/../live.js", "/live.j"})
        EXPECT_EQ(findAsset(path), nullptr) << path;
}

}  // namespace
}  // namespace orvanta::web
