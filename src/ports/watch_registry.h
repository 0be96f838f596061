// The bookkeeping behind ProcessVariables::watch for a runtime: which handlers watch which variable, in
// the order they began, and the run of one watch's handler with a change. Each runtime keeps its own queue
// of the changes to deliver (every change, in order), but never delivers from inside the write that made
// it: the delivery runs from the loop. By then the watch may be gone; the delivery is then dropped, which
// is what makes unwatch safe at any moment, from inside a handler too.
#pragma once

#include <memory>
#include <unordered_map>
#include <vector>

#include "core/variant.h"
#include "ports/process_variables.h"

namespace orvanta {

class WatchRegistry {
public:
    using WatchId = ProcessVariables::WatchId;
    using VariableId = ProcessVariables::VariableId;
    using ChangeHandler = ProcessVariables::ChangeHandler;

    WatchId add(VariableId variable, ChangeHandler handler);
    // Nothing for an id that is gone or was never issued.
    void remove(WatchId id);
    // The watches of variable, in the order they were added.
    const std::vector<WatchId>& of(VariableId variable) const;

    // The handler of watch id runs with value, unless the watch is gone.
    void deliver(WatchId id, const Variant& value);

private:
    struct Watch {
        VariableId variable;
        // Shared, so that a handler that removes its own watch does not destroy itself while it runs.
        std::shared_ptr<const ChangeHandler> handler;
    };

    void run(const Watch& watch, const Variant& value);

    std::unordered_map<WatchId, Watch> watches_;
    std::vector<std::vector<WatchId>> byVariable_;
    WatchId next_ = 1;
};

}  // namespace orvanta
