#include "service/base_folder.h"

#include "core/vb_error.h"

namespace orvanta {

std::string baseFolderOf(const std::string& programFolder) {
    std::string folder = programFolder;
    while (!folder.empty() && folder.back() == '/') folder.pop_back();
    const auto last = folder.rfind('/');
    const auto secondLast =
        last == std::string::npos || last == 0 ? std::string::npos : folder.rfind('/', last - 1);
    if (secondLast == std::string::npos || secondLast == 0)
        throw VbError(kInvalidCall,
                      "The program folder '" + programFolder +
                          "' lies fewer than two folders below the root, so it has no base folder; "
                          "install the program as BASE/Program/Orvanta or name the base with --base",
                      "Orvanta");
    return folder.substr(0, secondLast);
}

}  // namespace orvanta
