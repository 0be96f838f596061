// The embedded process-variable runtime: an in-process store of typed variables that stands in for the
// VisiWin runtime, so that the panel runs on one machine with nothing else installed. A simulator or a
// test changes a value "from outside" the same way the panel does, with WriteVariable.
//
// The cyclic pass reads hundreds of variables a second, so a name is looked up once (a hash map with
// lookup by string_view, no allocation) and the value then lives in a slot addressed by its id. Reading
// an integer costs a copy of a small Variant and nothing more.
//
// Change events go through the loop, never from inside the write: the panel's handlers then run one at
// a time, as the original runtime's events did, and a write in a handler cannot re-enter another
// handler. A change delivered after its watch was removed is dropped, so unwatch is safe at any moment.
//
// Everything here runs on the loop's thread. Events posted for a runtime that has since been destroyed
// are dropped.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/error_reporter.h"
#include "core/event_loop.h"
#include "core/lifetime.h"
#include "ports/process_variables.h"
#include "ports/variable_catalogue.h"
#include "ports/watch_registry.h"

namespace orvanta {

class EmbeddedVariables final : public ProcessVariables, public RuntimeControl {
public:
    // Why the runtime cannot run, for example a catalogue file that could not be loaded.
    struct StartFailure {
        std::string reason;
    };

    // A running store of the variables in catalogue. Throws VbError naming the variable for a duplicate
    // name, an array count outside 1..4096 or an initial value that does not convert to its type.
    EmbeddedVariables(EventLoop& loop, const std::vector<CatalogueEntry>& catalogue);
    // A runtime that cannot start: it holds no variables, and start() hands failure.reason to
    // reportError and then reports StartCompleted(0).
    EmbeddedVariables(EventLoop& loop, StartFailure failure, ErrorReporter reportError);

    EmbeddedVariables(const EmbeddedVariables&) = delete;
    EmbeddedVariables& operator=(const EmbeddedVariables&) = delete;

    Variant ReadVariable(std::string_view name) override;
    std::int16_t WriteVariable(std::string_view name, const Variant& value) override;
    VariableId resolve(std::string_view name) override;
    Variant read(VariableId id) override;
    std::int16_t readInteger(VariableId id) override;
    std::int16_t write(VariableId id, const Variant& value) override;
    WatchId watch(std::string_view name, ChangeHandler handler) override;
    void unwatch(WatchId id) override;

    // StartCompleted(-1) through the loop, or StartCompleted(0) after the failure was reported. Only the
    // first start counts: the start control starts its runtime once.
    void start(RuntimeEvents& events) override;
    // RuntimeStopped through the loop, once, however often it is asked.
    void StopRuntime() override;

    // Whether the catalogue holds name.
    bool knows(std::string_view name) const;

private:
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
    };

    struct Slot {
        std::string name;
        bool known = false;  // false: resolved by a caller but not in the catalogue
        VariableType type = VariableType::Integer;
        std::int32_t elementCount = 0;
        Variant value;
    };

    Slot& knownSlot(VariableId id);
    const Slot* find(std::string_view name) const;
    std::int16_t store(Slot& slot, const Variant& value);
    // Posts task to the loop, to run only while this runtime still exists.
    void post(std::function<void()> task);

    // The 16-bit integer variables' values once more, densely by id, for readInteger: the cyclic pass reads
    // thousands a second and should find them in a few cache lines. Kept equal to the slots by store().
    struct IntegerCell {
        std::int16_t value = 0;
        bool valid = false;  // a known variable of type Integer
    };
    void mirror(VariableId id);
    // Every read that is not of a known Integer variable: kept out of readInteger's fast path.
    [[gnu::cold, gnu::noinline]] std::int16_t read16BitSlowly(VariableId id);

    EventLoop& loop_;
    std::vector<Slot> slots_;
    std::vector<IntegerCell> integers_;
    std::unordered_map<std::string, VariableId, NameHash, std::equal_to<>> ids_;
    WatchRegistry watches_;

    std::optional<StartFailure> failure_;
    ErrorReporter reportError_;
    RuntimeEvents* events_ = nullptr;
    bool stopped_ = false;

    Lifetime lifetime_;
};

// The runtime for a plant: the built-in variables and those of the plant's kCatalogueFile. When the
// catalogue cannot be loaded the runtime is made in the failed state, with the loader's message as the
// reason, so that the start reports it and fails instead of running with variables missing.
std::unique_ptr<EmbeddedVariables> openEmbeddedVariables(EventLoop& loop, const std::string& baseFolder,
                                                         ErrorReporter reportError);

}  // namespace orvanta
