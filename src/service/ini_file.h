// Lookup of one entry in an INI file, the way the Windows private-profile reader finds it, so that the
// settings files of existing plants read the same here as on the panels they come from.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orvanta {

// The value of `entry` in `section` of the INI file `file`, or nothing when the file, the section or the
// entry is missing or the file cannot be read. The file is read afresh on every call.
//
// The file is UTF-8 text (a leading byte order mark is skipped) with lines ended by LF, CR LF or CR.
// A section starts with a line "[Name]"; entries are lines "name=value". Section and entry names are
// compared without regard to ASCII case, blanks and tabs around names and values are removed, and a value
// enclosed in a matching pair of double or single quotes loses them. Lines that begin with ';' and lines
// without '=' are ignored, as are entries above the first section. Of several sections or entries with
// the same name only the first counts. Only the first 64 KiB of a line are looked at.
//
// Where the exact path does not exist, it is looked up without regard to case (see file_names.h).
// Anything that is not a regular file (a folder, a pipe, a device) counts as missing. Never throws
// anything but std::bad_alloc.
std::optional<std::string> findIniValue(const std::string& file, std::string_view section,
                                        std::string_view entry);

// The first `maxCharacters` characters of the UTF-8 text `text`; a multi-byte character is never split.
// Bytes that do not form a valid UTF-8 sequence count as one character each.
std::string cutToCharacters(std::string_view text, std::size_t maxCharacters);

}  // namespace orvanta
