// A history sink that keeps every record as one line of text, so a test compares a whole sequence.
#pragma once

#include <string>
#include <type_traits>
#include <vector>

#include "history/history_sink.h"

namespace orvanta::testing {

inline std::string describe(const history::Record& record) {
    using namespace history;
    return std::visit(
        [](const auto& r) -> std::string {
            using T = std::decay_t<decltype(r)>;
            if constexpr (std::is_same_v<T, AlarmTexts>) {
                std::string line = "texts " + r.textKey;
                for (const LanguageText& text : r.texts)
                    line += " " + std::to_string(text.position) + ":" + std::to_string(text.language) + "='" +
                            text.text + "'";
                return line;
            } else {
                const std::string at = " @" + std::to_string(r.at);
                if constexpr (std::is_same_v<T, RunStarted>)
                    return "run " + std::to_string(r.run) + " " + r.line + " " +
                           std::to_string(r.utcOffsetMinutes) + (r.timeZone.empty() ? "" : " " + r.timeZone) +
                           at;
                else if constexpr (std::is_same_v<T, RunAlive>)
                    return "alive" + at;
                else if constexpr (std::is_same_v<T, RunEnded>)
                    return "end" + at;
                else if constexpr (std::is_same_v<T, EpisodeRaised>)
                    return "raised " + std::to_string(r.seq) + " m" + std::to_string(r.machine) + " t" +
                           std::to_string(r.table) + " i" + std::to_string(r.ident) + " f" +
                           std::to_string(r.fault) + " " + r.textKey + " '" + r.text + "' p" +
                           std::to_string(r.priority) + " s" + std::to_string(r.displayStatus) + at;
                else if constexpr (std::is_same_v<T, EpisodePublished>)
                    return "published " + std::to_string(r.seq) + at;
                else if constexpr (std::is_same_v<T, EpisodeEchoed>)
                    return "echoed " + std::to_string(r.seq) + at;
                else if constexpr (std::is_same_v<T, EpisodeCleared>)
                    return "cleared " + std::to_string(r.seq) + at;
                else if constexpr (std::is_same_v<T, IntervalStarted>)
                    return "state " + std::to_string(r.seq) + " slot" + std::to_string(r.slot) + " m" +
                           std::to_string(r.machine) + " " + r.name + (r.foreign ? " foreign" : " own") +
                           " s" + std::to_string(r.status) + " '" + r.cause + "'" + at;
                else if constexpr (std::is_same_v<T, IntervalEnded>)
                    return "state-end " + std::to_string(r.seq) + at;
                else if constexpr (std::is_same_v<T, GapStarted>)
                    return std::string("gap ") + std::to_string(r.seq) + " " + gapKindName(r.kind) + at;
                else
                    return "gap-end " + std::to_string(r.seq) + at;
            }
        },
        record);
}

class RecordingHistory : public HistorySink {
public:
    void record(const history::Record& record) override { lines.push_back(describe(record)); }
    // The lines since the last call.
    std::vector<std::string> take() {
        std::vector<std::string> taken;
        taken.swap(lines);
        return taken;
    }
    std::vector<std::string> lines;
};

}  // namespace orvanta::testing
