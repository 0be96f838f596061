// A value preparation for a line of 64 enabled foreign machines in six groups, on the embedded runtime
// and the embedded line display, traces off. The values change between passes, as on a running line.
#include <benchmark/benchmark.h>

#include <sstream>

#include "adapters/embedded/embedded_line_display.h"
#include "adapters/embedded/embedded_variables.h"
#include "adapters/headless/headless_views.h"
#include "core/clock.h"
#include "core/system_event_loop.h"
#include "linebridge/line_bridge.h"

namespace orvanta {
namespace {

void BM_LineValues64(benchmark::State& state) {
    SystemEventLoop loop;
    EmbeddedVariables runtime(loop, builtinVariables());
    LineDescription description;
    LineRecords records;
    for (int m = 0; m < kLineMachineCount; ++m) {
        LineMachine& machine = description.machines[static_cast<std::size_t>(m)];
        machine.enabled = true;
        machine.foreign = true;
        machine.group = static_cast<std::int16_t>(m % 6);
        machine.languageId = m % 2 == 0 ? 1031 : 1049;
        MachineRecord& record = records.machines[static_cast<std::size_t>(m)];
        record.enabled = kTrue;
        record.foreign = kTrue;
        record.group = machine.group;
    }
    for (int slot = 1; slot <= kLineSlotCount; ++slot) {
        records.groups[static_cast<std::size_t>(slot)].number = static_cast<std::int16_t>(slot - 1);
        records.groups[static_cast<std::size_t>(slot)].valid = kTrue;
    }
    records.LineConnected = kTrue;
    EmbeddedLineDisplay line(loop, description);
    LanguageTable languages;
    for (std::int32_t identifier : {1031, 1033, 1036, 1049}) {
        LanguageRecord& entry = languages.entries[static_cast<std::size_t>(++languages.LanguageCount)];
        entry.Language = identifier;
        entry.CharSet = identifier == 1049 ? 204 : 0;
        entry.FontName = "Arial";
    }
    LogSettings settings;
    SystemClock clock;
    std::ostringstream discarded;
    HeadlessCentralForm form(discarded);
    ProgramLog log(settings, clock, form, "/tmp");
    JumpFlags jumps{kTrue, kTrue, 0};
    LineBridge bridge(records, jumps, languages, runtime, line, log);

    LineValues values;
    std::int16_t tick = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ++tick;
        for (int m = 0; m < kLineMachineCount; ++m) {
            MachineValues& machine = values[static_cast<std::size_t>(m)];
            machine.languageId = description.machines[static_cast<std::size_t>(m)].languageId;
            machine.status = static_cast<std::int16_t>((m + tick) % 7);
            machine.message = m % 8 == tick % 8 ? "Changed " + std::to_string(tick) : "Running";
        }
        line.lineValues(values);
        state.ResumeTiming();
        bridge.LinienWerteAufbereiten("BM_LineValues64");
    }
}
BENCHMARK(BM_LineValues64)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace orvanta
