// The plant's own process variables for the embedded runtime: Program/Orvanta/Variables.json below the
// plant folder. The panel's interface variables are built in; this file adds the variables the plant's
// alarm definitions and machine status words name.
//
//   {"variables": [
//       {"name": "Ch1.T_zyk_m1<.faults0>", "type": "integer", "value": 0},
//       {"name": "Ch1.T_zyk_linie<.li_statusplc01>", "type": "integer"},
//       {"name": "Ch1.T_zyk_m1<.kennung>", "type": "string", "value": "Filler"},
//       {"name": "Ch1.T_zyk_m1<.words>", "type": "integer[]", "count": 64, "value": [1, 2, ...]}
//   ]}
//
//   name     required, a non-empty text without control characters, unique in the file (names are
//            compared exactly, case included)
//   type     required: "integer" (16-bit), "long" (32-bit), "double", "boolean", "string", or "integer[]"
//            (an array of 16-bit integers)
//   count    required for "integer[]" and only there: the number of elements, 1 to 4096. All entries
//            together hold at most kMaxCatalogueElements elements (a variable counts 1, an array its
//            count), so that a small file cannot cost gigabytes.
//   value    optional initial value (default 0, 0.0, false, "" or all elements 0). It is converted to the
//            type by the same rules as a write: 2.5 becomes 2 for an integer, "12" is 12, 70000 does not
//            fit an integer and "abc" is no number. For "integer[]" it is an array of exactly count
//            numbers.
//   comment  optional, ignored, at the top and in an entry; any other key is an error, so that a
//            misspelt "value" does not silently leave a variable at 0.
//
// A built-in variable may be listed again with its built-in type to give it an initial value; with
// another type it is an error.
//
// Every problem is a VbError whose description names the file and, for an entry, its number (counted
// from 1) and its name: 53 for a missing file, 75 for one that cannot be read, 321 (invalid file format)
// for text that is not JSON or has the wrong shape, and the conversion's number (6, 13, 94) for a value
// that does not fit its type. The parse is bounded in nesting depth, file size (4 MiB) and elements, so no
// input crashes it or takes more than a few tens of megabytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ports/variable_catalogue.h"

namespace orvanta {

inline constexpr std::int32_t kInvalidFileFormat = 321;
inline constexpr std::int64_t kMaxCatalogueElements = 65536;

std::vector<CatalogueEntry> loadCatalogueFile(const std::string& path);

// The same from text already in memory; origin names the text in messages.
std::vector<CatalogueEntry> parseCatalogue(std::string_view text, const std::string& origin);

}  // namespace orvanta
