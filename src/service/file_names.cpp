// Walks the path element by element and only lists a folder where the exact spelling is missing, so a
// path that exists costs a single status query. Where a folder holds several names that differ only in
// case, the smallest one in byte order is taken, so the choice does not depend on the directory order.
#include "service/file_names.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "core/text.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;

bool isPresent(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

std::optional<std::string> matchInFolder(const fs::path& folder, const std::string& name) {
    std::error_code error;
    fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, error);
    if (error) return std::nullopt;
    std::optional<std::string> best;
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error) return std::nullopt;
        std::string candidate = it->path().filename().string();
        if (equalsIgnoringAsciiCase(candidate, name)) best = best ? std::min(*best, candidate) : candidate;
    }
    if (error) return std::nullopt;
    return best;
}

}  // namespace

std::string findFileIgnoringCase(const std::string& path) {
    try {
        const fs::path original(path);
        if (path.empty() || isPresent(original)) return path;

        fs::path current = original.root_path();
        for (const fs::path& element : original.relative_path()) {
            const std::string name = element.string();
            if (name.empty()) continue;
            if (name == "." || name == ".." || isPresent(current / element)) {
                current /= element;
                continue;
            }
            const std::optional<std::string> match = matchInFolder(current, name);
            current /= match ? *match : name;
        }
        return current.string();
    } catch (...) {
        return path;
    }
}

}  // namespace orvanta
