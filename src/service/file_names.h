// Plants move their folders over from Windows, where file names are compared without regard to case, and
// their settings and databases keep the spelling of that world ("parameter/program.INI"). Readers of such
// files look the name up through this helper before they give up on it.
#pragma once

#include <string>

namespace orvanta {

// The path to open for `path`: `path` itself when it exists; otherwise the path found by matching each
// missing element against its folder's entries without regard to ASCII case. From the first element that
// matches nothing on, the elements keep their spelling, so a file still to be made lands in the folders
// that exist. Never throws.
std::string findFileIgnoringCase(const std::string& path);

}  // namespace orvanta
