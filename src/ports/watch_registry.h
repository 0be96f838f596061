// The bookkeeping behind ProcessVariables::watch for a runtime: which handlers watch which variable, in
// the order they began, and the run of one watch's handler with a change. Each runtime keeps its own rule
// of when a change is delivered (every change, or only the newest of those waiting), but never from inside
// the write that made it: it posts the delivery to the loop. By then the watch may be gone; the delivery is
// then dropped, which is what makes unwatch safe at any moment, from inside a handler too.
#pragma once

#include <memory>
#include <optional>
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

    // Every change delivered: the handler of watch id runs with value, unless the watch is gone.
    void deliver(WatchId id, const Variant& value);

    // Only the newest change delivered: value is what the watch's next delivery hands over. True when no
    // delivery was waiting for it, so that the caller posts one; false for a watch that is gone.
    bool hold(WatchId id, const Variant& value);
    // The handler of watch id runs with the value held for it, unless the watch is gone or holds none.
    void deliverHeld(WatchId id);

private:
    struct Watch {
        VariableId variable;
        // Shared, so that a handler that removes its own watch does not destroy itself while it runs.
        std::shared_ptr<const ChangeHandler> handler;
        std::optional<Variant> held;
    };

    void run(const Watch& watch, const Variant& value);

    std::unordered_map<WatchId, Watch> watches_;
    std::vector<std::vector<WatchId>> byVariable_;
    WatchId next_ = 1;
};

}  // namespace orvanta
