#include "support/recording_variables.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace orvanta::testing {
namespace {

const char* const kSource = "RecordingVariables";

VbError unknown(std::string_view name) {
    return VbError(kInvalidCall, "Process variable '" + std::string(name) + "' is not set in the test",
                   kSource);
}

}  // namespace

void RecordingVariables::set(std::string_view name, const Variant& value) {
    values_.insert_or_assign(std::string(name), value);
}

Variant RecordingVariables::value(std::string_view name) const {
    const auto found = values_.find(name);
    if (found == values_.end()) throw unknown(name);
    return found->second;
}

bool RecordingVariables::has(std::string_view name) const { return values_.find(name) != values_.end(); }

void RecordingVariables::failReadsOf(std::string_view name, VbError error) {
    readFailures_.insert_or_assign(std::string(name), std::move(error));
}

void RecordingVariables::failWritesOf(std::string_view name, VbError error) {
    writeFailures_.insert_or_assign(std::string(name), std::move(error));
}

std::vector<RecordingVariables::Access> RecordingVariables::reads() const {
    std::vector<Access> result;
    std::copy_if(events_.begin(), events_.end(), std::back_inserter(result),
                 [](const Access& access) { return access.kind == Access::Read; });
    return result;
}

std::vector<RecordingVariables::Access> RecordingVariables::writes() const {
    std::vector<Access> result;
    std::copy_if(events_.begin(), events_.end(), std::back_inserter(result),
                 [](const Access& access) { return access.kind == Access::Write; });
    return result;
}

void RecordingVariables::change(std::string_view name, const Variant& value) {
    set(name, value);
    std::vector<WatchId> ids;
    for (const auto& [id, watch] : watches_) {
        if (watch.name == name) ids.push_back(id);
    }
    for (WatchId id : ids) {
        const auto found = watches_.find(id);
        if (found == watches_.end()) continue;  // removed by an earlier handler
        const auto handler = found->second.handler;
        (*handler)(value);
    }
}

int RecordingVariables::watchers(std::string_view name) const {
    return static_cast<int>(std::count_if(watches_.begin(), watches_.end(),
                                          [&](const auto& entry) { return entry.second.name == name; }));
}

Variant RecordingVariables::ReadVariable(std::string_view name) {
    if (const auto failure = readFailures_.find(name); failure != readFailures_.end()) throw failure->second;
    Variant result = value(name);
    events_.push_back({Access::Read, std::string(name), result});
    return result;
}

std::int16_t RecordingVariables::WriteVariable(std::string_view name, const Variant& value) {
    if (const auto failure = writeFailures_.find(name); failure != writeFailures_.end())
        throw failure->second;
    const auto found = values_.find(name);
    if (found == values_.end()) throw unknown(name);
    found->second = value;
    events_.push_back({Access::Write, std::string(name), value});
    return 0;
}

ProcessVariables::VariableId RecordingVariables::resolve(std::string_view name) {
    const auto found = std::find(resolved_.begin(), resolved_.end(), name);
    if (found != resolved_.end()) return static_cast<VariableId>(found - resolved_.begin());
    resolved_.emplace_back(name);
    return static_cast<VariableId>(resolved_.size() - 1);
}

const std::string& RecordingVariables::nameOf(VariableId id) const {
    if (id >= resolved_.size())
        throw VbError(kInvalidCall, "Variable id " + std::to_string(id) + " was never resolved", kSource);
    return resolved_[id];
}

Variant RecordingVariables::read(VariableId id) { return ReadVariable(nameOf(id)); }

std::int16_t RecordingVariables::write(VariableId id, const Variant& value) {
    return WriteVariable(nameOf(id), value);
}

ProcessVariables::WatchId RecordingVariables::watch(std::string_view name, ChangeHandler handler) {
    if (!has(name)) throw unknown(name);
    const WatchId id = nextWatch_++;
    watches_.emplace(id, Watch{std::string(name), std::make_shared<const ChangeHandler>(std::move(handler))});
    return id;
}

void RecordingVariables::unwatch(WatchId id) { watches_.erase(id); }

std::ostream& operator<<(std::ostream& out, const RecordingVariables::Access& access) {
    out << (access.kind == RecordingVariables::Access::Read ? "Read " : "Write ") << access.name << " = ";
    const Variant& value = access.value;
    if (value.isArray()) {
        out << "[";
        const auto& elements = value.asArray();
        for (std::size_t i = 0; i < elements.size(); ++i) {
            if (i > 0) out << ", ";
            out << (elements[i].isArray() || elements[i].isNull() ? elements[i].kindName()
                                                                  : toText(elements[i]));
        }
        return out << "]";
    }
    if (value.isNull()) return out << "Null";
    return out << value.kindName() << " " << toText(value);
}

}  // namespace orvanta::testing
