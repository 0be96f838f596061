#include "adapters/embedded/embedded_variables.h"

#include <utility>

#include "adapters/embedded/catalogue_file.h"
#include "core/vb_error.h"
#include "service/plant_files.h"

namespace orvanta {
namespace {

VbError notInCatalogue(std::string_view name) {
    return VbError(kInvalidCall, "Process variable '" + std::string(name) + "' is not in the catalogue",
                   kEmbeddedRuntimeSource);
}

}  // namespace

EmbeddedVariables::EmbeddedVariables(EventLoop& loop, const std::vector<CatalogueEntry>& catalogue)
    : loop_(loop) {
    slots_.reserve(catalogue.size());
    ids_.reserve(catalogue.size());
    for (const CatalogueEntry& entry : catalogue) {
        if (ids_.contains(entry.name))
            throw VbError(kInvalidCall,
                          "Process variable '" + entry.name + "' is declared twice in the catalogue",
                          kEmbeddedRuntimeSource);
        const Variant initial =
            entry.initialValue.isEmpty() ? zeroValue(entry.type, entry.elementCount) : entry.initialValue;
        Slot slot;
        slot.name = entry.name;
        slot.known = true;
        slot.type = entry.type;
        slot.elementCount = entry.elementCount;
        slot.value = convertToDeclaredType(entry.name, entry.type, entry.elementCount, initial);
        ids_.emplace(entry.name, static_cast<VariableId>(slots_.size()));
        slots_.push_back(std::move(slot));
        mirror(static_cast<VariableId>(slots_.size() - 1));
    }
}

void EmbeddedVariables::mirror(VariableId id) {
    if (integers_.size() < slots_.size()) integers_.resize(slots_.size());
    const Slot& slot = slots_[id];
    const std::int16_t* value = slot.value.ifInteger();
    integers_[id] = {value != nullptr ? *value : std::int16_t{0}, slot.known && value != nullptr};
}

EmbeddedVariables::EmbeddedVariables(EventLoop& loop, StartFailure failure, ErrorReporter reportError)
    : loop_(loop), failure_(std::move(failure)), reportError_(std::move(reportError)) {}

const EmbeddedVariables::Slot* EmbeddedVariables::find(std::string_view name) const {
    const auto found = ids_.find(name);
    if (found == ids_.end()) return nullptr;
    const Slot& slot = slots_[found->second];
    return slot.known ? &slot : nullptr;
}

bool EmbeddedVariables::knows(std::string_view name) const { return find(name) != nullptr; }

EmbeddedVariables::Slot& EmbeddedVariables::knownSlot(VariableId id) {
    if (id >= slots_.size())
        throw VbError(kInvalidCall,
                      "Process variable id " + std::to_string(id) + " was not issued by this runtime",
                      kEmbeddedRuntimeSource);
    Slot& slot = slots_[id];
    if (!slot.known) throw notInCatalogue(slot.name);
    return slot;
}

Variant EmbeddedVariables::ReadVariable(std::string_view name) {
    const Slot* slot = find(name);
    if (slot == nullptr) throw notInCatalogue(name);
    return slot->value;
}

std::int16_t EmbeddedVariables::WriteVariable(std::string_view name, const Variant& value) {
    const auto found = ids_.find(name);
    if (found == ids_.end()) throw notInCatalogue(name);
    return store(knownSlot(found->second), value);
}

ProcessVariables::VariableId EmbeddedVariables::resolve(std::string_view name) {
    if (const auto found = ids_.find(name); found != ids_.end()) return found->second;
    // Remembered, so that a later read by this id names the variable in its error.
    const auto id = static_cast<VariableId>(slots_.size());
    Slot slot;
    slot.name = std::string(name);
    slots_.push_back(std::move(slot));
    ids_.emplace(std::string(name), id);
    return id;
}

Variant EmbeddedVariables::read(VariableId id) { return knownSlot(id).value; }

std::int16_t EmbeddedVariables::readInteger(VariableId id) {
    if (id < integers_.size() && integers_[id].valid) [[likely]]
        return integers_[id].value;
    return read16BitSlowly(id);
}

std::int16_t EmbeddedVariables::read16BitSlowly(VariableId id) { return toInteger(knownSlot(id).value); }

std::int16_t EmbeddedVariables::write(VariableId id, const Variant& value) {
    return store(knownSlot(id), value);
}

std::int16_t EmbeddedVariables::store(Slot& slot, const Variant& value) {
    Variant converted = convertToDeclaredType(slot.name, slot.type, slot.elementCount, value);
    if (converted == slot.value) return 0;
    slot.value = std::move(converted);
    const auto id = static_cast<VariableId>(&slot - slots_.data());
    mirror(id);
    if (const std::vector<WatchId>& watching = watches_.of(id); !watching.empty()) {
        auto changed = std::make_shared<const Variant>(slot.value);
        for (WatchId watchId : watching)
            post([this, watchId, changed] { watches_.deliver(watchId, *changed); });
    }
    return 0;
}

ProcessVariables::WatchId EmbeddedVariables::watch(std::string_view name, ChangeHandler handler) {
    const auto found = ids_.find(name);
    if (found == ids_.end() || !slots_[found->second].known)
        throw VbError(kInvalidCall,
                      "Cannot watch process variable '" + std::string(name) + "': it is not in the catalogue",
                      kEmbeddedRuntimeSource);
    return watches_.add(found->second, std::move(handler));
}

void EmbeddedVariables::unwatch(WatchId id) { watches_.remove(id); }

void EmbeddedVariables::post(std::function<void()> task) { loop_.post(lifetime_.guard(std::move(task))); }

void EmbeddedVariables::start(RuntimeEvents& events) {
    if (events_ != nullptr) return;
    events_ = &events;
    if (failure_) {
        post([this] {
            if (reportError_) reportError_("The process-variable runtime cannot start: " + failure_->reason);
            events_->StartCompleted(kFalse);
        });
        return;
    }
    post([this] { events_->StartCompleted(kTrue); });
}

void EmbeddedVariables::StopRuntime() {
    if (events_ == nullptr || stopped_) return;
    stopped_ = true;
    post([this] { events_->RuntimeStopped(); });
}

std::unique_ptr<EmbeddedVariables> openEmbeddedVariables(EventLoop& loop, const std::string& baseFolder,
                                                         ErrorReporter reportError) {
    try {
        const std::string path = plantFile(baseFolder, kCatalogueFile);
        return std::make_unique<EmbeddedVariables>(
            loop, mergeCatalogues(builtinVariables(), loadCatalogueFile(path), path));
    } catch (const VbError& error) {
        return std::make_unique<EmbeddedVariables>(loop, EmbeddedVariables::StartFailure{error.description()},
                                                   std::move(reportError));
    }
}

}  // namespace orvanta
