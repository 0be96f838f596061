// The line description and the line values as a line source sends them over the broker: hostile JSON.
// Errors are VbErrors; and a description that parses must come back unchanged through the JSON the
// panel publishes it as, since another panel reads exactly that.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "adapters/embedded/line_description_file.h"
#include "core/vb_error.h"
#include "fuzz_support.h"

namespace {

[[noreturn]] void finding(const char* what) { orvanta::fuzz::finding("fuzz_line_description", what); }

bool sameMachine(const orvanta::LineMachine& a, const orvanta::LineMachine& b) {
    return a.enabled == b.enabled && a.name == b.name && a.coName == b.coName && a.number == b.number &&
           a.remote == b.remote && a.textFlag == b.textFlag && a.symbol == b.symbol &&
           a.foreign == b.foreign && a.group == b.group && a.groupSlots == b.groupSlots &&
           a.languageId == b.languageId && a.status == b.status && a.message == b.message;
}

bool sameDescription(const orvanta::LineDescription& a, const orvanta::LineDescription& b) {
    if (a.languageId != b.languageId || a.groups != b.groups) return false;
    for (std::size_t m = 0; m < a.machines.size(); ++m)
        if (!sameMachine(a.machines[m], b.machines[m])) return false;
    return true;
}

bool sameValues(const orvanta::LineValues& a, const orvanta::LineValues& b) {
    for (std::size_t m = 0; m < a.size(); ++m)
        if (a[m].languageId != b[m].languageId || a[m].status != b[m].status || a[m].message != b[m].message)
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view json(reinterpret_cast<const char*>(data), size);
    const std::string origin = "fuzz.json";

    try {
        const orvanta::LineDescription description = orvanta::parseLineDescription(json, origin);
        const std::string written = orvanta::lineDescriptionJson(description);
        orvanta::LineDescription back;
        try {
            back = orvanta::parseLineDescription(written, "written");
        } catch (const orvanta::VbError& error) {
            std::fprintf(stderr, "%s\n%s\n", error.what(), written.c_str());
            finding("the written description does not parse");
        }
        if (!sameDescription(description, back)) finding("the description changed on its way through JSON");
        if (orvanta::lineDescriptionJson(back) != written) finding("the written description is not stable");
    } catch (const orvanta::VbError&) {
    }

    try {
        const orvanta::LineValues values = orvanta::parseLineValues(json, origin);
        const std::string written = orvanta::lineValuesJson(values);
        orvanta::LineValues back;
        try {
            back = orvanta::parseLineValues(written, "written");
        } catch (const orvanta::VbError& error) {
            std::fprintf(stderr, "%s\n%s\n", error.what(), written.c_str());
            finding("the written values do not parse");
        }
        if (!sameValues(values, back)) finding("the values changed on their way through JSON");
    } catch (const orvanta::VbError&) {
    }
    return 0;
}
