// Every file of a plant lies below its base folder: the program's own folder with its last two path
// elements removed (a program in /opt/line/Program/Orvanta gets /opt/line).
#pragma once

#include <string>

namespace orvanta {

// The program folder with its last two path elements removed. A folder that lies fewer than two folders
// below the root has no base folder: VbError 5 naming it.
std::string baseFolderOf(const std::string& programFolder);

}  // namespace orvanta
