#include "adapters/mqtt/mqtt_line_source.h"

#include <utility>

#include "adapters/embedded/line_description_file.h"
#include "core/vb_error.h"

namespace orvanta {
namespace {

MqttLineSource::Message decodeLineMessage(MqttLineSource::Message::Kind kind, const std::string& topic,
                                          std::string_view payload) {
    using Kind = MqttLineSource::Message::Kind;
    MqttLineSource::Message message;
    message.kind = kind;
    message.topic = topic;
    try {
        switch (kind) {
            case Kind::Config:
                message.description = parseLineDescription(payload, topic);
                break;
            case Kind::Values:
                message.values = parseLineValues(payload, topic);
                break;
            case Kind::Online:
                // An empty payload is the retained message taken away: nobody says the line is there.
                if (payload == "true")
                    message.online = true;
                else if (payload != "false" && !payload.empty())
                    message.problem = topic + ": expected true or false";
                break;
        }
    } catch (const VbError& error) {
        message.problem = error.description();
    }
    if (message.problem.empty()) message.payload.assign(payload);
    return message;
}

}  // namespace

MqttLineSource::MqttLineSource(MqttConnection& connection, ErrorReporter reportError)
    : connection_(connection),
      reportError_(std::move(reportError)),
      displayTopic_(connection.topic("line/display")),
      badMessages_(connection.loop(), reportError_) {
    using Kind = Message::Kind;
    for (const auto& [below, kind] :
         {std::pair{"line/config", Kind::Config}, std::pair{"line/values", Kind::Values},
          std::pair{"line/online", Kind::Online}}) {
        // This object is touched only by the work, on the loop, while it lives.
        MqttConnection::Decoder decoder = [this, kind = kind, token = lifetime_.token()](
                                              const std::string& topic, std::string_view payload) {
            return std::function<void()>(token.guard(
                [this, message = decodeLineMessage(kind, topic, payload)]() mutable { received(message); }));
        };
        // The description and the values are whole states: only the newest of each counts.
        if (kind == Kind::Online)
            connection_.subscribe(connection.topic(below), std::move(decoder));
        else
            connection_.subscribeNewest(connection.topic(below), std::move(decoder));
    }
    connection_.onLost(lifetime_.guard([this] { lost(); }));
    connection_.onConnected(lifetime_.guard([this] { displayPayload_.reset(); }));
}

void MqttLineSource::start(LineSourceListener& listener) {
    listener_ = &listener;
    if (description_) listener_->lineDescription(*description_);
    if (values_) listener_->lineValues(*values_);
    if (online_) listener_->lineOnline(true);
}

void MqttLineSource::stop() { listener_ = nullptr; }

void MqttLineSource::showPicture(const LinePicture& picture) {
    std::string payload = lineDisplayJson(picture.handed);
    if (payload == displayPayload_) return;
    displayPayload_ = payload;
    connection_.publish(displayTopic_, std::move(payload));
}

std::vector<std::string> MqttLineSource::awaitedTopics() const {
    std::vector<std::string> awaited;
    if (!description_) awaited.push_back(connection_.topic("line/config") + " (the line's description)");
    if (!values_) awaited.push_back(connection_.topic("line/values") + " (the machines' values)");
    if (!onlineCame_) awaited.push_back(connection_.topic("line/online") + " (the line system's presence)");
    return awaited;
}

int followDisplay(MqttLineSource& source, EmbeddedLineDisplay& display) {
    return display.addObserver([&source, &display](EmbeddedLineDisplay::Change change) {
        if (change == EmbeddedLineDisplay::Change::DataUpdated) source.showPicture(display.picture());
    });
}

void MqttLineSource::received(Message& message) {
    if (!message.problem.empty()) {
        badMessages_(message.topic, "Line message ignored: " + message.problem);
        return;
    }
    switch (message.kind) {
        case Message::Kind::Config:
            if (message.payload == configPayload_) return;
            configPayload_ = std::move(message.payload);
            description_ = std::move(message.description);
            if (listener_ != nullptr) listener_->lineDescription(*description_);
            break;
        case Message::Kind::Values:
            if (message.payload == valuesPayload_) return;
            valuesPayload_ = std::move(message.payload);
            values_ = std::move(message.values);
            if (listener_ != nullptr) listener_->lineValues(*values_);
            break;
        case Message::Kind::Online:
            onlineCame_ = true;
            if (message.online == online_) return;
            online_ = message.online;
            if (listener_ != nullptr) listener_->lineOnline(online_);
            break;
    }
}

void MqttLineSource::lost() {
    if (!online_) return;
    online_ = false;
    if (listener_ != nullptr) listener_->lineOnline(false);
}

MqttLinePublisher::MqttLinePublisher(MqttConnection& connection, const LineDescription& description)
    : connection_(connection) {
    connection_.setPresent(false);
    lineDescription(description);
}

void MqttLinePublisher::lineOnline(bool online) { connection_.setPresent(online); }

void MqttLinePublisher::lineDescription(const LineDescription& description) {
    connection_.publish(connection_.topic("line/config"), lineDescriptionJson(description));
}

void MqttLinePublisher::lineValues(const LineValues& values) {
    std::string payload = lineValuesJson(values);
    if (payload == valuesPayload_) return;
    valuesPayload_ = payload;
    connection_.publish(connection_.topic("line/values"), std::move(payload));
}

}  // namespace orvanta
