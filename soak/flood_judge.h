// What the flood soak publishes, and how it judges what the broker holds after a flood.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "adapters/embedded/line_description_file.h"
#include "adapters/mqtt/mqtt_payload.h"
#include "core/variant.h"
#include "ports/line_source.h"
#include "ports/variable_names.h"

namespace orvanta::soak {

inline std::string varTopic(std::string_view name) { return "soak/vars/" + std::string(name); }
inline std::string lineTopic(std::string_view below) { return "soak/line/" + std::string(below); }

// Valid line values that differ with every n: each foreign machine in use gets a status and a message of
// its own for n, in the language its description gives (so that fonts and character sets stay put).
class LineValuesMaker {
public:
    explicit LineValuesMaker(const LineDescription& description) {
        for (int m = 0; m < kLineMachineCount; ++m) {
            const LineMachine& machine = description.machines.at(static_cast<std::size_t>(m));
            if (machine.enabled && machine.foreign) machines_.push_back({m, machine.languageId});
        }
    }
    std::string operator()(std::int64_t n) const {
        std::string json = "{\"machines\": [";
        std::size_t next = 0;
        for (int m = 0; !machines_.empty() && m <= machines_.back().index; ++m) {
            if (m > 0) json += ", ";
            if (machines_[next].index != m) {
                json += "{}";
                continue;
            }
            json += "{\"languageId\": " + std::to_string(machines_[next].languageId) +
                    ", \"status\": " + std::to_string((n + m) % 7) + ", \"message\": \"Meldung " +
                    std::to_string(n) + "/" + std::to_string(m) + "\"}";
            ++next;
        }
        return json + "]}";
    }
    // The foreign machines in use, whose values the panel shows.
    std::vector<int> indices() const {
        std::vector<int> result;
        for (const Machine& machine : machines_) result.push_back(machine.index);
        return result;
    }

private:
    struct Machine {
        int index;
        std::int32_t languageId;
    };
    std::vector<Machine> machines_;
};

enum class FloodKind { WatchedVariable, LineValues, Garbage, NewNames };

struct Flood {
    FloodKind kind;
    const char* name;
};

inline constexpr Flood kFloods[] = {{FloodKind::WatchedVariable, "watched variable"},
                                    {FloodKind::LineValues, "line values"},
                                    {FloodKind::Garbage, "garbage"},
                                    {FloodKind::NewNames, "new names"}};

struct FloodMessage {
    std::string topic;
    std::string payload;
    bool retain = false;
};

// The n-th message of a flood. Garbage and new names are not retained: the broker should not keep them
// for the next connection, nor hold millions of topics itself.
inline FloodMessage floodMessage(FloodKind kind, std::int64_t n, const LineValuesMaker& line) {
    const std::string number = std::to_string(n);
    switch (kind) {
        case FloodKind::WatchedVariable:
            return {varTopic(vars::kLiHNummer), std::to_string(n % 30000 + 1), true};
        case FloodKind::LineValues:
            return {lineTopic("values"), line(n), true};
        case FloodKind::Garbage: {
            static const char* const kBad[] = {"{\"machines\": [", "not json ", "[1, \"two\"", "\xff\xfe"};
            return {n % 2 == 0 ? varTopic(vars::kLiHStatus) : lineTopic("values"), kBad[n % 4] + number,
                    false};
        }
        case FloodKind::NewNames:
            return {varTopic("flood/" + number), number, false};
    }
    return {};
}

// The payload the broker holds on a topic, if any.
using HeldPayload = std::function<std::optional<std::string>(const std::string& topic)>;

// What the broker holds of the panel's answer to the last inputs, against what they ask for: the echo of
// a heartbeat not older than oldestHeartbeat, and the status and message of each foreign machine of the
// last line values. Empty when everything is there, else the first difference.
inline std::string lastValuesDifference(const HeldPayload& held, std::optional<long> echo,
                                        long oldestHeartbeat, const std::string& lineValues,
                                        const std::vector<int>& foreign) {
    if (!echo || *echo < oldestHeartbeat)
        return "the echo is " + (echo ? std::to_string(*echo) : std::string("missing")) +
               ", the heartbeat at least " + std::to_string(oldestHeartbeat);
    const LineValues values = parseLineValues(lineValues, "line values");
    const auto decoded = [](const std::optional<std::string>& payload) -> std::optional<Variant> {
        std::string problem;
        return payload ? decodeVariablePayload(*payload, problem) : std::nullopt;
    };
    const std::optional<std::string> statusPayload = held(varTopic(vars::kLiSStatus));
    const std::optional<Variant> statuses = decoded(statusPayload);
    for (const int m : foreign) {
        const auto at = static_cast<std::size_t>(m);
        const MachineValues& expected = values.at(at);
        if (!statuses || !statuses->isArray() || statuses->asArray().size() <= at ||
            statuses->asArray().at(at) != Variant::integer(expected.status))
            return "machine " + std::to_string(m) + ": the broker's statuses are " +
                   statusPayload.value_or("missing") + ", the line's status is " +
                   std::to_string(expected.status);
        const std::optional<std::string> message = held(varTopic(vars::indexed(vars::kLiSMessageBase, m)));
        const std::optional<Variant> text = decoded(message);
        if (!text || *text != Variant::text(expected.message))
            return "machine " + std::to_string(m) + ": the broker's message is " +
                   message.value_or("missing") + ", the line's \"" + expected.message + "\"";
    }
    return {};
}

}  // namespace orvanta::soak
