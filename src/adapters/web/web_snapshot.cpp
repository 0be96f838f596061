#include "adapters/web/web_snapshot.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace orvanta::web {
namespace {

using nlohmann::json;

std::string hex(Rgb colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", colour.red, colour.green, colour.blue);
    return text;
}

const char* handshakeName(Handshake state) {
    switch (state) {
        case Handshake::Published:
            return "published";
        case Handshake::Echoed:
            return "echoed";
        case Handshake::None:
            break;
    }
    return "none";
}

json optionalTime(const std::optional<history::Millis>& at) { return at ? json(*at) : json(nullptr); }

json machineJson(std::size_t slot, const MachineLook& look) {
    return {{"slot", slot},
            {"enabled", look.enabled},
            {"name", look.name},
            {"coName", look.coName},
            {"number", look.number},
            {"foreign", look.foreign},
            {"remote", look.remote},
            {"status", look.status},
            {"statusName", look.statusName},
            {"colour", hex(look.colour)},
            {"ink", hex(look.ink)},
            {"text", look.text},
            {"language", look.language},
            {"font", look.fontName}};
}

json lineAlarmJson(const LineAlarmView& alarm) {
    json out = {{"state", handshakeName(alarm.state)}};
    if (alarm.state == Handshake::None) return out;
    out["machine"] = alarm.machine;
    out["table"] = alarm.table;
    out["fault"] = alarm.fault;
    out["ident"] = alarm.ident;
    out["priority"] = alarm.priority;
    out["text"] = alarm.text;
    return out;
}

}  // namespace

std::string snapshotJson(const Snapshot& snapshot) {
    const LinePicture& picture = snapshot.picture;
    json columns = json::array();
    for (const PictureColumn& column : picture.columns)
        columns.push_back({{"group", column.group}, {"title", column.title}, {"machines", column.machines}});
    json machines = json::array();
    for (std::size_t slot = 0; slot < picture.machines.size(); ++slot)
        machines.push_back(machineJson(slot, picture.machines[slot]));
    json legend = json::array();
    for (const LegendEntry& entry : statusLegend())
        legend.push_back({{"label", entry.label}, {"colour", hex(entry.colour)}});
    json episodes = json::array();
    for (const EpisodeView& episode : snapshot.episodes)
        episodes.push_back({{"machine", episode.machine},
                            {"table", episode.table},
                            {"fault", episode.fault},
                            {"text", episode.text},
                            {"raised", episode.raised},
                            {"published", optionalTime(episode.published)},
                            {"echoed", optionalTime(episode.echoed)},
                            {"cleared", optionalTime(episode.cleared)}});
    const json out = {{"line", snapshot.line},
                      {"seq", snapshot.seq},
                      {"described", picture.described},
                      {"connected", picture.connected},
                      {"referenceMachine", picture.referenceMachine},
                      {"columns", std::move(columns)},
                      {"machines", std::move(machines)},
                      {"legend", std::move(legend)},
                      {"lineAlarm", lineAlarmJson(snapshot.lineAlarm)},
                      {"episodes", std::move(episodes)}};
    // A text of the plant's files that is not valid UTF-8 is shown with replacement marks, not refused.
    return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace orvanta::web
