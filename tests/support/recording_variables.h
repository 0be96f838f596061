// A process-variable store for the logic's unit tests. The test fills it with set(), the logic reads and
// writes it, and the test checks what was read and written, in order:
//
//   vars.set(vars::kLiHStatus, Variant::integer(0));
//   ... run the handler ...
//   EXPECT_EQ(vars.writes(), (std::vector<RecordingVariables::Access>{{Write, vars::kLiLNeu,
//   Variant::integer(1)}}));
//
// Only accesses that succeed are recorded; a read records the value it returned, a write the value as
// given. Names the test has not set are errors naming the variable, as in the real runtime. Values are
// stored as written, without conversion. Change events are delivered by the test with change(),
// synchronously, because the test drives the loop itself.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "core/vb_error.h"
#include "ports/process_variables.h"

namespace orvanta::testing {

class RecordingVariables : public ProcessVariables {
public:
    struct Access {
        enum Kind { Read, Write };
        Kind kind;
        std::string name;
        Variant value;
        friend bool operator==(const Access&, const Access&) = default;
    };

    // Makes name known with this value; nothing is recorded.
    void set(std::string_view name, const Variant& value);
    // The stored value of a known name, without recording a read.
    Variant value(std::string_view name) const;
    bool has(std::string_view name) const;

    // From now on every read (or write) of name throws error.
    void failReadsOf(std::string_view name, VbError error);
    void failWritesOf(std::string_view name, VbError error);

    const std::vector<Access>& events() const { return events_; }
    std::vector<Access> reads() const;
    std::vector<Access> writes() const;
    // Forgets the recorded accesses; values, failures and watches stay.
    void clear() { events_.clear(); }

    // The variable changes from outside: the value is stored and every handler watching name runs now.
    void change(std::string_view name, const Variant& value);
    // How many watches name has.
    int watchers(std::string_view name) const;

    Variant ReadVariable(std::string_view name) override;
    std::int16_t WriteVariable(std::string_view name, const Variant& value) override;
    VariableId resolve(std::string_view name) override;
    Variant read(VariableId id) override;
    std::int16_t write(VariableId id, const Variant& value) override;
    WatchId watch(std::string_view name, ChangeHandler handler) override;
    void unwatch(WatchId id) override;

private:
    struct Watch {
        std::string name;
        std::shared_ptr<const ChangeHandler> handler;
    };

    const std::string& nameOf(VariableId id) const;

    std::map<std::string, Variant, std::less<>> values_;
    std::map<std::string, VbError, std::less<>> readFailures_;
    std::map<std::string, VbError, std::less<>> writeFailures_;
    std::vector<std::string> resolved_;
    std::map<WatchId, Watch> watches_;
    WatchId nextWatch_ = 1;
    std::vector<Access> events_;
};

// For readable failure messages of EXPECT_EQ on accesses.
std::ostream& operator<<(std::ostream& out, const RecordingVariables::Access& access);

}  // namespace orvanta::testing
