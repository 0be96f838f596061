#include "report/report_command.h"

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "report/alarm_texts.h"
#include "report/line_report.h"
#include "report/report_time.h"
#include "report/report_writers.h"
#include "report/sqlite_file.h"
#include "service/file_names.h"
#include "service/ini_file.h"
#include "service/plant_files.h"

namespace orvanta::report {

namespace {

constexpr const char* kUsage =
    "Usage: orvanta-report [--from TIME] [--to TIME] [--last day|shift|week|month] [--ini FILE]\n"
    "                      [--format text|html|csv [--events]] [--lang LANGUAGE] [--output FILE] "
    "HISTORY.db...\n"
    "\n"
    "Reports on the history files of one or more lines (one file per line): time in each state,\n"
    "availability, stops, MTBF and MTTR per machine slot and for the line, downtime by cause, the alarm\n"
    "load per 10 minutes, bad actors, chattering and standing alarms.\n"
    "\n"
    "  --from TIME, --to TIME  the period; default: the whole history. TIME is 2026-12-07,\n"
    "                          2026-12-07T14:00 or 2026-12-07T14:00:30, in this computer's local time,\n"
    "                          or followed by Z or an offset (+01:00). A date alone as --to takes that\n"
    "                          day in.\n"
    "  --last PERIOD           instead of --from and --to: the latest complete one before now, in this\n"
    "                          computer's local time: day (yesterday), week (Monday to Monday), month,\n"
    "                          or shift (the latest shift that has ended)\n"
    "  --ini FILE              the INI whose [Report] Shifts lists the shifts' start times, each shift\n"
    "                          lasting until the next starts (default 06:00,14:00,22:00); default: the\n"
    "                          Program/Orvanta/Orvanta.ini of the plant folder the first history lies in\n"
    "  --format FORM           text (default), html (one self-contained file with pictures) or csv\n"
    "  --events                with csv: the parts of every stop and every alarm episode themselves,\n"
    "                          instead of the totals\n"
    "  --lang LANGUAGE         the alarm texts' language: de, en, fr, ... or an identifier as 1031;\n"
    "                          default: the plant's first language\n"
    "  --output FILE           write the report to FILE instead of standard output\n"
    "                          (never one of the history files or the -wal, -shm or -journal beside one)\n"
    "\n"
    "A period in which the panel recorded nothing still has the line's row, all of it no data.\n"
    "\n"
    "Exit status: 0 every file reported, 1 a file could not be read (the others are reported), 2 usage.\n";

enum class Format { Text, Html, Csv };

struct Options {
    ReportRequest request;
    Format format = Format::Text;
    std::optional<std::string> output;
    std::vector<std::string> files;
    std::optional<PeriodKind> last;
    std::optional<std::string> ini;
    std::string periodName;
    bool events = false;
    bool help = false;
};

namespace fs = std::filesystem;

// Where a name leads, its symbolic links followed also when the last one points to no file yet.
fs::path resolved(const std::string& name) {
    std::error_code error;
    fs::path at = fs::absolute(name, error);
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(at, error)); ++hops) {
        const fs::path target = fs::read_symlink(at, error);
        if (error) break;
        at = target.is_absolute() ? target : at.parent_path() / target;
    }
    const fs::path canonical = fs::weakly_canonical(at, error);
    return error ? at.lexically_normal() : canonical;
}

// The output must be none of the files read: not a history (by any name, link or hard link) nor the -wal,
// -shm or -journal beside it, which SQLite would take for the history's own.
void refuseOverwriting(const Options& options) {
    if (!options.output) return;
    const fs::path output = resolved(*options.output);
    struct stat written {};
    const bool exists = stat(output.c_str(), &written) == 0;
    for (const std::string& file : options.files)
        for (const std::string& base : {file, resolved(file).string()})
            for (const std::string suffix : {"", "-wal", "-shm", "-journal"}) {
                const std::string name = base + suffix;
                struct stat read {};
                const bool same = (exists && stat(name.c_str(), &read) == 0 &&
                                   read.st_dev == written.st_dev && read.st_ino == written.st_ino) ||
                                  resolved(name) == output;
                if (!same) continue;
                throw std::invalid_argument("--output " + *options.output + " is " +
                                            (suffix.empty() ? "" : "the " + suffix + " of ") +
                                            "the history file " + file + ": the report would overwrite it");
            }
}

// [Report] Shifts of the INI given, else of the plant's own INI: the panel keeps its history in the plant
// folder unless told otherwise, so the first history's folder is taken for the plant's. Missing or empty:
// the usual three shifts.
ShiftStarts shiftsOf(const Options& options) {
    std::string ini = options.ini.value_or("");
    if (ini.empty()) {
        const std::string folder = fs::path(options.files.front()).parent_path().string();
        ini = plantFile(folder.empty() ? "." : folder, kOwnIniFile);
    }
    const std::optional<std::string> value = findIniValue(ini, "Report", "Shifts");
    if (!value || value->empty()) return *parseShiftStarts(kDefaultShifts);
    std::optional<ShiftStarts> starts = parseShiftStarts(*value);
    if (!starts)
        throw std::invalid_argument(ini + " [Report] Shifts: \"" + *value +
                                    "\" is not a list of start times such as " + std::string(kDefaultShifts) +
                                    ", each later than the one before");
    return std::move(*starts);
}

// Accepts "--name value" and "--name=value"; a usage error throws its message.
Options parse(const std::vector<std::string>& arguments, Millis now) {
    Options options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            options.help = true;
            continue;
        }
        if (argument == "--events") {
            options.events = true;
            continue;
        }
        if (argument == "--") {
            options.files.insert(options.files.end(), arguments.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                 arguments.end());
            break;
        }
        if (argument.rfind("--", 0) != 0) {
            options.files.push_back(argument);
            continue;
        }
        std::optional<std::string> value;
        const std::size_t equals = argument.find('=');
        if (equals != std::string::npos) {
            value = argument.substr(equals + 1);
            argument = argument.substr(0, equals);
        }
        if (argument != "--from" && argument != "--to" && argument != "--format" && argument != "--output" &&
            argument != "--last" && argument != "--ini" && argument != "--lang")
            throw std::invalid_argument("unknown option " + argument);
        if (!value) {
            if (i + 1 >= arguments.size()) throw std::invalid_argument(argument + " needs a value");
            value = arguments[++i];
        }
        if (argument == "--from" || argument == "--to") {
            const std::optional<Millis> at = parseTime(*value, argument == "--to");
            if (!at) throw std::invalid_argument(argument + ": not a time: " + *value);
            (argument == "--from" ? options.request.from : options.request.to) = at;
        } else if (argument == "--last") {
            options.last = periodKind(*value);
            if (!options.last)
                throw std::invalid_argument("--last: day, shift, week or month, not " + *value);
        } else if (argument == "--ini") {
            options.ini = *value;
        } else if (argument == "--lang") {
            if (!parseLanguage(*value))
                throw std::invalid_argument(
                    "--lang: a language as de, en, fr or an identifier as 1031, not " + *value);
            options.request.language = *value;
        } else if (argument == "--format") {
            if (*value == "text") {
                options.format = Format::Text;
            } else if (*value == "html") {
                options.format = Format::Html;
            } else if (*value == "csv") {
                options.format = Format::Csv;
            } else {
                throw std::invalid_argument("--format: text, html or csv, not " + *value);
            }
        } else {
            options.output = *value;
        }
    }
    if (options.help) return options;
    if (options.files.empty()) throw std::invalid_argument("no history file given");
    if (options.events && options.format != Format::Csv)
        throw std::invalid_argument("--events is a form of --format csv");
    if (options.last && (options.request.from || options.request.to))
        throw std::invalid_argument("--last names the period itself: give either --last or --from and --to");
    if (options.request.from && options.request.to && *options.request.to <= *options.request.from)
        throw std::invalid_argument("--to must lie after --from");
    // A name mistyped would otherwise read as an INI without shifts, and the default shifts as meant.
    if (options.ini && !fs::is_regular_file(findFileIgnoringCase(*options.ini)))
        throw std::invalid_argument("--ini " + *options.ini + ": no such file");
    if (options.last) {
        const NamedPeriod period = lastPeriod(
            *options.last, now, *options.last == PeriodKind::Shift ? shiftsOf(options) : ShiftStarts{});
        options.request.from = period.from;
        options.request.to = period.to;
        options.periodName = period.name;
    }
    refuseOverwriting(options);
    return options;
}

// The events are written as they are read, straight to where they go: an export of years is never held.
int exportEvents(const Options& options, std::ostream& out, std::ostream& err) {
    std::ofstream file;
    std::ostream* to = &out;
    if (options.output) {
        file.open(*options.output, std::ios::binary | std::ios::trunc);
        if (!file) {
            err << "orvanta-report: cannot write " << *options.output << "\n";
            return kExitFileFailed;
        }
        to = &file;
    }
    int status = kExitReported;
    writeEventsCsv(
        *to, options.files, options.request, [&](const std::string& path, const std::exception& error) {
            err << "orvanta-report: " << (dynamic_cast<const ReportError*>(&error) ? "" : path + ": ")
                << error.what() << "\n";
            status = kExitFileFailed;
        });
    to->flush();
    if (!*to) {
        err << "orvanta-report: cannot write " << options.output.value_or("the report to standard output")
            << "\n";
        return kExitFileFailed;
    }
    return status;
}

}  // namespace

int runReport(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    return runReport(arguments, out, err,
                     std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count());
}

int runReport(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, Millis now) {
    Options options;
    try {
        options = parse(arguments, now);
    } catch (const std::invalid_argument& error) {
        err << "orvanta-report: " << error.what() << "\n" << kUsage;
        return kExitUsage;
    }
    if (options.help) {
        out << kUsage;
        return kExitReported;
    }
    options.request.pictures = options.format == Format::Html;
    int status = kExitReported;
    if (options.events) return exportEvents(options, out, err);
    std::vector<LineReport> lines;
    for (const std::string& file : options.files) {
        try {
            lines.push_back(reportOn(file, options.request));
            lines.back().periodName = options.periodName;
        } catch (const ReportError& error) {
            err << "orvanta-report: " << error.what() << "\n";
            status = kExitFileFailed;
        } catch (const std::exception& error) {
            err << "orvanta-report: " << file << ": " << error.what() << "\n";
            status = kExitFileFailed;
        }
    }
    if (lines.empty()) return status;
    std::ostringstream text;
    switch (options.format) {
        case Format::Text:
            writeText(text, lines);
            break;
        case Format::Html:
            writeHtml(text, lines);
            break;
        case Format::Csv:
            writeCsv(text, lines);
            break;
    }
    if (!options.output) {
        out << text.str();
        out.flush();
        if (!out) {
            err << "orvanta-report: cannot write the report to standard output\n";
            return kExitFileFailed;
        }
        return status;
    }
    std::ofstream file(*options.output, std::ios::binary | std::ios::trunc);
    file << text.str();
    file.close();
    if (!file) {
        err << "orvanta-report: cannot write " << *options.output << "\n";
        return kExitFileFailed;
    }
    return status;
}

}  // namespace orvanta::report
