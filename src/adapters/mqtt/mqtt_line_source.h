// The line over MQTT, both ends of it.
//
// MqttLineSource is the panel's end: the line source of the embedded line display, fed by three retained
// topics that the line's own system publishes,
//   PREFIX/line/config   the line description (the format of Line.json)  -> NewLineParameter
//   PREFIX/line/values   the machines' live language, status and message  -> NewLineData
//   PREFIX/line/online   true or false, the line system's last will        -> Connect
// and losing the broker counts as the line going offline. Each time the panel says its data is updated
// it publishes what the line picture says the panel handed every machine slot to PREFIX/line/display, so
// that any display on the network can draw the line; only when that changed (and again after each
// connect, in case the broker lost it), so that a pass every second or a flood of line values does not
// flood the broker.
//
// MqttLinePublisher is the line system's end, played by the demo simulator: it publishes the description,
// the values and its presence on PREFIX/line/online (the presence topic of its connection).
//
// The description and the values each carry the whole state, so only the newest message of each counts:
// one that comes while an earlier one still waits for the loop takes its place, and it is decoded on the
// loop when taken (MqttConnection::subscribeNewest). A flood of line values thus runs the value
// preparation once per turn of the loop, with the newest values, and costs the network thread no parsing.
//
// The broker sends retained messages again after every reconnection; a message that repeats the last one
// raises nothing. A message that is not what its topic carries is reported (at most once a minute per
// topic, see report_throttle.h) and changes nothing.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "adapters/embedded/embedded_line_display.h"
#include "adapters/mqtt/mqtt_connection.h"
#include "adapters/mqtt/report_throttle.h"
#include "core/error_reporter.h"
#include "core/lifetime.h"
#include "linepicture/line_picture.h"
#include "ports/line_source.h"

namespace orvanta {

class MqttLineSource final : public LineSource {
public:
    // Subscribes on the connection, which must outlive this. reportError is called on the loop.
    MqttLineSource(MqttConnection& connection, ErrorReporter reportError);

    // Hands the listener what is known already, then every change.
    void start(LineSourceListener& listener) override;
    void stop() override;
    // The picture after the panel's DataUpdated(True) (see followDisplay).
    void showPicture(const LinePicture& picture);
    // The topics of the three above on which no message that could be used has come yet, each with what
    // it carries: "PREFIX/line/config (the line's description)".
    std::vector<std::string> awaitedTopics() const;

    // What a message on one of the three topics says, decoded on the network thread.
    struct Message {
        enum class Kind { Config, Values, Online } kind = Kind::Online;
        std::string topic;
        std::string payload;
        std::optional<LineDescription> description;
        std::optional<LineValues> values;
        bool online = false;
        std::string problem;  // non-empty: garbage, nothing else is set
    };

private:
    void received(Message& message);
    void lost();

    MqttConnection& connection_;
    ErrorReporter reportError_;
    const std::string displayTopic_;
    std::optional<std::string> displayPayload_;  // the picture last published on this connection
    ReportThrottle badMessages_;
    LineSourceListener* listener_ = nullptr;
    std::optional<LineDescription> description_;
    std::optional<LineValues> values_;
    std::string configPayload_;
    std::string valuesPayload_;
    bool online_ = false;
    bool onlineCame_ = false;
    Lifetime lifetime_;
};

// Makes source publish display's picture at each DataUpdated(True) of the panel. display must be
// destroyed first, or the observer removed by the key returned before source goes.
int followDisplay(MqttLineSource& source, EmbeddedLineDisplay& display);

class MqttLinePublisher final : public LineSourceListener {
public:
    // connection: its presence topic is PREFIX/line/online; not present until the line comes online.
    // The description is published at once (it waits for the connection if need be).
    MqttLinePublisher(MqttConnection& connection, const LineDescription& description);

    void lineOnline(bool online) override;
    void lineDescription(const LineDescription& description) override;
    void lineValues(const LineValues& values) override;

private:
    MqttConnection& connection_;
    std::string valuesPayload_;
};

}  // namespace orvanta
