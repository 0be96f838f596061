// Where the history's records go. Called on the loop's thread after the pass or the bridge has done all
// its work; an implementation must return at once (queue the record, never wait for a disk or a network)
// and must not throw.
#pragma once

#include "history/history_records.h"

namespace orvanta {

class HistorySink {
public:
    virtual ~HistorySink() = default;
    virtual void record(const history::Record& record) = 0;
};

}  // namespace orvanta
