// What the panel expects of the process-variable runtime: read and write a variable by name, watch a
// name for changes, and the runtime's start and stop. Implemented by the embedded in-process runtime and
// by the MQTT backend; tests use a recording double.
//
// A name that the runtime does not know is an error naming the variable (never a silent 0). Hot paths
// resolve a name once and then read by id: the cyclic pass reads hundreds of variables a second.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/variant.h"

namespace orvanta {

class ProcessVariables {
public:
    using VariableId = std::uint32_t;
    using WatchId = std::uint64_t;
    using ChangeHandler = std::function<void(const Variant& value)>;

    virtual ~ProcessVariables() = default;

    // VariableAccess.ReadVariable: the current value. Throws VbError when it cannot be read.
    virtual Variant ReadVariable(std::string_view name) = 0;
    // VariableAccess.WriteVariable: returns a status that no caller examines. Throws VbError on failure.
    virtual std::int16_t WriteVariable(std::string_view name, const Variant& value) = 0;

    // The id of a name; never fails. A name the runtime does not know fails when it is read or written.
    virtual VariableId resolve(std::string_view name) = 0;
    virtual Variant read(VariableId id) = 0;
    virtual std::int16_t write(VariableId id, const Variant& value) = 0;
    // The value as a 16-bit integer, converted as toInteger() does: the cyclic pass's read, thousands of
    // times a second, which a runtime can answer without making a Variant.
    virtual std::int16_t readInteger(VariableId id) { return toInteger(read(id)); }

    // The Change event of a VWSVarServer: the handler runs on the loop with the new value whenever the
    // value changes, whoever changed it.
    virtual WatchId watch(std::string_view name, ChangeHandler handler) = 0;
    virtual void unwatch(WatchId id) = 0;
};

// The events of the runtime's start control (VWSStart).
class RuntimeEvents {
public:
    virtual ~RuntimeEvents() = default;
    // Success is a 16-bit Boolean: -1 when the runtime runs, 0 when it could not start.
    virtual void StartCompleted(std::int16_t Success) = 0;
    virtual void RuntimeStopped() = 0;
};

// The runtime's start control: started once by the start form, stopped by the program end.
class RuntimeControl {
public:
    virtual ~RuntimeControl() = default;
    // Begins the start; StartCompleted follows through the loop.
    virtual void start(RuntimeEvents& events) = 0;
    // Late-bound member 142 of the original control; RuntimeStopped follows through the loop.
    virtual void StopRuntime() = 0;
};

// A watch that lives as long as its owner: the form's VWSVarServer controls.
class VarServer {
public:
    VarServer(ProcessVariables& variables, std::string VariableName, ProcessVariables::ChangeHandler onChange)
        : variables_(variables),
          VariableName_(std::move(VariableName)),
          id_(variables_.watch(VariableName_, std::move(onChange))) {}
    ~VarServer() { variables_.unwatch(id_); }
    VarServer(const VarServer&) = delete;
    VarServer& operator=(const VarServer&) = delete;

    const std::string& VariableName() const { return VariableName_; }

private:
    ProcessVariables& variables_;
    std::string VariableName_;
    ProcessVariables::WatchId id_;
};

}  // namespace orvanta
