#include "app/refdata_dump.h"

#include <nlohmann/json.hpp>
#include <ostream>

#include "adapters/headless/headless_views.h"
#include "core/clock.h"
#include "refdata/alarm_definitions.h"
#include "refdata/languages.h"
#include "service/ini_access.h"
#include "service/plant_files.h"
#include "service/program_log.h"

namespace orvanta {
namespace {

using Json = nlohmann::ordered_json;

// A flat object on one line, spaced as a person would write it: {"Ident": 1, "Type": 2, ...}.
std::string compact(const Json& object) {
    std::string text = "{";
    for (const auto& [key, value] : object.items()) {
        if (text.size() > 1) text += ", ";
        text += Json(key).dump() + ": " + value.dump(-1, ' ', false, Json::error_handler_t::replace);
    }
    return text + "}";
}

Json entryJson(const AlarmDef& entry) {
    return Json{{"Ident", entry.Ident},
                {"Type", entry.Type},
                {"VarName", entry.VarName},
                {"BitNo", entry.BitNo},
                {"Priority", entry.Priority},
                {"AlarmText", entry.AlarmText},
                {"AnzeigeStatus", entry.AnzeigeStatus},
                {"Fault", entry.Fault},
                {"Sensor1", entry.Sensor1},
                {"Sensor2", entry.Sensor2}};
}

Json languageJson(const LanguageRecord& language) {
    return Json{{"Language", language.Language}, {"Name", language.Name},
                {"CodePage", language.CodePage}, {"KBLayout", language.KBLayout},
                {"CharSet", language.CharSet},   {"FontName", language.FontName}};
}

void writeAlarmTables(const AlarmDefinitions& tables, std::ostream& out) {
    const AlarmTable* numbered[] = {&tables.AlarmTabelle1, &tables.AlarmTabelle2, &tables.AlarmTabelle3};
    out << " \"alarmTables\": [";
    const char* tableSeparator = "\n";
    for (int number = 1; number <= 3; ++number) {
        const AlarmTable& table = *numbered[number - 1];
        for (int machine = 1; machine <= kAlarmMachines; ++machine) {
            out << tableSeparator << "  {\"table\": " << number << ", \"machine\": " << machine
                << ", \"entries\": [";
            const char* entrySeparator = "\n";
            for (int position = 1; position <= table.count(machine); ++position) {
                out << entrySeparator << "   " << compact(entryJson(table.at(machine, position)));
                entrySeparator = ",\n";
            }
            out << "]}";
            tableSeparator = ",\n";
        }
    }
    out << "],\n";
}

}  // namespace

int dumpRefdata(const std::string& base, DatabaseEngine& engine, std::ostream& out, std::ostream& err) {
    HeadlessMessageBoxes messages(err);
    IniAccess ini(messages);
    std::int16_t machines =
        ini.LoadIniInteger("Project", "NumberOfMachines", plantFile(base, kProgramIniFile), 0);
    if (machines < 1 || machines > kAlarmMachines) machines = 1;

    // No log file: what the readers would show in the fault label goes to standard error.
    LogSettings settings;
    HeadlessCentralForm faultLabel(err);
    SystemClock clock;
    ProgramLog log(settings, clock, faultLabel, base);

    AlarmDefinitions alarms;
    AlarmDefsEinlesen(alarms, engine, log, base, machines);
    LanguageTable languages;
    LanguageEinlesen(languages, engine, log, base);

    out << "{\"numberOfMachines\": " << machines << ",\n";
    writeAlarmTables(alarms, out);
    out << " \"languages\": [";
    const char* separator = "\n";
    for (int i = 1; i <= languages.LanguageCount; ++i) {
        out << separator << "  " << compact(languageJson(languages.at(i)));
        separator = ",\n";
    }
    out << "]}\n";
    out.flush();
    return 0;
}

}  // namespace orvanta
