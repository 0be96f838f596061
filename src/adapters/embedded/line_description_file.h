// The line description file: what the embedded line-display component knows about the line when no
// outside line source describes it. A plant keeps it as Program/Orvanta/Line.json below its base folder.
//
// Format (UTF-8 JSON; every field is optional and defaults as shown in the first machine):
//
//   {
//     "languageId": 1031,                          display language identifier (32-bit)
//     "groups": ["Filling", "Labelling", ...],     group names; index = group number 0..31, at most 32,
//                                                  the groups not listed have an empty name
//     "machines": [                                index = machine 0..63, at most 64; machines not listed
//                                                  are not enabled and keep these defaults
//       {"enabled": false,                         machine slot in use
//        "name": "", "coName": "",
//        "number": 0,                              own machine 1..5 this slot stands for
//        "remote": false, "textFlag": false,
//        "symbol": 0,
//        "foreign": false,                         a machine of another line; its values come from the
//                                                  line source, these three are only the start values:
//        "languageId": 0, "status": 0, "message": "",
//        "group": -1,                              group number, negative = none
//        "groupSlots": [-1, -1, -1, -1, -1, -1]},  the groups shown in display slots 1..6; exactly six
//       ...
//     ]
//   }
//
// The reader is strict, because a typing mistake in a hand-edited file should be found when the panel
// starts, not guessed around while the line runs: an unknown field name, a value of the wrong JSON type
// (true/false for flags, text for names, whole numbers for numbers), a number outside its 16-bit range
// (32-bit for the language identifiers), more than 64 machines, more than 32 groups or a groupSlots list
// that is not six long are errors. A number with a fraction is wrong, 3.0 is 3. Errors are VbErrors whose
// description names the file, the machine index and the field:
//   13 type mismatch (also: not JSON at all)   6 overflow (a number out of range)
//   9 too many machines or groups, or groupSlots not six long
//   438 unknown field name                      53 the file does not exist
//   75 the file cannot be read                  7 the file is larger than any line description can be
#pragma once

#include <string>
#include <string_view>

#include "ports/line_source.h"
#include "service/plant_files.h"  // kLineDescriptionFile, where a plant keeps it

namespace orvanta {

// Parses a description; origin names where the text came from in error descriptions (a file's path).
LineDescription parseLineDescription(std::string_view json, const std::string& origin);

// Reads and parses the file at path.
LineDescription loadLineDescription(const std::string& path);

// The same description as JSON in the file's format, every field written out: what a line source
// publishes for the panel.
std::string lineDescriptionJson(const LineDescription& description);

// The live values of the line's machines as a line source sends them:
//   {"machines": [{"languageId": 1031, "status": 2, "message": "..."}, ...]}
// at most 64 machines, every field optional (0, 0, ""); the machines not listed have those values.
// As strict as the description, with the same errors.
LineValues parseLineValues(std::string_view json, const std::string& origin);
std::string lineValuesJson(const LineValues& values);

// What the panel shows in every machine slot, for displays elsewhere: a list of 64
//   {"text": "...", "language": 1031, "status": 2}
// Text that is not UTF-8 has its bad bytes replaced, so that the display still gets the rest.
std::string lineDisplayJson(const LineDisplayState& display);

}  // namespace orvanta
