#include "adapters/mqtt/mqtt_wait_report.h"

#include <utility>

namespace orvanta {
namespace {

std::string joined(const std::vector<std::string>& names, std::size_t shown) {
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < shown; ++i) text += (i == 0 ? "" : ", ") + names[i];
    if (names.size() > shown) text += " and " + std::to_string(names.size() - shown) + " more";
    return text;
}

}  // namespace

MqttWaitReport::MqttWaitReport(EventLoop& loop, MqttConnection& connection, MqttVariables& variables,
                               MqttLineSource& line, ErrorReporter report)
    : connection_(connection),
      variables_(variables),
      line_(line),
      report_(std::move(report)),
      checks_(loop, "MqttWaitReport", kCheckIntervalMs, [this] { check(); }) {
    // Before the first synchronisation nothing has had the chance to come.
    connection_.onSynchronised(lifetime_.guard([this] { checks_.setEnabled(true); }));
}

void MqttWaitReport::check() {
    std::vector<std::string> variables = variables_.awaitedVariables();
    std::vector<std::string> topics = line_.awaitedTopics();
    if (variables == saidVariables_ && topics == saidTopics_) return;
    const bool waitedBefore = !saidVariables_.empty() || !saidTopics_.empty();
    saidVariables_ = std::move(variables);
    saidTopics_ = std::move(topics);
    if (!report_) return;
    if (saidVariables_.empty() && saidTopics_.empty()) {
        if (waitedBefore)
            report_.notice(
                "No longer waiting for the broker: it holds every process variable the panel has "
                "read and the line has come");
        return;
    }
    const MqttSettings& settings = connection_.settings();
    std::string text = "Waiting for the broker " + settings.host + ":" + std::to_string(settings.port) + ":";
    if (!saidVariables_.empty()) {
        text += " " + std::to_string(saidVariables_.size()) + " process variable" +
                (saidVariables_.size() == 1 ? "" : "s") + " that the panel reads ha" +
                (saidVariables_.size() == 1 ? "s" : "ve") + " no value there (topic " +
                variables_.topicOf("NAME") + "): " + joined(saidVariables_, kNamesShown);
    }
    if (!saidTopics_.empty()) {
        text += std::string(saidVariables_.empty() ? "" : ";") +
                " never came: " + joined(saidTopics_, saidTopics_.size());
    }
    report_(text);
}

}  // namespace orvanta
