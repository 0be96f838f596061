// The main form's log writers: the program log with its categories, size limit and fault label, and a
// minimal second trace file in the program's folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "core/clock.h"
#include "ports/forms.h"
#include "service/log_settings.h"

namespace orvanta {

// A log file kept below a size limit, as the program log is: the file is opened, appended to and closed
// for every line, and once it has passed limitKiB its oldest tenth of the limit is dropped from the front
// (up to the next full line) under a marker line "date; time; File size reduced". line is written with CR
// LF after it; an empty path writes nothing. Never throws: a line that cannot be written is lost, and the
// log is then not shortened. Returns why a line was lost, empty when it was written.
std::string appendToLimitedLog(const std::string& path, std::int32_t limitKiB, const std::string& line,
                               const Clock& clock);
// The shortening alone. The old log stays as it was unless the shortened one was written completely, and
// a log that cannot be written is left as it is. A log reached through a symbolic link is shortened in the
// file the link names.
void shortenLimitedLog(const std::string& path, std::int32_t limitKiB, const Clock& clock);

class ProgramLog {
public:
    // The settings are read on every call, so a change takes effect with the next line. "Log.log" lies in
    // `programFolder`.
    ProgramLog(const LogSettings& settings, const Clock& clock, CentralFormView& form,
               std::string programFolder);

    // Writes prefix & text as one line of LogDateiName when the categories allow it, shortens the file
    // when it has passed its limit, and with a non-zero `show` puts `text` into LabelFehler. A category
    // counts only when its flag is exactly -1. Never throws; a line that cannot be written is lost.
    void LogEintrag(const std::string& text, std::int16_t show, std::int16_t system, std::int16_t data,
                    std::int16_t fault);
    // A line of news that needs no action (no fault, no category): always written, without a prefix.
    void LogHinweis(const std::string& text);

    // Told once when lines begin to be lost (a read-only log or folder, a full disk), and again only after
    // a line was written in between. It must not write to this log.
    void onTrouble(std::function<void(const std::string&)> told) { onTrouble_ = std::move(told); }

    // Drops about a tenth of the limit from the front of the log, at a line boundary, and heads the rest
    // with a marker line. The old log stays as it was unless the shortened one was written completely.
    // Never throws.
    void LogKuerzen();

    const Clock& clock() const { return clock_; }
    // Whether LogEintrag would write a line of these categories, so that callers need not build the text
    // of a line that goes nowhere.
    bool writes(std::int16_t system, std::int16_t data, std::int16_t fault) const;

    // Appends "hh:mm:ss text" to Log.log in the program's folder; a line that cannot be written is lost.
    // source names the caller, for an error hook that discards everything.
    void LogFile(const std::string& text, const std::string& source);

private:
    void append(const std::string& line);

    const LogSettings& settings_;
    const Clock& clock_;
    CentralFormView& form_;
    std::string programFolder_;
    std::function<void(const std::string&)> onTrouble_;
    bool troubleReported_ = false;
};

}  // namespace orvanta
