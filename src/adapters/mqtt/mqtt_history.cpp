#include "adapters/mqtt/mqtt_history.h"

#include <nlohmann/json.hpp>
#include <string_view>
#include <type_traits>
#include <vector>

namespace orvanta {
namespace {

// A payload built field by field, the keys in alphabetical order: a history record goes out on every
// change of the line, and building it this way costs a fraction of a JSON object's maps.
class Payload {
public:
    Payload& field(std::string_view key, std::int64_t value) {
        begin(key);
        text_ += std::to_string(value);
        return *this;
    }
    Payload& field(std::string_view key, bool value) {
        begin(key);
        text_ += value ? "true" : "false";
        return *this;
    }
    // Invalid UTF-8 in a text from a plant's database is replaced, never a reason to lose the record.
    Payload& field(std::string_view key, const std::string& value) {
        begin(key);
        text_ += nlohmann::json(value).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        return *this;
    }
    // An array of payloads, each done().
    Payload& field(std::string_view key, const std::vector<std::string>& objects) {
        begin(key);
        text_ += '[';
        for (const std::string& object : objects) {
            if (&object != &objects.front()) text_ += ',';
            text_ += object;
        }
        text_ += ']';
        return *this;
    }
    std::string done() { return std::move(text_) + "}"; }

private:
    void begin(std::string_view key) {
        text_ += text_.size() > 1 ? ",\"" : "\"";
        text_ += key;
        text_ += "\":";
    }
    std::string text_ = "{";
};

HistoryMessage row(const char* topic, const char* event, std::int64_t run, std::int64_t seq,
                   history::Millis at, const std::string& line) {
    return {topic, Payload()
                       .field("at", at)
                       .field("event", std::string(event))
                       .field("line", line)
                       .field("run", run)
                       .field("seq", seq)
                       .done()};
}

HistoryMessage runEvent(const char* event, std::int64_t run, history::Millis at, const std::string& line) {
    return {"history/run", Payload()
                               .field("at", at)
                               .field("event", std::string(event))
                               .field("line", line)
                               .field("run", run)
                               .done()};
}

}  // namespace

HistoryMessage historyMessage(const history::Record& record, const std::string& line) {
    using namespace history;
    return std::visit(
        [&line](const auto& r) -> HistoryMessage {
            using T = std::decay_t<decltype(r)>;
            if constexpr (std::is_same_v<T, RunStarted>) {
                return {"history/run", Payload()
                                           .field("at", r.at)
                                           .field("event", std::string("started"))
                                           .field("line", line)
                                           .field("run", r.run)
                                           .field("time_zone", r.timeZone)
                                           .field("utc_offset", std::int64_t{r.utcOffsetMinutes})
                                           .done()};
            } else if constexpr (std::is_same_v<T, RunAlive>) {
                return runEvent("alive", r.run, r.at, line);
            } else if constexpr (std::is_same_v<T, RunEnded>) {
                return runEvent("ended", r.run, r.at, line);
            } else if constexpr (std::is_same_v<T, EpisodeRaised>) {
                return {"history/episode", Payload()
                                               .field("at", r.at)
                                               .field("display_status", std::int64_t{r.displayStatus})
                                               .field("event", std::string("raised"))
                                               .field("fault", std::int64_t{r.fault})
                                               .field("ident", std::int64_t{r.ident})
                                               .field("line", line)
                                               .field("machine", std::int64_t{r.machine})
                                               .field("priority", std::int64_t{r.priority})
                                               .field("run", r.run)
                                               .field("seq", r.seq)
                                               .field("table", std::int64_t{r.table})
                                               .field("text", r.text)
                                               .field("text_key", r.textKey)
                                               .done()};
            } else if constexpr (std::is_same_v<T, EpisodePublished>) {
                return row("history/episode", "published", r.run, r.seq, r.at, line);
            } else if constexpr (std::is_same_v<T, EpisodeEchoed>) {
                return row("history/episode", "echoed", r.run, r.seq, r.at, line);
            } else if constexpr (std::is_same_v<T, EpisodeCleared>) {
                return row("history/episode", "cleared", r.run, r.seq, r.at, line);
            } else if constexpr (std::is_same_v<T, IntervalStarted>) {
                return {"history/state", Payload()
                                             .field("at", r.at)
                                             .field("cause", r.cause)
                                             .field("event", std::string("started"))
                                             .field("foreign", r.foreign)
                                             .field("line", line)
                                             .field("machine", std::int64_t{r.machine})
                                             .field("name", r.name)
                                             .field("run", r.run)
                                             .field("seq", r.seq)
                                             .field("slot", std::int64_t{r.slot})
                                             .field("status", std::int64_t{r.status})
                                             .done()};
            } else if constexpr (std::is_same_v<T, IntervalEnded>) {
                return row("history/state", "ended", r.run, r.seq, r.at, line);
            } else if constexpr (std::is_same_v<T, AlarmTexts>) {
                std::vector<std::string> texts;
                texts.reserve(r.texts.size());
                for (const LanguageText& text : r.texts) {
                    texts.push_back(Payload()
                                        .field("language", std::int64_t{text.language})
                                        .field("position", std::int64_t{text.position})
                                        .field("text", text.text)
                                        .done());
                }
                return {"history/text", Payload()
                                            .field("event", std::string("texts"))
                                            .field("line", line)
                                            .field("run", r.run)
                                            .field("text_key", r.textKey)
                                            .field("texts", texts)
                                            .done()};
            } else if constexpr (std::is_same_v<T, GapStarted>) {
                return {"history/gap", Payload()
                                           .field("at", r.at)
                                           .field("event", std::string("started"))
                                           .field("kind", std::string(gapKindName(r.kind)))
                                           .field("line", line)
                                           .field("run", r.run)
                                           .field("seq", r.seq)
                                           .done()};
            } else {
                return row("history/gap", "ended", r.run, r.seq, r.at, line);
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
