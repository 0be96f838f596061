// The demo simulator: the world around the panel, played on one machine so that the panel can be shown
// and soaked without a plant. It acts only through the interfaces a real plant uses: it writes and
// watches process variables as the visualisation and the machines' controllers do, and it is the line
// source of the embedded line display, sending its online state and the foreign machines' values.
//
//   the visualisation  counts the heartbeat "li_leben_hi" up once a second; answers a published line
//                      alarm ("li_l_neu" = 1) about 300 ms later by echoing it into "li_h_nummer",
//                      "li_h_masch" and "li_h_status" and taking "li_l_neu" back to 0; now and then
//                      switches the client language "sprache" to another one of its list.
//   the own machines   set a random alarm bit that the alarm definitions name and clear it again a few
//                      seconds later, with a read-modify-write of the 16-bit word so that other bits
//                      stay as they are; only a few alarms stand at once.
//   the foreign ones   step through their status codes and messages every few seconds.
//
// Everything runs on the loop's timers, no thread of its own. The random draws come from one seeded
// generator, and the loop's timers fire in a fixed order, so one seed on a manual loop gives one run,
// step for step. The draws are made here from the generator's raw output rather than through the
// standard distributions, whose results differ between standard libraries.
//
// The rate multiplier speeds up the world's pace (new alarms, their clearing, the foreign machines'
// steps, the language changes); the visualisation's own clockwork (the heartbeat each second, the echo
// after 300 ms, coming online after a second) keeps its time, as a real visualisation's would.
//
// A timer tick never throws. A variable that cannot be read, converted or written is reported once
// through the error reporter and left alone for the rest of the run, so that a plant without one of
// the variables still runs and the log is not flooded.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/error_reporter.h"
#include "core/event_loop.h"
#include "core/variant.h"
#include "ports/line_source.h"
#include "ports/process_variables.h"
#include "refdata/alarm_definitions.h"

namespace orvanta {

class DemoSimulator final : public LineSource {
public:
    // The pace of the world at rate 1.0; the soak test runs ten times faster.
    static constexpr std::int32_t kHeartbeatMs = 1000;
    static constexpr std::int32_t kEchoDelayMs = 300;
    static constexpr std::int32_t kOnlineDelayMs = 1000;
    static constexpr std::int32_t kNewAlarmMinMs = 2000;  // a new alarm every 2..6 s, 4 s on average
    static constexpr std::int32_t kNewAlarmMaxMs = 6000;
    static constexpr std::int32_t kAlarmClearMinMs = 3000;
    static constexpr std::int32_t kAlarmClearMaxMs = 15000;
    static constexpr std::int32_t kLanguageMinMs = 20000;
    static constexpr std::int32_t kLanguageMaxMs = 40000;
    static constexpr std::int32_t kForeignStepMinMs = 2000;
    static constexpr std::int32_t kForeignStepMaxMs = 5000;
    static constexpr std::size_t kMaxActiveAlarms = 4;
    static constexpr double kMaxRate = 1000.0;

    // line: the plant's line description; its enabled foreign machines are the ones walked, starting
    // from its values. alarms: only VarName, BitNo, Type and Sensor2 of the entries are used, to know
    // which bits of which own machine exist; they are copied, the tables need not outlive the simulator.
    // languages: the client languages to switch between; the first is announced when the line comes
    // online. rate: 1.0 normal pace, above 1 faster; throws VbError 5 outside (0, 1000] or for a language
    // identifier below 1. reportError may be empty.
    DemoSimulator(EventLoop& loop, ProcessVariables& variables, const LineDescription& line,
                  const AlarmDefinitions& alarms, std::vector<std::int32_t> languages, std::uint32_t seed,
                  double rate, ErrorReporter reportError);
    ~DemoSimulator() override;
    DemoSimulator(const DemoSimulator&) = delete;
    DemoSimulator& operator=(const DemoSimulator&) = delete;

    // LineSource. start() begins the whole world (a second start is ignored while running); stop()
    // ends it: no timer runs, no variable is written and the listener hears nothing more.
    void start(LineSourceListener& listener) override;
    void stop() override;

    bool running() const { return listener_ != nullptr; }

private:
    // One alarm bit of an own machine, as the alarm definitions name it.
    struct AlarmBit {
        std::string variable;
        std::int16_t bit = 0;  // 0..15
        friend auto operator<=>(const AlarmBit&, const AlarmBit&) = default;
    };

    struct ActiveAlarm {
        AlarmBit alarm;
        std::int64_t clearAtMs = 0;
    };

    void heartbeatTick();
    void onAlarmPublished(const Variant& value);
    void echoTick();
    void languageTick();
    void newAlarmTick();
    void clearAlarmTick();
    void foreignTick();
    void onlineTick();

    bool raiseAlarm();
    void clearAlarm(const ActiveAlarm& active);
    void scheduleClearing();
    bool writeLanguage(std::int32_t language);

    // Reads name as a 16-bit integer; nothing when it is left alone or fails now (then it is left alone).
    std::optional<std::int16_t> readWord(std::string_view name);
    std::optional<std::int32_t> readLong(std::string_view name);
    bool write(std::string_view name, const Variant& value);
    bool usable(std::string_view name) const;
    void leaveAlone(std::string_view name, const std::string& why);
    // Runs one timer tick or change handler; whatever escapes it is reported, never thrown on.
    template <typename Body>
    void guarded(const char* what, Body&& body);
    void report(const std::string& message);

    // A whole number in lo..hi, from the generator's raw output.
    std::int64_t draw(std::int64_t lo, std::int64_t hi);
    // A random interval lo..hi ms, shortened by the rate, at least 1 ms.
    std::int32_t paced(std::int32_t loMs, std::int32_t hiMs);

    EventLoop& loop_;
    ProcessVariables& variables_;
    std::vector<std::int32_t> languages_;
    std::mt19937 random_;
    double rate_;
    ErrorReporter reportError_;

    std::vector<std::vector<AlarmBit>> alarmBits_;  // by machine 0..5
    std::vector<ActiveAlarm> active_;
    std::vector<int> foreignMachines_;
    LineValues values_{};
    std::set<std::string, std::less<>> leftAlone_;

    LineSourceListener* listener_ = nullptr;
    std::optional<ProcessVariables::WatchId> publishWatch_;

    Timer heartbeat_;
    Timer echo_;
    Timer online_;
    Timer language_;
    Timer newAlarm_;
    Timer clearAlarm_;
    Timer foreign_;
};

}  // namespace orvanta
