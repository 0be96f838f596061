#include "adapters/mqtt/mqtt_variables.h"

#include <mosquitto.h>

#include <algorithm>
#include <utility>

#include "adapters/mqtt/mqtt_payload.h"
#include "core/vb_error.h"

namespace orvanta {
namespace {

// Awaited: the read fails until the value comes, and what is awaited is said by the wait report
// (mqtt_wait_report.h), not by a fault line per read.
VbError noValue(std::string_view name) {
    return VbError(kInvalidCall, "Process variable '" + std::string(name) + "' has no value on the broker",
                   kMqttVariablesSource, VbErrorKind::Awaited);
}

// What a message on PREFIX/vars/NAME says, decoded on the network thread.
MqttVariables::VariableMessage decodeMessage(const std::string& prefix, const std::string& topic,
                                             std::string_view payload) {
    MqttVariables::VariableMessage message;
    message.name = topic.substr(std::min(prefix.size(), topic.size()));
    if (payload.size() > kMaxVariablePayload) {
        message.problem = "the payload of " + std::to_string(payload.size()) + " bytes is larger than 1 MiB";
    } else {
        message.payload.assign(payload);
        message.value = decodeVariablePayload(message.payload, message.problem);
    }
    return message;
}

}  // namespace

MqttVariables::MqttVariables(EventLoop& loop, MqttConnection& connection, ErrorReporter reportError,
                             const std::vector<CatalogueEntry>& catalogue)
    : loop_(loop),
      connection_(connection),
      reportError_(std::move(reportError)),
      varsPrefix_(connection.topic("vars/")),
      badPayloads_(loop, reportError_) {
    for (const CatalogueEntry& entry : catalogue) {
        if (!entry.ownedByPanel) continue;
        ownedStartValues_.emplace_back(entry.name, entry.initialValue.isEmpty()
                                                       ? zeroValue(entry.type, entry.elementCount)
                                                       : entry.initialValue);
    }
    // The decoder runs on the network thread: it touches nothing of this object but through its work,
    // which runs on the loop only while this object lives.
    connection_.subscribe(varsPrefix_ + "#", [this, prefix = varsPrefix_, token = lifetime_.token()](
                                                 const std::string& topic, std::string_view payload) {
        return std::function<void()>(token.guard(
            [this, message = decodeMessage(prefix, topic, payload)]() mutable { received(message); }));
    });
    connection_.onConnected(lifetime_.guard([this] { connected(); }));
    connection_.onSynchronised(lifetime_.guard([this] { synchronised(); }));
}

MqttVariables::~MqttVariables() = default;

bool MqttVariables::validName(std::string_view name) const {
    return !(name.empty() || name.find_first_of(std::string_view("+#\0", 3)) != std::string_view::npos ||
             mosquitto_pub_topic_check2(topicOf(name).c_str(), varsPrefix_.size() + name.size()) !=
                 MOSQ_ERR_SUCCESS ||
             mosquitto_validate_utf8(name.data(), static_cast<int>(name.size())) != MOSQ_ERR_SUCCESS);
}

VbError MqttVariables::invalidName(std::string_view name) {
    return VbError(kInvalidCall,
                   "Process variable '" + std::string(name) + "' is not a valid MQTT topic name",
                   kMqttVariablesSource);
}

std::string MqttVariables::topicOf(std::string_view name) const { return varsPrefix_ + std::string(name); }

ProcessVariables::VariableId MqttVariables::idOf(std::string_view name) {
    if (const auto found = ids_.find(name); found != ids_.end()) {
        Slot& existing = slots_[found->second];
        if (!existing.used) {
            existing.used = true;
            --unusedNames_;
        }
        return found->second;
    }
    const auto id = static_cast<VariableId>(slots_.size());
    Slot added;
    added.name = std::string(name);
    added.validName = validName(name);
    added.used = true;
    slots_.push_back(std::move(added));
    ids_.emplace(std::string(name), id);
    // Its value may have come among the ignored names.
    if (namesIgnored_ && slots_.back().validName) {
        namesIgnored_ = false;
        connection_.refetch();
    }
    return id;
}

std::optional<ProcessVariables::VariableId> MqttVariables::receivedId(const std::string& name) {
    if (const auto found = ids_.find(name); found != ids_.end()) return found->second;
    if (unusedNames_ >= maxUnusedNames_) {
        namesIgnored_ = true;
        if (!limitReported_ && reportError_)
            reportError_("More than " + std::to_string(maxUnusedNames_) +
                         " process variables on the broker are not used by this panel; messages for further "
                         "names (such as '" +
                         name + "') are ignored");
        limitReported_ = true;
        return std::nullopt;
    }
    const auto id = static_cast<VariableId>(slots_.size());
    Slot added;
    added.name = name;
    added.validName = validName(name);
    slots_.push_back(std::move(added));
    ids_.emplace(name, id);
    ++unusedNames_;
    return id;
}

MqttVariables::Slot& MqttVariables::slot(VariableId id) {
    if (id >= slots_.size())
        throw VbError(kInvalidCall,
                      "Process variable id " + std::to_string(id) + " was not issued by this runtime",
                      kMqttVariablesSource);
    return slots_[id];
}

Variant MqttVariables::ReadVariable(std::string_view name) {
    const auto found = ids_.find(name);
    if (found != ids_.end()) return read(idOf(name));
    if (!validName(name)) throw invalidName(name);
    if (!namesIgnored_) {
        awaitedRead(name);
        throw noValue(name);
    }
    idOf(name);
    throw VbError(kInvalidCall,
                  "Process variable '" + std::string(name) +
                      "' has no value yet: messages for names this panel had not used were ignored, and its "
                      "value is requested from the broker again",
                  kMqttVariablesSource);
}

std::int16_t MqttVariables::WriteVariable(std::string_view name, const Variant& value) {
    return write(idOf(name), value);
}

ProcessVariables::VariableId MqttVariables::resolve(std::string_view name) { return idOf(name); }

Variant MqttVariables::read(VariableId id) {
    Slot& found = slot(id);
    if (!found.validName) throw invalidName(found.name);
    if (!found.value) {
        awaitedRead(found.name);
        throw noValue(found.name);
    }
    return *found.value;
}

void MqttVariables::awaitedRead(std::string_view name) {
    if (!awaited_.contains(name)) awaited_.emplace(name);
}

std::vector<std::string> MqttVariables::awaitedVariables() {
    std::erase_if(awaited_, [this](const std::string& name) {
        const auto found = ids_.find(name);
        return found != ids_.end() && slots_[found->second].value.has_value();
    });
    return {awaited_.begin(), awaited_.end()};
}

std::int16_t MqttVariables::write(VariableId id, const Variant& value) {
    Slot& found = slot(id);
    if (!found.validName) throw invalidName(found.name);
    return store(found, value);
}

std::int16_t MqttVariables::store(Slot& target, const Variant& value) {
    std::string payload = encodeVariablePayload(target.name, value);
    std::string problem;
    // As a message with this payload would bring it, so that the echo compares equal.
    std::optional<Variant> stored = decodeVariablePayload(payload, problem);
    if (!stored)
        throw VbError(kInvalidCall, "Process variable '" + target.name + "': " + problem,
                      kMqttVariablesSource);
    target.awaitedEcho = payload;
    target.ownPayload = payload;
    connection_.publish(topicOf(target.name), std::move(payload));
    change(target, std::move(*stored));
    return 0;
}

void MqttVariables::change(Slot& target, Variant value) {
    if (target.value && *target.value == value) return;
    target.value = std::move(value);
    const auto id = static_cast<VariableId>(&target - slots_.data());
    for (WatchId watchId : watches_.of(id)) queueChange(watchId, *target.value);
}

void MqttVariables::queueChange(WatchId watch, const Variant& value) {
    if (changes_.size() >= kMaxWaitingChanges) {
        if (const auto newest = newestChange_.find(watch); newest != newestChange_.end()) {
            changes_[newest->second - changes_.front().number].value = value;
            if (changesMerged_++ == 0 && reportError_)
                reportError_("More than " + std::to_string(kMaxWaitingChanges) +
                             " changes of watched process variables wait for their handlers: until they are "
                             "run, a change replaces the newest waiting change of its variable");
            return;
        }
    }
    const std::uint64_t number = changesQueued_++;
    changes_.push_back(WaitingChange{watch, value, number});
    newestChange_[watch] = number;
    if (deliveryPosted_) return;
    deliveryPosted_ = true;
    post([this] { deliverChanges(); });
}

void MqttVariables::deliverChanges() {
    // The changes that wait now; those the handlers make meanwhile go in the next task, after the work
    // that waits in the loop's queue, so that the timers keep their turn.
    for (std::size_t count = changes_.size(); count > 0 && !changes_.empty(); --count) {
        WaitingChange next = std::move(changes_.front());
        changes_.pop_front();
        if (const auto newest = newestChange_.find(next.watch);
            newest != newestChange_.end() && newest->second == next.number)
            newestChange_.erase(newest);
        watches_.deliver(next.watch, next.value);
    }
    if (!changes_.empty()) {
        post([this] { deliverChanges(); });
        return;
    }
    deliveryPosted_ = false;
    if (const std::uint64_t merged = std::exchange(changesMerged_, 0); merged > 0 && reportError_)
        reportError_.notice(
            "The handlers of watched process variables have caught up: " + std::to_string(merged) +
            " changes were replaced by newer ones of their variable");
}

ProcessVariables::WatchId MqttVariables::watch(std::string_view name, ChangeHandler handler) {
    if (!validName(name)) throw invalidName(name);
    const VariableId variable = idOf(name);
    return watches_.add(variable, std::move(handler));
}

void MqttVariables::unwatch(WatchId id) { watches_.remove(id); }

void MqttVariables::post(std::function<void()> task) { loop_.post(lifetime_.guard(std::move(task))); }

void MqttVariables::received(VariableMessage& message) {
    const std::optional<VariableId> id = receivedId(message.name);
    if (!id) return;
    Slot& target = slots_[*id];
    target.seen = true;
    if (!message.value) {
        badPayloads_(message.name,
                     "Process variable '" + message.name + "' on the broker ignored: " + message.problem);
        return;
    }
    if (target.awaitedEcho) {
        // Whatever the broker ordered before this client's latest write is older than the local value.
        if (message.payload != *target.awaitedEcho) return;
        target.awaitedEcho.reset();
    }
    if (target.ownPayload && message.payload != *target.ownPayload) target.ownPayload.reset();
    change(target, std::move(*message.value));
}

void MqttVariables::start(RuntimeEvents& events) {
    if (events_ != nullptr) return;
    events_ = &events;
    const MqttSettings& settings = connection_.settings();
    if (std::optional<std::string> why = connection_.start()) {
        startDecided_ = true;
        if (reportError_)
            reportError_("The MQTT runtime cannot start (broker " + settings.host + ":" +
                         std::to_string(settings.port) + "): " + *why);
        post([this] { events_->StartCompleted(kFalse); });
        return;
    }
    startTimer_ = std::make_unique<Timer>(loop_, "MqttStartTimeout",
                                          static_cast<std::int32_t>(settings.startTimeout.count()),
                                          [this] { startTimedOut(); });
    startTimer_->setEnabled(true);
}

void MqttVariables::startTimedOut() {
    startTimer_->setEnabled(false);
    if (startDecided_) return;
    startDecided_ = true;
    connection_.stop();
    const MqttSettings& settings = connection_.settings();
    const auto timeout = std::chrono::duration_cast<std::chrono::milliseconds>(settings.startTimeout).count();
    // StartTimeout is set in seconds: say it in seconds.
    const std::string within =
        timeout % 1000 == 0 ? std::to_string(timeout / 1000) + " s" : std::to_string(timeout) + " ms";
    const std::string why = connection_.lastFailure();
    if (reportError_)
        reportError_("The MQTT runtime cannot start: no connection to the broker " + settings.host + ":" +
                     std::to_string(settings.port) + " with its retained variables within " + within +
                     (why.empty() ? std::string() : " (" + why + ")"));
    events_->StartCompleted(kFalse);
}

void MqttVariables::connected() {
    for (Slot& each : slots_) each.seen = false;
}

void MqttVariables::synchronised() {
    std::size_t republished = 0;
    for (Slot& each : slots_) {
        if (!each.ownPayload || each.seen) continue;
        connection_.publish(topicOf(each.name), *each.ownPayload);
        ++republished;
    }
    if (republished > 0 && reportError_)
        reportError_("The MQTT broker had lost " + std::to_string(republished) +
                     " values written by this program; they are published again");
    if (startDecided_ || events_ == nullptr) return;
    startDecided_ = true;
    startTimer_->setEnabled(false);
    startOwnedVariables();
    events_->StartCompleted(kTrue);
}

void MqttVariables::startOwnedVariables() {
    for (const auto& [name, value] : ownedStartValues_) {
        Slot& target = slots_[idOf(name)];
        if (target.value || !target.validName) continue;
        // As a message would bring it, so that a later message of the same value is no change. Nothing
        // is published and no watch fires: the panel's first write publishes it, as with a value held
        // from the start.
        std::string problem;
        try {
            target.value = decodeVariablePayload(encodeVariablePayload(name, value), problem);
        } catch (const VbError& error) {
            problem = error.description();
        }
        if (!target.value && reportError_)
            reportError_("Process variable '" + name + "' has no start value: " + problem);
    }
}

void MqttVariables::StopRuntime() {
    if (events_ == nullptr || stopped_) return;
    stopped_ = true;
    connection_.stop();
    post([this] { events_->RuntimeStopped(); });
}

}  // namespace orvanta
