#include "ports/watch_registry.h"

#include <utility>

namespace orvanta {

WatchRegistry::WatchId WatchRegistry::add(VariableId variable, ChangeHandler handler) {
    const WatchId id = next_++;
    watches_.emplace(id, Watch{variable, std::make_shared<const ChangeHandler>(std::move(handler))});
    if (byVariable_.size() <= variable) byVariable_.resize(static_cast<std::size_t>(variable) + 1);
    byVariable_[variable].push_back(id);
    return id;
}

void WatchRegistry::remove(WatchId id) {
    const auto found = watches_.find(id);
    if (found == watches_.end()) return;
    std::erase(byVariable_[found->second.variable], id);
    watches_.erase(found);
}

const std::vector<WatchRegistry::WatchId>& WatchRegistry::of(VariableId variable) const {
    static const std::vector<WatchId> none;
    return variable < byVariable_.size() ? byVariable_[variable] : none;
}

void WatchRegistry::deliver(WatchId id, const Variant& value) {
    const auto found = watches_.find(id);
    if (found != watches_.end()) run(found->second, value);
}

void WatchRegistry::run(const Watch& watch, const Variant& value) {
    const std::shared_ptr<const ChangeHandler> handler = watch.handler;
    if (*handler) (*handler)(value);
}

}  // namespace orvanta
