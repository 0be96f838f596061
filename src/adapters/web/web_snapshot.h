// What a browser is sent of the live line: the line picture as the panel's window shows it, the line's
// alarm with its handshake, and the latest alarm episodes of this run. Made on the loop's thread from the
// picture model and the pass's results, turned into one line of JSON, and handed to the server.
//
// The JSON, one line, every text UTF-8 (the server escapes what a page must not see raw):
//   {"line": "plant", "seq": 12,                    seq: counts the snapshots of this run
//    "described": true, "connected": true, "referenceMachine": 3,
//    "columns": [{"group": 0, "title": "Group A", "machines": [0, 1, 2]}, ...],   six, or none
//    "machines": [{"slot": 0, "enabled": true, "name": "M1", "coName": "", "number": 1,
//                  "foreign": false, "remote": false, "status": 1, "statusName": "running",
//                  "colour": "#2e7d32", "ink": "#ffffff", "text": "", "language": 1031,
//                  "font": ""}, ...],           all 64 slots, in slot order
//    "legend": [{"label": "running", "colour": "#2e7d32"}, ...],
//    "lineAlarm": {"state": "none" | "published" | "echoed",   published: written, the visualisation
//                  "machine": 2, "table": 1, "fault": 12,      has not echoed it yet
//                  "ident": 4, "priority": 9, "text": "..."},  machine..text absent when "none"
//    "episodes": [{"machine": 2, "table": 1, "fault": 12, "text": "...", "raised": 1733640000000,
//                  "published": 1733640000100, "echoed": null, "cleared": null}, ...]}  newest first
// Times are milliseconds since 1970 UTC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "history/history_records.h"
#include "linepicture/line_picture.h"

namespace orvanta::web {

enum class Handshake { None, Published, Echoed };

struct LineAlarmView {
    Handshake state = Handshake::None;
    std::int16_t machine = 0;
    std::int16_t table = 0;
    std::int16_t fault = 0;
    std::int16_t ident = 0;
    std::int16_t priority = 0;
    std::string text;  // the text its machine's slot shows; the text key when none does
    friend bool operator==(const LineAlarmView&, const LineAlarmView&) = default;
};

struct EpisodeView {
    std::int64_t seq = 0;
    std::int16_t machine = 0;
    std::int16_t table = 0;
    std::int16_t fault = 0;
    std::string text;
    history::Millis raised = 0;
    std::optional<history::Millis> published;
    std::optional<history::Millis> echoed;
    std::optional<history::Millis> cleared;
    friend bool operator==(const EpisodeView&, const EpisodeView&) = default;
};

struct Snapshot {
    std::string line;
    std::int64_t seq = 0;
    LinePicture picture;
    LineAlarmView lineAlarm;
    std::deque<EpisodeView> episodes;  // newest first
};

std::string snapshotJson(const Snapshot& snapshot);

}  // namespace orvanta::web
