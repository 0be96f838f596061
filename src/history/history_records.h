// What the line's history is made of: the records the recorder makes of the panel's results, on the loop's
// thread, and hands to a HistorySink. A store keeps them (the SQLite file), a publisher sends them to the
// broker. Each record is complete on its own, so a sink that lost one can still place the next.
//
// Every row that lasts (a run, an alarm episode, a state interval, a gap) is named by the run it belongs
// to and a sequence number within that run; its end, and an episode's publication and echo, come as later
// records naming the same pair. Times are milliseconds since 1970-01-01 UTC; the run carries the local
// offset from UTC at its start and the computer's time zone, so a report can print local times, across a
// change of the clocks too.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace orvanta::history {

using Millis = std::int64_t;  // milliseconds since 1970-01-01 00:00 UTC

struct RunStarted {
    std::int64_t run = 0;  // the run's id: its start in milliseconds, unique in one history file
    Millis at = 0;
    std::int32_t utcOffsetMinutes = 0;  // local time minus UTC, at the start
    std::string line;                   // the plant folder's name: which line a collected record is of
    std::string timeZone;               // the computer's zone ("Europe/Berlin"), empty when unknown
};
// The panel is still running: a run that was never ended (a power cut, a kill) ends at its last sign.
struct RunAlive {
    std::int64_t run = 0;
    Millis at = 0;
};
struct RunEnded {
    std::int64_t run = 0;
    Millis at = 0;
};

// An own machine's most important alarm, from the pass that first selects it to the first that does not.
struct EpisodeRaised {
    std::int64_t run = 0;
    std::int64_t seq = 0;
    std::int16_t machine = 0;  // own machine 1..5
    std::int16_t table = 0;    // 1 faults, 2 warnings and messages, 3 the messages that only lead the line
    std::int16_t ident = 0;
    std::int16_t fault = 0;
    std::string textKey;  // the alarm's key in the text database
    std::string text;     // the text a machine slot showed, empty when none did
    std::int16_t priority = 0;
    std::int16_t displayStatus = 0;
    Millis at = 0;
};
// First published as the line's alarm; echoed by the visualisation; cleared.
struct EpisodePublished {
    std::int64_t run = 0;
    std::int64_t seq = 0;
    Millis at = 0;
};
struct EpisodeEchoed {
    std::int64_t run = 0;
    std::int64_t seq = 0;
    Millis at = 0;
};
struct EpisodeCleared {
    std::int64_t run = 0;
    std::int64_t seq = 0;
    Millis at = 0;
};

// A machine slot's status (or the line's) while it stays the same.
inline constexpr std::int16_t kLineSlot = -1;  // the slot number of the line's own status
struct IntervalStarted {
    std::int64_t run = 0;
    std::int64_t seq = 0;
    std::int16_t slot = 0;  // machine slot 0..63 of the line display, or kLineSlot
    std::string name;       // the slot's machine name; the line's name for kLineSlot
    bool foreign = false;   // a machine of another panel, whose status comes from the line
    std::int16_t status = 0;
    std::string cause;  // a stopped own machine's alarm text, a foreign machine's message
    Millis at = 0;
    std::int16_t machine = 0;  // the own machine 1..5 the slot stands for; 0 for foreign ones and the line
};
struct IntervalEnded {
    std::int64_t run = 0;
    std::int64_t seq = 0;
    Millis at = 0;
};

// A time the panel could not see the line: no statuses are known then, so a report never counts it as
// running.
enum class GapKind { Broker, Line };
struct GapStarted {
    std::int64_t run = 0;
    std::int64_t seq = 0;
    GapKind kind = GapKind::Line;
    Millis at = 0;
};
struct GapEnded {
    std::int64_t run = 0;
    std::int64_t seq = 0;
    Millis at = 0;
};

// An alarm's text in every language of the plant the text database has one in, given once a run before
// the first episode of its key: a report names one alarm one way, whatever language each slot showed.
struct LanguageText {
    std::int32_t language = 0;  // the language's identifier (1031, 1033, ...)
    std::int16_t position = 0;  // its place in the plant's list of languages, 1 the plant's first
    std::string text;
};
struct AlarmTexts {
    std::int64_t run = 0;
    std::string textKey;
    std::vector<LanguageText> texts;
};

using Record = std::variant<RunStarted, RunAlive, RunEnded, EpisodeRaised, EpisodePublished, EpisodeEchoed,
                            EpisodeCleared, IntervalStarted, IntervalEnded, GapStarted, GapEnded, AlarmTexts>;

// "broker" or "line", as stored and published.
inline const char* gapKindName(GapKind kind) { return kind == GapKind::Broker ? "broker" : "line"; }

}  // namespace orvanta::history
