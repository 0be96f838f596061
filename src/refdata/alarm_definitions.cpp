// Loading follows the project database row by row, statement by statement: a cell that cannot be
// converted costs only its own field, and a machine number or flags that cannot be read fall back to the
// previous row's, as the panel has always done. Three things are stricter than before, because they cost
// plants alarms without a word: rows beyond a machine's capacity are counted and reported, and a database
// or table that cannot be opened is reported with the file and the reason.
#include "refdata/alarm_definitions.h"

#include <algorithm>
#include <map>
#include <utility>

#include "core/vb_error.h"
#include "service/handler_frame.h"
#include "service/plant_files.h"

namespace orvanta {
namespace {

constexpr const char* kProcedure = "AlarmDefsEinlesen";

// "Type" = value, as the original compared the cell: Null never matches.
bool typeIs(const Variant& type, int value) { return !type.isNull() && toDouble(type) == value; }

// Rows that did not fit, by table and machine, in that order.
using Dropped = std::map<std::pair<int, int>, int>;

class AlarmLoader {
public:
    AlarmLoader(AlarmDefinitions& tables, HandlerFrame& frame) : tables_(tables), frame_(frame) {}

    void row(const Recordset& rs) {
        Variant type;
        frame_.step([&] { type = rs.FieldValue("Type"); });
        if (frame_.condition([&] { return typeIs(type, 2); })) {
            frame_.step([&] { machine_ = toInteger(rs.FieldValue("Sensor2")); });
            if (inRange()) store(1, rs, 4);
        } else if (frame_.condition([&] { return typeIs(type, 8) || typeIs(type, 18); })) {
            frame_.step([&] { machine_ = toInteger(rs.FieldValue("Sensor2")); });
            if (inRange()) {
                frame_.step([&] { flags_ = toLong(rs.FieldValue("Sensor1")); });
                if ((flags_ & 14) != 0) {
                    const std::int16_t status = (flags_ & 2) == 2 ? 2 : (flags_ & 8) == 8 ? 6 : 3;
                    store(2, rs, status);
                }
                if (frame_.condition([&] { return typeIs(type, 8); })) store(3, rs, 0);
            }
        }
    }

    const Dropped& dropped() const { return dropped_; }

private:
    bool inRange() const { return machine_ >= 1 && machine_ <= kAlarmMachines; }

    AlarmTable& table(int number) {
        return number == 1   ? tables_.AlarmTabelle1
               : number == 2 ? tables_.AlarmTabelle2
                             : tables_.AlarmTabelle3;
    }

    void store(int tableNumber, const Recordset& rs, std::int16_t anzeigeStatus) {
        const int position = table(tableNumber).append(machine_);
        if (position == 0) {
            ++dropped_[{tableNumber, machine_}];
            return;
        }
        AlarmDef& entry = table(tableNumber).at(machine_, position);
        frame_.step([&] { entry.Ident = toInteger(rs.FieldValue("Ident")); });
        frame_.step([&] { entry.Type = toInteger(rs.FieldValue("Type")); });
        frame_.step([&] { entry.VarName = toText(rs.FieldValue("VarName")); });
        frame_.step([&] { entry.BitNo = toInteger(rs.FieldValue("BitNo")); });
        frame_.step([&] { entry.Priority = toInteger(rs.FieldValue("Priority")); });
        frame_.step([&] { entry.AlarmText = toText(rs.FieldValue("AlarmText")); });
        frame_.step([&] { entry.Fault = toInteger(rs.FieldValue("Fault")); });
        frame_.step([&] { entry.Sensor1 = toInteger(rs.FieldValue("Sensor1")); });
        frame_.step([&] { entry.Sensor2 = toInteger(rs.FieldValue("Sensor2")); });
        entry.AnzeigeStatus = anzeigeStatus;
    }

    AlarmDefinitions& tables_;
    HandlerFrame& frame_;
    std::int16_t machine_ = 0;  // kept from row to row: a Sensor2 that cannot be read means the previous
    std::int32_t flags_ = 0;    // row's machine, a Sensor1 the previous row's flags
    Dropped dropped_;
};

void reportDropped(HandlerFrame& frame, const Dropped& dropped) {
    for (const auto& [where, count] : dropped) {
        frame.trace(std::string(kProcedure) + " AlarmTabelle" + std::to_string(where.first) + " machine " +
                    std::to_string(where.second) + ": " + std::to_string(count) +
                    " rows beyond the capacity of " + std::to_string(kAlarmCapacity) + " dropped");
    }
}

}  // namespace

AlarmTable::AlarmTable() : entries_(static_cast<std::size_t>(kAlarmMachines) * kPositions) {}

void AlarmTable::checkMachine(int machine) {
    if (machine < 1 || machine > kAlarmMachines)
        throw VbError(kSubscriptOutOfRange, "Machine " + std::to_string(machine) + " is outside 1..5",
                      "Orvanta");
}

const AlarmDef& AlarmTable::at(int machine, int position) const {
    checkMachine(machine);
    if (position < 0 || position > kAlarmCapacity)
        throw VbError(kSubscriptOutOfRange,
                      "Alarm position " + std::to_string(position) + " is outside 0..1000", "Orvanta");
    return entries_[static_cast<std::size_t>((machine - 1) * kPositions + position)];
}

AlarmDef& AlarmTable::at(int machine, int position) {
    return const_cast<AlarmDef&>(static_cast<const AlarmTable&>(*this).at(machine, position));
}

std::int16_t AlarmTable::count(int machine) const {
    checkMachine(machine);
    return counts_[static_cast<std::size_t>(machine - 1)];
}

int AlarmTable::append(int machine) {
    checkMachine(machine);
    std::int16_t& count = counts_[static_cast<std::size_t>(machine - 1)];
    if (count >= kAlarmCapacity) return 0;
    return ++count;
}

void AlarmTable::sortByVarName(int machine) {
    const auto first = entries_.begin() + (machine - 1) * kPositions + 1;
    std::stable_sort(first, first + count(machine),
                     [](const AlarmDef& a, const AlarmDef& b) { return a.VarName < b.VarName; });
}

void AlarmDefsEinlesen(AlarmDefinitions& tables, DatabaseEngine& engine, ProgramLog& log,
                       const std::string& BasisVerzeichnis, std::int16_t AnzahlMaschinen) {
    HandlerFrame frame(log, kProcedure, Trace::System, {.faultLines = false});
    AlarmLoader loader(tables, frame);
    const std::string path = plantFile(BasisVerzeichnis, kProjectFile);
    try {
        const std::unique_ptr<Database> database = engine.OpenDatabase(path);
        {
            const std::unique_ptr<Recordset> rs =
                database->OpenRecordset("SELECT Alarmdefs.* FROM Alarmdefs");
            while (!rs->isEof()) {
                loader.row(*rs);
                rs->MoveNext();
            }
        }
        frame.step([&] { database->Close(); });
    } catch (...) {
        // Without its definitions the panel shows no alarms at all: that must not go unnoticed.
        frame.report(VbError::current("Database"));
    }
    reportDropped(frame, loader.dropped());
    for (int machine = 1; machine <= std::min<int>(AnzahlMaschinen, kAlarmMachines); ++machine) {
        tables.AlarmTabelle1.sortByVarName(machine);
        tables.AlarmTabelle2.sortByVarName(machine);
    }
}

}  // namespace orvanta
