// Time and date texts for the log. The logic never reads the wall clock itself: it asks a Clock, so tests
// fix the texts and the program uses the user's locale.
#pragma once

#include <locale.h>

#include <string>

namespace orvanta {

class Clock {
public:
    virtual ~Clock() = default;
    // The locale's long time form, e.g. 14:03:07.
    virtual std::string longTime() const = 0;
    // The locale's short date form, e.g. 07.12.2026 or 12/07/2026.
    virtual std::string shortDate() const = 0;
    // The time as hh:mm:ss on the 24-hour clock, whatever the locale.
    virtual std::string time24() const = 0;

    // "<long time> <short date> ", as every trace and fault line begins: the plant's log readers find a
    // line by it, so it is made in this one place.
    std::string logStamp() const;
};

// The wall clock in the user's locale: LC_TIME of the environment (LC_ALL, LC_TIME, LANG), taken once at
// construction, whatever the process's own locale is, so a windowed and a headless run write the same.
class SystemClock : public Clock {
public:
    SystemClock();
    ~SystemClock() override;
    SystemClock(const SystemClock&) = delete;
    SystemClock& operator=(const SystemClock&) = delete;

    std::string longTime() const override;
    std::string shortDate() const override;
    std::string time24() const override;

private:
    std::string now(const char* format) const;

    locale_t userTime_;  // the C locale when the environment names one that is not installed
};

}  // namespace orvanta
