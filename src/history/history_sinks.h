// Several sinks as one: the history goes to the file and, over MQTT, to the broker.
#pragma once

#include <vector>

#include "history/history_sink.h"

namespace orvanta {

class HistorySinks : public HistorySink {
public:
    void add(HistorySink& sink) { sinks_.push_back(&sink); }
    void record(const history::Record& record) override {
        for (HistorySink* sink : sinks_) sink->record(record);
    }

private:
    std::vector<HistorySink*> sinks_;
};

}  // namespace orvanta
