// The line's history on the broker: every record the recorder makes goes out as one JSON message to
// PREFIX/history/{run,episode,state,gap,text} (QoS 1, not retained), so that a plant-wide historian
// subscribed to +/history/# collects every line through the broker the plant already runs. The README's
// contract gives the payloads.
#pragma once

#include <string>

#include "adapters/mqtt/mqtt_connection.h"
#include "history/history_sink.h"

namespace orvanta {

// The record's topic below PREFIX and its payload.
struct HistoryMessage {
    std::string topic;
    std::string payload;
};
HistoryMessage historyMessage(const history::Record& record, const std::string& line);

class MqttHistoryPublisher : public HistorySink {
public:
    // line: named in every payload, so that records of several lines can be told apart.
    MqttHistoryPublisher(MqttConnection& connection, std::string line);
    void record(const history::Record& record) override;

private:
    MqttConnection& connection_;
    std::string line_;
    std::string prefix_;  // PREFIX/
};

}  // namespace orvanta
