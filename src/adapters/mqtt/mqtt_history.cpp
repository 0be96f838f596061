#include "adapters/mqtt/mqtt_history.h"

#include <nlohmann/json.hpp>
#include <type_traits>

namespace orvanta {
namespace {

using nlohmann::json;

json common(const char* event, std::int64_t run, history::Millis at, const std::string& line) {
    return json{{"line", line}, {"event", event}, {"run", run}, {"at", at}};
}

json rowOf(const char* event, std::int64_t run, std::int64_t seq, history::Millis at,
           const std::string& line) {
    json payload = common(event, run, at, line);
    payload["seq"] = seq;
    return payload;
}

}  // namespace

HistoryMessage historyMessage(const history::Record& record, const std::string& line) {
    using namespace history;
    return std::visit(
        [&line](const auto& r) -> HistoryMessage {
            using T = std::decay_t<decltype(r)>;
            // Invalid UTF-8 in a text from a plant's database is replaced, never a reason to lose the record.
            const auto text = [](const json& payload) {
                return payload.dump(-1, ' ', false, json::error_handler_t::replace);
            };
            if constexpr (std::is_same_v<T, RunStarted>) {
                json payload = common("started", r.run, r.at, line);
                payload["utc_offset"] = r.utcOffsetMinutes;
                return {"history/run", text(payload)};
            } else if constexpr (std::is_same_v<T, RunAlive>) {
                return {"history/run", text(common("alive", r.run, r.at, line))};
            } else if constexpr (std::is_same_v<T, RunEnded>) {
                return {"history/run", text(common("ended", r.run, r.at, line))};
            } else if constexpr (std::is_same_v<T, EpisodeRaised>) {
                json payload = rowOf("raised", r.run, r.seq, r.at, line);
                payload.update(json{{"machine", r.machine},
                                    {"table", r.table},
                                    {"ident", r.ident},
                                    {"fault", r.fault},
                                    {"text_key", r.textKey},
                                    {"text", r.text},
                                    {"priority", r.priority},
                                    {"display_status", r.displayStatus}});
                return {"history/episode", text(payload)};
            } else if constexpr (std::is_same_v<T, EpisodePublished>) {
                return {"history/episode", text(rowOf("published", r.run, r.seq, r.at, line))};
            } else if constexpr (std::is_same_v<T, EpisodeEchoed>) {
                return {"history/episode", text(rowOf("echoed", r.run, r.seq, r.at, line))};
            } else if constexpr (std::is_same_v<T, EpisodeCleared>) {
                return {"history/episode", text(rowOf("cleared", r.run, r.seq, r.at, line))};
            } else if constexpr (std::is_same_v<T, IntervalStarted>) {
                json payload = rowOf("started", r.run, r.seq, r.at, line);
                payload.update(json{{"slot", r.slot},
                                    {"name", r.name},
                                    {"foreign", r.foreign},
                                    {"status", r.status},
                                    {"cause", r.cause}});
                return {"history/state", text(payload)};
            } else if constexpr (std::is_same_v<T, IntervalEnded>) {
                return {"history/state", text(rowOf("ended", r.run, r.seq, r.at, line))};
            } else if constexpr (std::is_same_v<T, GapStarted>) {
                json payload = rowOf("started", r.run, r.seq, r.at, line);
                payload["kind"] = gapKindName(r.kind);
                return {"history/gap", text(payload)};
            } else {
                return {"history/gap", text(rowOf("ended", r.run, r.seq, r.at, line))};
            }
        },
        record);
}

MqttHistoryPublisher::MqttHistoryPublisher(MqttConnection& connection, std::string line)
    : connection_(connection), line_(std::move(line)), prefix_(connection.topic("")) {}

void MqttHistoryPublisher::record(const history::Record& record) {
    try {
        HistoryMessage message = historyMessage(record, line_);
        connection_.publishEvent(prefix_ + message.topic, std::move(message.payload));
    } catch (...) {
        // Out of memory: the broker misses this record, the loop goes on.
    }
}

}  // namespace orvanta
