#include "components/mqtt/mqtt_variables.h"

#include <mosquitto.h>

#include <random>
#include <utility>

#include "components/mqtt/mqtt_payload.h"
#include "components/vb_error.h"

namespace orvanta {
namespace {

void initialiseLibrary() {
    static const int once = mosquitto_lib_init();
    (void)once;
}

std::string uniqueSuffix() {
    std::random_device random;
    std::uniform_int_distribution<std::uint64_t> any;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(any(random)));
    return text;
}

VbError noValue(std::string_view name) {
    return VbError(kInvalidCall, "Process variable '" + std::string(name) + "' has no value on the broker",
                   kMqttVariablesSource);
}

}  // namespace

MqttVariables::MqttVariables(EventLoop& loop, MqttSettings settings, ErrorReporter reportError)
    : loop_(loop),
      settings_(std::move(settings)),
      reportError_(std::move(reportError)),
      varsPrefix_(settings_.topicPrefix + "/vars/"),
      onlineTopic_(settings_.topicPrefix + "/panel/online"),
      syncTopic_(settings_.topicPrefix + "/panel/sync/" + uniqueSuffix()) {}

MqttVariables::~MqttVariables() { endNetwork(); }

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
    if (const auto found = ids_.find(name); found != ids_.end()) return found->second;
    const auto id = static_cast<VariableId>(slots_.size());
    slots_.push_back(Slot{std::string(name), validName(name), std::nullopt, std::nullopt, {}});
    ids_.emplace(std::string(name), id);
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
    if (found == ids_.end()) {
        if (!validName(name)) throw invalidName(name);
        throw noValue(name);
    }
    return read(found->second);
}

std::int16_t MqttVariables::WriteVariable(std::string_view name, const Variant& value) {
    return write(idOf(name), value);
}

ProcessVariables::VariableId MqttVariables::resolve(std::string_view name) { return idOf(name); }

Variant MqttVariables::read(VariableId id) {
    Slot& found = slot(id);
    if (!found.validName) throw invalidName(found.name);
    if (!found.value) throw noValue(found.name);
    return *found.value;
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
    {
        const std::lock_guard lock(mutex_);
        const std::string topic = topicOf(target.name);
        if (connected_) {
            publishLocked(topic, payload, true);
        } else {
            pending_[topic] = std::move(payload);
        }
    }
    change(target, std::move(*stored));
    return 0;
}

void MqttVariables::change(Slot& target, Variant value) {
    if (target.value && *target.value == value) return;
    target.value = std::move(value);
    if (target.watches.empty()) return;
    auto changed = std::make_shared<const Variant>(*target.value);
    for (WatchId watchId : target.watches) post([this, watchId, changed] { deliver(watchId, *changed); });
}

ProcessVariables::WatchId MqttVariables::watch(std::string_view name, ChangeHandler handler) {
    if (!validName(name)) throw invalidName(name);
    const VariableId variable = idOf(name);
    const WatchId id = nextWatch_++;
    watches_.emplace(id, Watch{variable, std::make_shared<const ChangeHandler>(std::move(handler))});
    slots_[variable].watches.push_back(id);
    return id;
}

void MqttVariables::unwatch(WatchId id) {
    const auto found = watches_.find(id);
    if (found == watches_.end()) return;
    std::erase(slots_[found->second.variable].watches, id);
    watches_.erase(found);
}

void MqttVariables::deliver(WatchId id, const Variant& value) {
    const auto found = watches_.find(id);
    if (found == watches_.end()) return;
    const std::shared_ptr<const ChangeHandler> handler = found->second.handler;
    if (*handler) (*handler)(value);
}

void MqttVariables::post(std::function<void()> task) {
    loop_.post([alive = std::weak_ptr<int>(alive_), task = std::move(task)] {
        if (!alive.expired()) task();
    });
}

void MqttVariables::report(std::string message) {
    post([this, message = std::move(message)] {
        if (reportError_) reportError_(message);
    });
}

void MqttVariables::received(const std::string& name, std::optional<Variant> value,
                             const std::string& payload, const std::string& problem) {
    Slot& target = slots_[idOf(name)];
    if (!value) {
        if (reportError_) reportError_("Process variable '" + name + "' on the broker ignored: " + problem);
        return;
    }
    if (target.awaitedEcho) {
        // Whatever the broker ordered before this client's latest write is older than the local value.
        if (payload != *target.awaitedEcho) return;
        target.awaitedEcho.reset();
    }
    change(target, std::move(*value));
}

void MqttVariables::start(RuntimeEvents& events) {
    if (events_ != nullptr) return;
    events_ = &events;
    initialiseLibrary();

    const std::string where = settings_.host + ":" + std::to_string(settings_.port);
    auto fail = [this, where](const std::string& why) {
        startDecided_ = true;
        report("The MQTT runtime cannot start (broker " + where + "): " + why);
        post([this] { events_->StartCompleted(kFalse); });
    };

    mosquitto* client =
        mosquitto_new(settings_.clientId.empty() ? nullptr : settings_.clientId.c_str(), true, this);
    if (client == nullptr) return fail("the MQTT client could not be created");
    {
        const std::lock_guard lock(mutex_);
        client_ = client;
    }
    mosquitto_connect_callback_set(client, &MqttVariables::onConnect);
    mosquitto_disconnect_callback_set(client, &MqttVariables::onDisconnect);
    mosquitto_subscribe_callback_set(client, &MqttVariables::onSubscribe);
    mosquitto_message_callback_set(client, &MqttVariables::onMessage);
    mosquitto_reconnect_delay_set(client, static_cast<unsigned>(settings_.reconnectDelayMin.count()),
                                  static_cast<unsigned>(settings_.reconnectDelayMax.count()), true);
    int rc = mosquitto_will_set(client, onlineTopic_.c_str(), 5, "false", 1, true);
    if (rc == MOSQ_ERR_SUCCESS && !settings_.username.empty())
        rc = mosquitto_username_pw_set(client, settings_.username.c_str(),
                                       settings_.password.empty() ? nullptr : settings_.password.c_str());
    if (rc == MOSQ_ERR_SUCCESS && !settings_.caFile.empty())
        rc = mosquitto_tls_set(client, settings_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) return fail(mosquitto_strerror(rc));

    startTimer_ = std::make_unique<Timer>(loop_, "MqttStartTimeout",
                                          static_cast<std::int32_t>(settings_.startTimeout.count()),
                                          [this] { startTimedOut(); });
    startTimer_->setEnabled(true);

    // A refused first attempt is retried by the network thread like a lost connection.
    rc = mosquitto_connect_async(client, settings_.host.c_str(), settings_.port,
                                 static_cast<int>(settings_.keepAlive.count()));
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_ERRNO && rc != MOSQ_ERR_EAI)
        return fail(mosquitto_strerror(rc));
    rc = mosquitto_loop_start(client);
    if (rc != MOSQ_ERR_SUCCESS) return fail(mosquitto_strerror(rc));
    networkRunning_ = true;
}

void MqttVariables::startTimedOut() {
    startTimer_->setEnabled(false);
    if (startDecided_) return;
    startDecided_ = true;
    endNetwork();
    if (reportError_)
        reportError_("The MQTT runtime cannot start: no connection to the broker " + settings_.host + ":" +
                     std::to_string(settings_.port) + " with its retained variables within " +
                     std::to_string(settings_.startTimeout.count()) + " ms");
    events_->StartCompleted(kFalse);
}

void MqttVariables::synchronised() {
    if (startDecided_) return;
    startDecided_ = true;
    startTimer_->setEnabled(false);
    events_->StartCompleted(kTrue);
}

void MqttVariables::StopRuntime() {
    if (events_ == nullptr || stopped_) return;
    stopped_ = true;
    {
        const std::lock_guard lock(mutex_);
        if (connected_) publishLocked(onlineTopic_, "false", true);
    }
    endNetwork();
    post([this] { events_->RuntimeStopped(); });
}

void MqttVariables::endNetwork() {
    mosquitto* client = nullptr;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        client = client_;
    }
    if (client == nullptr) return;
    mosquitto_disconnect(client);
    if (networkRunning_) mosquitto_loop_stop(client, false);
    networkRunning_ = false;
    {
        const std::lock_guard lock(mutex_);
        client_ = nullptr;
        connected_ = false;
    }
    mosquitto_destroy(client);
}

void MqttVariables::publishLocked(const std::string& topic, const std::string& payload, bool retain) {
    const int rc = mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                                     payload.data(), 1, retain);
    if (rc == MOSQ_ERR_NO_CONN) {
        pending_[topic] = payload;
    } else if (rc != MOSQ_ERR_SUCCESS) {
        report("Publishing " + topic + " failed: " + mosquitto_strerror(rc));
    }
}

void MqttVariables::onConnect(mosquitto* client, void* self, int rc) {
    auto& me = *static_cast<MqttVariables*>(self);
    const std::lock_guard lock(me.mutex_);
    if (me.stopping_) return;
    if (rc != 0) {
        me.report("The MQTT broker refused the connection: " + std::string(mosquitto_connack_string(rc)));
        return;
    }
    me.connected_ = true;
    if (me.lost_) {
        me.lost_ = false;
        me.report("The connection to the MQTT broker is back");
    }
    me.publishLocked(me.onlineTopic_, "true", true);
    // Before the subscription: the retained values it brings then already hold these writes.
    std::map<std::string, std::string> pending;
    pending.swap(me.pending_);
    for (const auto& [topic, payload] : pending) me.publishLocked(topic, payload, true);

    const std::string vars = me.varsPrefix_ + "#";
    char* topics[] = {const_cast<char*>(vars.c_str()), const_cast<char*>(me.syncTopic_.c_str())};
    int mid = 0;
    const int subscribed = mosquitto_subscribe_multiple(client, &mid, 2, topics, 1, 0, nullptr);
    if (subscribed != MOSQ_ERR_SUCCESS) {
        me.report("Subscribing to " + vars + " failed: " + mosquitto_strerror(subscribed));
        return;
    }
    me.subscribeMid_ = mid;
}

void MqttVariables::onDisconnect(mosquitto*, void* self, int rc) {
    auto& me = *static_cast<MqttVariables*>(self);
    const std::lock_guard lock(me.mutex_);
    const bool wasConnected = me.connected_;
    me.connected_ = false;
    if (me.stopping_ || rc == 0 || !wasConnected) return;
    me.lost_ = true;
    me.report("The connection to the MQTT broker was lost (" + std::string(mosquitto_strerror(rc)) +
              "); reconnecting");
}

void MqttVariables::onSubscribe(mosquitto*, void* self, int mid, int, const int*) {
    auto& me = *static_cast<MqttVariables*>(self);
    const std::lock_guard lock(me.mutex_);
    if (mid != me.subscribeMid_ || me.stopping_) return;
    me.publishLocked(me.syncTopic_, "sync", false);
}

void MqttVariables::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto& me = *static_cast<MqttVariables*>(self);
    const std::string topic = message->topic;
    if (topic == me.syncTopic_) {
        me.post([&me] { me.synchronised(); });
        return;
    }
    if (!topic.starts_with(me.varsPrefix_)) return;
    std::string name = topic.substr(me.varsPrefix_.size());
    const std::size_t length = message->payloadlen > 0 ? static_cast<std::size_t>(message->payloadlen) : 0;
    std::string problem;
    std::optional<Variant> value;
    std::string payload;
    if (length > kMaxVariablePayload) {
        problem = "the payload of " + std::to_string(length) + " bytes is larger than 1 MiB";
    } else {
        payload.assign(static_cast<const char*>(message->payload), length);
        value = decodeVariablePayload(payload, problem);
    }
    me.post(
        [&me, name = std::move(name), value = std::move(value), payload = std::move(payload),
         problem = std::move(problem)]() mutable { me.received(name, std::move(value), payload, problem); });
}

}  // namespace orvanta
