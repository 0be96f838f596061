#include "program/command_line.h"

#include <charconv>

namespace orvanta {

CommandLineResult parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLineResult result;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--base") {
            if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
                result.error = "--base needs a folder";
                return result;
            }
            result.options.baseFolder = arguments[++i];
        } else if (argument.rfind("--base=", 0) == 0 && argument.size() > 7) {
            result.options.baseFolder = argument.substr(7);
        } else if (argument == "--backend" || argument.rfind("--backend=", 0) == 0) {
            std::string name;
            if (argument.size() > 9) {
                name = argument.substr(10);
            } else if (i + 1 < arguments.size()) {
                name = arguments[++i];
            }
            result.options.backend = backendKindNamed(name);
            if (!result.options.backend) {
                result.error = "--backend needs embedded or mqtt";
                if (!name.empty()) result.error += ", not '" + name + "'";
                return result;
            }
        } else if (argument == "--headless") {
            result.options.headless = true;
        } else if (argument == "--simulate") {
            result.options.simulate = true;
        } else if (argument == "--run-for") {
            // The loop's timers count milliseconds in 32 bits: a longer time would wrap around and end
            // the program at once, so it is refused rather than shortened behind the user's back.
            long long seconds = 0;
            if (i + 1 < arguments.size()) {
                const std::string& text = arguments[++i];
                const char* end = text.data() + text.size();
                const auto [stop, failure] = std::from_chars(text.data(), end, seconds);
                if (failure != std::errc() || stop != end) seconds = 0;
            }
            if (seconds <= 0 || seconds > kMaxRunForSeconds) {
                result.error =
                    "--run-for needs a number of seconds from 1 to " + std::to_string(kMaxRunForSeconds);
                return result;
            }
            result.options.runForSeconds = static_cast<int>(seconds);
        } else if (argument == "--screenshot") {
            if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
                result.error = "--screenshot needs a file name";
                return result;
            }
            result.options.screenshot = arguments[++i];
        } else if (argument == "--dump-refdata") {
            result.options.dumpRefdata = true;
        } else if (argument == "--help" || argument == "-h") {
            result.options.help = true;
        } else if (argument == "--version") {
            result.options.version = true;
        } else {
            result.error = "unknown argument '" + argument + "'";
            return result;
        }
    }
    return result;
}

std::string usageText() {
    return "Usage: orvanta [--base DIR] [--backend embedded|mqtt] [--headless] [--simulate]\n"
           "               [--run-for SECONDS] [--screenshot FILE.png] [--dump-refdata] [--help]\n"
           "               [--version]\n"
           "\n"
           "The operator panel of a production line of up to five machines.\n"
           "\n"
           "  --base DIR       the plant folder (Parameter/, Program/ ...). Without it the plant folder\n"
           "                   is the program's own folder with its last two path elements removed, so\n"
           "                   a program installed as DIR/Program/Orvanta/orvanta finds DIR.\n"
           "  --backend embedded|mqtt  where the process variables and the line display live: in\n"
           "                   the program itself, or on the MQTT broker set in section [Mqtt] of\n"
           "                   Program/Orvanta/Orvanta.ini. Overrides [Runtime] Backend there.\n"
           "  --headless       run without windows (also the default without a display); what they\n"
           "                   would show goes to standard error, and\n"
           "                   a status line a second (line status, connection, each own machine's\n"
           "                   alarm or ok) to standard output; into a file or the journal only\n"
           "                   a line that changed, and one a minute.\n"
           "  --simulate       play the demo world around the panel: the visualisation, alarms coming\n"
           "                   and going on the own machines, the foreign machines, the line's\n"
           "                   connection. For demonstrations only, never on a real line.\n"
           "  --run-for SECONDS  end the program in order after this time (1 to 2147483).\n"
           "  --screenshot FILE.png  save a picture of the main window after --run-for seconds (3 if\n"
           "                   not given) and end; without a display it is drawn offscreen.\n"
           "  --dump-refdata   print the plant's alarm definitions and languages as the panel reads\n"
           "                   them, as one JSON document, and exit; problems go to standard error.\n"
           "  --help           show this text and exit.\n"
           "  --version        show the program's version and exit.\n"
           "\n"
           "Ctrl-C (SIGINT) or SIGTERM ends the program in order, a start too; a second one ends it at\n"
           "once (status 130). A second panel on the same plant folder is refused (status 3).\n";
}

}  // namespace orvanta
