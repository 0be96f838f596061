// The cyclic pass at full capacity: 1000 definitions in every table of every machine, 64 own machine
// slots, the embedded runtime, data traces off; beside the floor, a bare loop over the same bits and
// priorities with the values in a plain array. No table-1 alarm is active, so every table is scanned, and
// on every machine a warning is shown, so every slot fetches a text.
//
// The growth with the number of definitions runs the same pass on the leading entries of the same 15
// lists (3 tables x 5 machines), spread evenly: real names, bits and priorities in the same order, the
// same warnings shown, only fewer of them. A generated plant would measure a different shape.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include "adapters/access/mdb_database.h"
#include "adapters/embedded/embedded_line_display.h"
#include "adapters/embedded/embedded_variables.h"
#include "adapters/headless/headless_views.h"
#include "adapters/headless/headless_window_system.h"
#include "bench_plant.h"
#include "central/cyclic_pass.h"
#include "core/clock.h"
#include "core/system_event_loop.h"
#include "ports/variable_names.h"
#include "refdata/access_text_database.h"
#include "refdata/alarm_definitions.h"

namespace orvanta {
namespace {

constexpr int kFullDefinitions = 3 * kAlarmMachines * kAlarmCapacity;

// The first `definitions` entries of the full tables, as evenly spread over the 15 lists as the count
// allows. The lists of tables 1 and 2 stay ordered by name, since they are leading parts of ordered lists.
AlarmDefinitions leadingEntries(const AlarmDefinitions& full, int definitions) {
    AlarmDefinitions part;
    const std::pair<const AlarmTable*, AlarmTable*> tables[] = {{&full.AlarmTabelle1, &part.AlarmTabelle1},
                                                                {&full.AlarmTabelle2, &part.AlarmTabelle2},
                                                                {&full.AlarmTabelle3, &part.AlarmTabelle3}};
    constexpr int kLists = 3 * kAlarmMachines;
    int list = 0;
    for (const auto& [from, to] : tables) {
        for (int m = 1; m <= kAlarmMachines; ++m, ++list) {
            const int wanted = definitions / kLists + (list < definitions % kLists ? 1 : 0);
            for (int i = 1; i <= std::min<int>(wanted, from->count(m)); ++i)
                to->at(m, to->append(m)) = from->at(m, i);
        }
    }
    return part;
}

int definitionCount(const AlarmDefinitions& alarms) {
    int total = 0;
    for (const AlarmTable* table : {&alarms.AlarmTabelle1, &alarms.AlarmTabelle2, &alarms.AlarmTabelle3})
        for (int m = 1; m <= kAlarmMachines; ++m) total += table->count(m);
    return total;
}

struct FullCapacity {
    explicit FullCapacity(int definitions = kFullDefinitions) {
        ProgramLog loader(settings, clock, form, plant.base());
        AlarmDefinitions full;
        AlarmDefsEinlesen(full, engine, loader, plant.base(), 5);
        alarms = definitions == kFullDefinitions ? std::move(full) : leadingEntries(full, definitions);

        std::vector<CatalogueEntry> plantVariables;
        std::set<std::string> names;
        for (const AlarmTable* table : {&alarms.AlarmTabelle1, &alarms.AlarmTabelle2, &alarms.AlarmTabelle3})
            for (int m = 1; m <= kAlarmMachines; ++m)
                for (int i = 1; i <= table->count(m); ++i) names.insert(table->at(m, i).VarName);
        for (int m = 1; m <= kAlarmMachines; ++m) names.insert(vars::indexed(vars::kLiStatusPlcBase, m));
        for (const std::string& name : names)
            plantVariables.push_back({name, VariableType::Integer, 0, Variant::integer(0)});
        runtime =
            std::make_unique<EmbeddedVariables>(loop, mergeCatalogues(builtinVariables(), plantVariables));

        // A warning on every machine: the first entry of its table 2.
        for (int m = 1; m <= kAlarmMachines; ++m) {
            const AlarmDef& warning = alarms.AlarmTabelle2.at(m, 1);
            runtime->WriteVariable(warning.VarName,
                                   Variant::integer(static_cast<std::int16_t>(1 << warning.BitNo)));
        }

        LineDescription description;
        for (int slot = 0; slot < kLineMachineCount; ++slot) {
            LineMachine& machine = description.machines[static_cast<std::size_t>(slot)];
            machine.enabled = true;
            machine.number = static_cast<std::int16_t>(slot % kAlarmMachines + 1);
            MachineRecord& record = state.line.machines[static_cast<std::size_t>(slot)];
            record.enabled = kTrue;
            record.number = machine.number;
        }
        line = std::make_unique<EmbeddedLineDisplay>(loop, description);
        state.plant.AnzahlMaschinen = 5;
        state.Sprache = "1031";
        texts.use().Init(plant.base() + "/Program/Pelmar.vws");
        texts.use().Open();
        pass = std::make_unique<CyclicPass>(state, alarms, *runtime, *line, texts, log, timer);
        pass->prepare();
    }

    bench::FullPlant plant;
    MdbDatabaseEngine engine{ORVANTA_MDB_READER};
    LogSettings settings;  // no log file, traces off
    SystemClock clock;
    std::ostringstream discarded;
    HeadlessCentralForm form{discarded};
    ProgramLog log{settings, clock, form, plant.base()};
    SystemEventLoop loop;
    AlarmDefinitions alarms;
    std::unique_ptr<EmbeddedVariables> runtime;
    std::unique_ptr<EmbeddedLineDisplay> line;
    CentralState state;
    TextDatabaseHandle texts{[this] { return std::make_unique<AccessTextDatabase>(engine); }};
    Timer timer{loop, "TimerDaten", 1000, [] {}};
    std::unique_ptr<CyclicPass> pass;
};

void BM_CyclicPassFullCapacity(benchmark::State& state) {
    FullCapacity full;
    for (auto _ : state) full.pass->TimerDaten_Timer();
    if (full.line->slotDisplay(0).status != 2) state.SkipWithError("the warnings were not shown");
}
BENCHMARK(BM_CyclicPassFullCapacity)->Unit(benchmark::kMicrosecond);

// The pass over 100, 1000 and 15 000 definitions in all: how its time grows with a plant's size.
void BM_CyclicPassDefinitions(benchmark::State& state) {
    const auto definitions = static_cast<int>(state.range(0));
    FullCapacity plant(definitions);
    if (definitionCount(plant.alarms) != definitions) {
        state.SkipWithError("the fixture holds fewer definitions than asked for");
        return;
    }
    for (auto _ : state) plant.pass->TimerDaten_Timer();
    if (plant.line->slotDisplay(0).status != 2) state.SkipWithError("the warnings were not shown");
    state.counters["definitions"] = definitions;
}
BENCHMARK(BM_CyclicPassDefinitions)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(kFullDefinitions)
    ->Unit(benchmark::kMicrosecond);

// The same 15 000 bit tests and priority comparisons, on values in a plain array.
void BM_CyclicPassFloor(benchmark::State& state) {
    FullCapacity full;
    struct Entry {
        std::uint32_t variable;
        std::int16_t bitNo;
        std::int16_t priority;
    };
    std::vector<std::vector<Entry>> lists;
    std::map<std::string, std::uint32_t> ids;
    std::vector<std::int16_t> values;
    for (const AlarmTable* table :
         {&full.alarms.AlarmTabelle1, &full.alarms.AlarmTabelle2, &full.alarms.AlarmTabelle3}) {
        for (int m = 1; m <= kAlarmMachines; ++m) {
            std::vector<Entry>& list = lists.emplace_back();
            for (int i = 1; i <= table->count(m); ++i) {
                const AlarmDef& entry = table->at(m, i);
                const auto [id, added] =
                    ids.emplace(entry.VarName, static_cast<std::uint32_t>(values.size()));
                if (added) values.push_back(toInteger(full.runtime->ReadVariable(entry.VarName)));
                list.push_back({id->second, entry.BitNo, entry.Priority});
            }
        }
    }
    for (auto _ : state) {
        int chosen = 0;
        for (const std::vector<Entry>& list : lists) {
            std::int16_t best = 0;
            for (std::size_t i = 0; i < list.size(); ++i) {
                const Entry& entry = list[i];
                const auto value = static_cast<std::uint16_t>(values[entry.variable]);
                if (entry.bitNo >= 0 && entry.bitNo <= 15 && ((value >> entry.bitNo) & 1u) != 0 &&
                    entry.priority > best) {
                    best = entry.priority;
                    chosen += static_cast<int>(i);
                }
            }
        }
        benchmark::DoNotOptimize(chosen);
    }
}
BENCHMARK(BM_CyclicPassFloor)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace orvanta
