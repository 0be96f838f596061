// The parameter preparation of a full line: 64 enabled foreign machines spread over six groups, all of
// them shown, on the embedded runtime and line display, data traces off. After the first pass nothing
// changes, so each measured call is what every NewLineParameter costs on a quiet line: 64 machines and
// 32 group names asked anew, four arrays read and written whole, no string written.
#include <benchmark/benchmark.h>

#include <memory>
#include <sstream>

#include "adapters/embedded/embedded_line_display.h"
#include "adapters/embedded/embedded_variables.h"
#include "adapters/headless/headless_views.h"
#include "core/clock.h"
#include "core/system_event_loop.h"
#include "linebridge/line_bridge.h"
#include "ports/variable_names.h"

namespace orvanta {
namespace {

LineDescription fullLine() {
    LineDescription line;
    line.languageId = 1036;
    for (int g = 0; g < kLineSlotCount; ++g)
        line.groups[static_cast<std::size_t>(g)] = "Group " + std::to_string(g);
    for (int m = 0; m < kLineMachineCount; ++m) {
        LineMachine& machine = line.machines[static_cast<std::size_t>(m)];
        machine.enabled = true;
        machine.name = "Machine " + std::to_string(m);
        machine.coName = "Co " + std::to_string(m);
        machine.symbol = static_cast<std::int16_t>(m % 12);
        machine.remote = m % 2 == 0;
        machine.foreign = true;
        machine.group = static_cast<std::int16_t>(m % kLineSlotCount);
        machine.groupSlots = {0, 1, 2, 3, 4, 5};
    }
    return line;
}

LanguageTable fewLanguages() {
    LanguageTable table;
    int i = 0;
    for (std::int32_t id : {1031, 1033, 1036, 1040, 1049}) {
        LanguageRecord& entry = table.entries[static_cast<std::size_t>(++i)];
        entry.Language = id;
        entry.CharSet = id == 1049 ? 204 : 0;
        entry.FontName = "Arial";
    }
    table.LanguageCount = static_cast<std::int16_t>(i);
    return table;
}

struct FullLine {
    LogSettings settings;  // no log file, traces off
    SystemClock clock;
    std::ostringstream discarded;
    HeadlessCentralForm form{discarded};
    ProgramLog log{settings, clock, form, "/nonexistent"};
    SystemEventLoop loop;
    EmbeddedVariables runtime{loop, builtinVariables()};
    EmbeddedLineDisplay line{loop, fullLine()};
    LanguageTable languages = fewLanguages();
    LineRecords records;
    JumpFlags jumps;
    LineBridge bridge{records, jumps, languages, runtime, line, log};
};

void BM_LineParameters64(benchmark::State& state) {
    auto full = std::make_unique<FullLine>();
    full->bridge.LinienParaAufbereiten("BrenkoLineOCX_NewLineParameter");
    for (auto _ : state) full->bridge.LinienParaAufbereiten("BrenkoLineOCX_NewLineParameter");

    const Variant shown = full->runtime.ReadVariable(vars::kLiPEnable);
    for (const Variant& element : shown.asArray())
        if (toInteger(element) != 1) state.SkipWithError("a machine is not shown");
    if (toText(full->runtime.ReadVariable(vars::indexed(vars::kLiPMaNameBase, 63))) != "Machine 63")
        state.SkipWithError("the names were not written");
}
BENCHMARK(BM_LineParameters64)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace orvanta
