#include "sim/sim_command_line.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include "demo/demo_simulator.h"
#include "program/command_line.h"

namespace orvanta {
namespace {

// The whole text as a number of the given kind, or nothing: no sign, blank or trailing text is accepted.
template <typename Number>
std::optional<Number> plainNumber(std::string_view text) {
    Number value{};
    if (text.empty() || text.front() == '-' || text.front() == '+') return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

SimCommandLineResult parseSimCommandLine(const std::vector<std::string>& arguments) {
    SimCommandLineResult result;
    SimCommandLine& options = result.options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::optional<std::string> value;
        if (name.rfind("--", 0) == 0) {
            if (const std::size_t equals = name.find('='); equals != std::string::npos) {
                value = name.substr(equals + 1);
                name.resize(equals);
            }
        }
        // The value of an option that needs one, from "=" or the next argument.
        const auto takeValue = [&]() -> std::optional<std::string> {
            if (value) return value;
            if (i + 1 < arguments.size()) return arguments[++i];
            return std::nullopt;
        };

        if (name == "--base") {
            const std::optional<std::string> folder = takeValue();
            if (!folder || folder->empty()) {
                result.error = "--base needs the plant folder";
                return result;
            }
            options.baseFolder = *folder;
        } else if (name == "--backend") {
            const std::string backend = takeValue().value_or("");
            const std::optional<BackendKind> kind = backendKindNamed(backend);
            if (kind == BackendKind::Embedded) {
                result.error =
                    "--backend embedded: orvanta-sim plays the line over MQTT only; the embedded "
                    "demo runs inside the panel with `orvanta --simulate`";
                return result;
            }
            if (!kind) {
                result.error = "--backend needs mqtt";
                if (!backend.empty()) result.error += ", not '" + backend + "'";
                return result;
            }
            options.backend = kind;
        } else if (name == "--rate") {
            const std::string text = takeValue().value_or("");
            const std::optional<double> rate = plainNumber<double>(text);
            if (!rate || !std::isfinite(*rate) || *rate <= 0.0 || *rate > DemoSimulator::kMaxRate) {
                result.error = "--rate needs a number above 0 and at most 1000";
                if (!text.empty()) result.error += ", not '" + text + "'";
                return result;
            }
            options.rate = *rate;
        } else if (name == "--seed") {
            const std::string text = takeValue().value_or("");
            const std::optional<std::uint32_t> seed = plainNumber<std::uint32_t>(text);
            if (!seed) {
                result.error = "--seed needs a whole number from 0 to 4294967295";
                if (!text.empty()) result.error += ", not '" + text + "'";
                return result;
            }
            options.seed = *seed;
        } else if (name == "--run-for") {
            const std::string text = takeValue().value_or("");
            const std::optional<int> seconds = plainNumber<int>(text);
            // Beyond this the timer's milliseconds would wrap around and end the run at once.
            if (!seconds || *seconds < 1 || *seconds > kMaxRunForSeconds) {
                result.error =
                    "--run-for needs a number of seconds from 1 to " + std::to_string(kMaxRunForSeconds);
                if (!text.empty()) result.error += ", not '" + text + "'";
                return result;
            }
            options.runForSeconds = *seconds;
        } else if ((name == "--help" || name == "-h") && !value) {
            options.help = true;
        } else if (name == "--version" && !value) {
            options.version = true;
        } else {
            result.error = "unknown argument '" + arguments[i] + "'";
            return result;
        }
    }
    return result;
}

std::string simUsageText() {
    return "Usage: orvanta-sim --base DIR [--backend mqtt] [--rate R] [--seed N]\n"
           "                   [--run-for SECONDS] [--help] [--version]\n"
           "\n"
           "Plays the demo world of a plant over MQTT: the line system (its description, its foreign\n"
           "machines' values, its presence on PREFIX/line/online) and the visualisation (heartbeat,\n"
           "answers to the line alarm, language changes, the own machines' alarm bits), so that\n"
           "`orvanta --backend mqtt` beside it runs the plant's line against the broker. Process\n"
           "variables the broker does not hold yet get their initial values first.\n"
           "\n"
           "  --base DIR       the plant folder (Parameter/, Program/ ...); required. The broker is the\n"
           "                   one set in section [Mqtt] of Program/Orvanta/Orvanta.ini; a ClientId set\n"
           "                   there is used with \"-sim\" appended.\n"
           "  --backend mqtt   the only backend: without it [Runtime] Backend of Orvanta.ini must say\n"
           "                   mqtt. The embedded demo runs inside the panel: `orvanta --simulate`.\n"
           "  --rate R         the pace of the world's events (new alarms, foreign machines, language\n"
           "                   changes), above 0 and at most 1000; 1 is the normal pace.\n"
           "  --seed N         the seed of the world's random draws (0 to 4294967295); random if not\n"
           "                   given.\n"
           "  --run-for SECONDS  end in order after this time.\n"
           "  --help           show this text and exit.\n"
           "  --version        show the program's version and exit.\n"
           "\n"
           "Ctrl-C (SIGINT) or SIGTERM ends it in order (the line goes offline); a second one ends it at\n"
           "once.\n";
}

}  // namespace orvanta
