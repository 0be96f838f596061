#include "demo/demo_simulator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <iterator>
#include <limits>
#include <utility>

#include "core/vb_error.h"
#include "ports/variable_names.h"

namespace orvanta {
namespace {

const char* const kSource = "DemoSimulator";

// What a foreign machine may report: each status code with what such a machine says along with it.
struct ForeignState {
    std::int16_t status;
    const char* message;
};

constexpr std::int16_t kRunning = 1;

constexpr std::array<ForeignState, 12> kForeignStates{{
    {0, "Switched off"},
    {0, "Stopped by operator"},
    {1, "Running"},
    {2, "Film low"},
    {2, "Glue level low"},
    {3, "Waiting for bottles"},
    {3, "Outfeed backed up"},
    {4, "Emergency stop"},
    {4, "Bottle jam at infeed"},
    {5, "No connection"},
    {6, "Maintenance interval reached"},
    {6, "Cleaning cycle due"},
}};

// The alarm types whose definitions name an alarm bit of a machine.
bool isAlarmType(std::int16_t type) { return type == 2 || type == 8 || type == 18; }

std::uint16_t mask(std::int16_t bit) { return static_cast<std::uint16_t>(1u << bit); }

}  // namespace

template <typename Body>
void DemoSimulator::guarded(const char* what, Body&& body) {
    try {
        body();
    } catch (...) {
        report(std::string("Demo simulator: ") + what +
               " failed: " + VbError::current(kSource).description());
    }
}

DemoSimulator::DemoSimulator(EventLoop& loop, ProcessVariables& variables, const LineDescription& line,
                             const AlarmDefinitions& alarms, std::vector<std::int32_t> languages,
                             std::uint32_t seed, double rate, ErrorReporter reportError)
    : loop_(loop),
      variables_(variables),
      random_(seed),
      rate_(rate),
      reportError_(std::move(reportError)),
      alarmBits_(kAlarmMachines + 1),
      heartbeat_(loop, "DemoHeartbeat", kHeartbeatMs,
                 [this] { guarded("heartbeat", [&] { heartbeatTick(); }); }),
      echo_(loop, "DemoEcho", kEchoDelayMs, [this] { guarded("alarm echo", [&] { echoTick(); }); }),
      online_(loop, "DemoOnline", kOnlineDelayMs, [this] { guarded("going online", [&] { onlineTick(); }); }),
      language_(loop, "DemoLanguage", kLanguageMinMs,
                [this] { guarded("language change", [&] { languageTick(); }); }),
      newAlarm_(loop, "DemoNewAlarm", kNewAlarmMinMs,
                [this] { guarded("new alarm", [&] { newAlarmTick(); }); }),
      clearAlarm_(loop, "DemoClearAlarm", kAlarmClearMinMs,
                  [this] { guarded("clearing an alarm", [&] { clearAlarmTick(); }); }),
      foreign_(loop, "DemoForeign", kForeignStepMinMs,
               [this] { guarded("foreign machine step", [&] { foreignTick(); }); }) {
    if (!(rate > 0.0 && rate <= kMaxRate))
        throw VbError(kInvalidCall,
                      "Demo simulator: the rate multiplier must lie above 0 and at most " +
                          numberText(kMaxRate) + ", not " + numberText(rate),
                      kSource);
    for (std::int32_t language : languages) {
        if (language < 1)
            throw VbError(kInvalidCall,
                          "Demo simulator: " + std::to_string(language) + " is not a language identifier",
                          kSource);
        if (std::find(languages_.begin(), languages_.end(), language) == languages_.end())
            languages_.push_back(language);
    }

    // Every bit that a definition names, once, whichever tables the definition landed in.
    std::vector<std::set<AlarmBit>> bits(kAlarmMachines + 1);
    for (const AlarmTable* table : {&alarms.AlarmTabelle1, &alarms.AlarmTabelle2, &alarms.AlarmTabelle3}) {
        for (int machine = 1; machine <= kAlarmMachines; ++machine) {
            for (int position = 1; position <= table->count(machine); ++position) {
                const AlarmDef& def = table->at(machine, position);
                if (!isAlarmType(def.Type) || def.Sensor2 < 1 || def.Sensor2 > kAlarmMachines) continue;
                if (def.VarName.empty() || def.BitNo < 0 || def.BitNo > 15) continue;
                bits[static_cast<std::size_t>(def.Sensor2)].insert({def.VarName, def.BitNo});
            }
        }
    }
    for (std::size_t machine = 1; machine < bits.size(); ++machine)
        alarmBits_[machine].assign(bits[machine].begin(), bits[machine].end());

    for (int index = 0; index < kLineMachineCount; ++index) {
        const LineMachine& machine = line.machines[static_cast<std::size_t>(index)];
        if (!machine.foreign) continue;
        values_[static_cast<std::size_t>(index)] = {machine.languageId, machine.status, machine.message};
        if (machine.enabled) foreignMachines_.push_back(index);
    }
}

DemoSimulator::~DemoSimulator() { stop(); }

void DemoSimulator::start(LineSourceListener& listener) {
    if (running()) return;
    listener_ = &listener;
    guarded("watching the line alarm", [&] {
        if (!usable(vars::kLiLNeu)) return;
        try {
            publishWatch_ = variables_.watch(vars::kLiLNeu, [this](const Variant& value) {
                guarded("line alarm published", [&] { onAlarmPublished(value); });
            });
        } catch (...) {
            leaveAlone(vars::kLiLNeu, "it cannot be watched: " + VbError::current(kSource).description());
            return;
        }
        // An alarm published before the visualisation came up is answered as well.
        if (readWord(vars::kLiLNeu) == 1) echo_.setEnabled(true);
    });
    heartbeat_.setEnabled(true);
    online_.setEnabled(true);
    if (!languages_.empty()) {
        language_.setInterval(paced(kLanguageMinMs, kLanguageMaxMs));
        language_.setEnabled(true);
    }
    newAlarm_.setInterval(paced(kNewAlarmMinMs, kNewAlarmMaxMs));
    newAlarm_.setEnabled(true);
    scheduleClearing();
    if (!foreignMachines_.empty()) {
        foreign_.setInterval(paced(kForeignStepMinMs, kForeignStepMaxMs));
        foreign_.setEnabled(true);
    }
}

void DemoSimulator::stop() {
    for (Timer* timer : {&heartbeat_, &echo_, &online_, &language_, &newAlarm_, &clearAlarm_, &foreign_})
        timer->setEnabled(false);
    if (publishWatch_) {
        guarded("ending the watch of the line alarm", [&] { variables_.unwatch(*publishWatch_); });
        publishWatch_.reset();
    }
    listener_ = nullptr;
}

// --- the visualisation ---

void DemoSimulator::heartbeatTick() {
    const std::optional<std::int16_t> life = readWord(vars::kLiLebenHi);
    if (!life) return;
    const auto next = static_cast<std::uint16_t>(static_cast<std::uint16_t>(*life) + 1u);
    write(vars::kLiLebenHi, Variant::integer(static_cast<std::int16_t>(next)));
}

void DemoSimulator::onAlarmPublished(const Variant& value) {
    if (!running()) return;
    // Further publications while the answer is on its way are answered by it: it reads them afresh.
    if (toInteger(value) == 1 && !echo_.enabled()) echo_.setEnabled(true);
}

void DemoSimulator::echoTick() {
    echo_.setEnabled(false);
    const std::optional<std::int16_t> fault = readWord(vars::kLiLFault);
    if (!fault) return;  // without the fault number there is nothing to answer
    std::int16_t machine = 0;
    std::int16_t status = 0;
    if (*fault != 0) {
        machine = readWord(vars::kLiLSensor2).value_or(0);
        status = readWord(vars::kLiLAlarmT) == 2 ? 4 : 3;
    }
    // The number last: it is what the panel watches, the other two must stand when it looks.
    write(vars::kLiHStatus, Variant::integer(status));
    write(vars::kLiHMasch, Variant::integer(machine));
    write(vars::kLiHNummer, Variant::integer(*fault));
    write(vars::kLiLNeu, Variant::integer(0));
}

void DemoSimulator::languageTick() {
    language_.setInterval(paced(kLanguageMinMs, kLanguageMaxMs));
    const std::optional<std::int32_t> current = readLong(vars::kSprache);
    if (!current) return;
    std::vector<std::int32_t> others;
    std::copy_if(languages_.begin(), languages_.end(), std::back_inserter(others),
                 [&](std::int32_t language) { return language != *current; });
    if (others.empty()) return;
    writeLanguage(others[static_cast<std::size_t>(draw(0, static_cast<std::int64_t>(others.size()) - 1))]);
}

bool DemoSimulator::writeLanguage(std::int32_t language) {
    return write(vars::kSprache, Variant::longInt(language));
}

// --- the own machines ---

void DemoSimulator::newAlarmTick() {
    newAlarm_.setInterval(paced(kNewAlarmMinMs, kNewAlarmMaxMs));
    raiseAlarm();
}

bool DemoSimulator::raiseAlarm() {
    if (active_.size() >= kMaxActiveAlarms) return false;
    const auto free = [&](const AlarmBit& bit) {
        return usable(bit.variable) && std::none_of(active_.begin(), active_.end(),
                                                    [&](const ActiveAlarm& a) { return a.alarm == bit; });
    };
    std::vector<int> machines;
    for (int machine = 1; machine <= kAlarmMachines; ++machine) {
        const auto& bits = alarmBits_[static_cast<std::size_t>(machine)];
        if (std::any_of(bits.begin(), bits.end(), free)) machines.push_back(machine);
    }
    if (machines.empty()) return false;
    const int machine =
        machines[static_cast<std::size_t>(draw(0, static_cast<std::int64_t>(machines.size()) - 1))];
    std::vector<AlarmBit> candidates;
    const auto& bits = alarmBits_[static_cast<std::size_t>(machine)];
    std::copy_if(bits.begin(), bits.end(), std::back_inserter(candidates), free);
    const AlarmBit chosen =
        candidates[static_cast<std::size_t>(draw(0, static_cast<std::int64_t>(candidates.size()) - 1))];
    const std::int64_t clearAfter = paced(kAlarmClearMinMs, kAlarmClearMaxMs);

    const std::optional<std::int16_t> word = readWord(chosen.variable);
    if (!word) return false;
    const auto bits16 = static_cast<std::uint16_t>(*word);
    // A bit that someone else has set is theirs to clear.
    if ((bits16 & mask(chosen.bit)) != 0) return false;
    const auto raised = static_cast<std::uint16_t>(bits16 | mask(chosen.bit));
    if (!write(chosen.variable, Variant::integer(static_cast<std::int16_t>(raised)))) return false;
    active_.push_back({chosen, loop_.nowMs() + clearAfter});
    scheduleClearing();
    return true;
}

void DemoSimulator::clearAlarmTick() {
    const std::int64_t now = loop_.nowMs();
    std::vector<ActiveAlarm> due;
    for (const ActiveAlarm& active : active_) {
        if (active.clearAtMs <= now) due.push_back(active);
    }
    std::erase_if(active_, [&](const ActiveAlarm& active) { return active.clearAtMs <= now; });
    for (const ActiveAlarm& active : due) clearAlarm(active);
    scheduleClearing();
}

void DemoSimulator::clearAlarm(const ActiveAlarm& active) {
    const std::optional<std::int16_t> word = readWord(active.alarm.variable);
    if (!word) return;
    const auto cleared =
        static_cast<std::uint16_t>(static_cast<std::uint16_t>(*word) & ~mask(active.alarm.bit));
    write(active.alarm.variable, Variant::integer(static_cast<std::int16_t>(cleared)));
}

// One timer, always set to the alarm that is due to go first.
void DemoSimulator::scheduleClearing() {
    if (active_.empty() || !running()) {
        clearAlarm_.setEnabled(false);
        return;
    }
    const auto first = std::min_element(active_.begin(), active_.end(), [](const auto& a, const auto& b) {
        return a.clearAtMs < b.clearAtMs;
    });
    const std::int64_t wait = std::clamp<std::int64_t>(first->clearAtMs - loop_.nowMs(), 1,
                                                       std::numeric_limits<std::int32_t>::max());
    clearAlarm_.setInterval(static_cast<std::int32_t>(wait));
    clearAlarm_.setEnabled(true);
}

// --- the foreign machines and the line display's connection ---

void DemoSimulator::foreignTick() {
    foreign_.setInterval(paced(kForeignStepMinMs, kForeignStepMaxMs));
    if (foreignMachines_.empty() || listener_ == nullptr) return;
    const int index = foreignMachines_[static_cast<std::size_t>(
        draw(0, static_cast<std::int64_t>(foreignMachines_.size()) - 1))];
    MachineValues& machine = values_[static_cast<std::size_t>(index)];
    // A machine that is not running mostly gets going again; otherwise it moves to any other state.
    std::vector<ForeignState> next;
    if (machine.status != kRunning && draw(0, 1) == 0) {
        next.push_back({kRunning, "Running"});
    } else {
        std::copy_if(kForeignStates.begin(), kForeignStates.end(), std::back_inserter(next),
                     [&](const ForeignState& state) {
                         return state.status != machine.status || machine.message != state.message;
                     });
    }
    const ForeignState& chosen =
        next[static_cast<std::size_t>(draw(0, static_cast<std::int64_t>(next.size()) - 1))];
    machine.status = chosen.status;
    machine.message = chosen.message;
    listener_->lineValues(values_);
}

void DemoSimulator::onlineTick() {
    online_.setEnabled(false);
    if (listener_ == nullptr) return;
    listener_->lineOnline(true);
    // The visualisation announces its client language as it comes up.
    if (running() && !languages_.empty()) writeLanguage(languages_.front());
}

// --- variables, reports and chance ---

std::optional<std::int16_t> DemoSimulator::readWord(std::string_view name) {
    if (!usable(name)) return std::nullopt;
    try {
        return toInteger(variables_.ReadVariable(name));
    } catch (...) {
        leaveAlone(name, "it cannot be read as a 16-bit integer: " + VbError::current(kSource).description());
        return std::nullopt;
    }
}

std::optional<std::int32_t> DemoSimulator::readLong(std::string_view name) {
    if (!usable(name)) return std::nullopt;
    try {
        return toLong(variables_.ReadVariable(name));
    } catch (...) {
        leaveAlone(name, "it cannot be read as a number: " + VbError::current(kSource).description());
        return std::nullopt;
    }
}

bool DemoSimulator::write(std::string_view name, const Variant& value) {
    if (!usable(name)) return false;
    try {
        variables_.WriteVariable(name, value);
        return true;
    } catch (...) {
        leaveAlone(name, "it cannot be written: " + VbError::current(kSource).description());
        return false;
    }
}

bool DemoSimulator::usable(std::string_view name) const { return !leftAlone_.contains(name); }

void DemoSimulator::leaveAlone(std::string_view name, const std::string& why) {
    if (!leftAlone_.emplace(name).second) return;
    report("Demo simulator: leaves process variable '" + std::string(name) + "' alone from now on, " + why);
}

void DemoSimulator::report(const std::string& message) {
    if (!reportError_) return;
    try {
        reportError_(message);
    } catch (...) {
        // A reporter that fails cannot be told so; the simulator goes on.
    }
}

std::int64_t DemoSimulator::draw(std::int64_t lo, std::int64_t hi) {
    if (hi <= lo) return lo;
    const auto span = static_cast<std::uint64_t>(hi - lo) + 1;
    const auto raw = static_cast<std::uint64_t>(random_() & 0xFFFFFFFFu);
    return lo + static_cast<std::int64_t>((raw * span) >> 32);
}

std::int32_t DemoSimulator::paced(std::int32_t loMs, std::int32_t hiMs) {
    const double ms = std::round(static_cast<double>(draw(loMs, hiMs)) / rate_);
    return static_cast<std::int32_t>(
        std::clamp(ms, 1.0, static_cast<double>(std::numeric_limits<std::int32_t>::max())));
}

}  // namespace orvanta
