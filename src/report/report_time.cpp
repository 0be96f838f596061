#include "report/report_time.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <limits>

namespace orvanta::report {

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct Civil {
    std::int64_t year;
    unsigned month, day, hour, minute, second;
};

Civil civilFromMillis(Millis at) {
    std::int64_t seconds = at / 1000 - (at % 1000 < 0 ? 1 : 0);
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0),
            m,
            d,
            static_cast<unsigned>(rest / 3600),
            static_cast<unsigned>(rest % 3600 / 60),
            static_cast<unsigned>(rest % 60)};
}

// Also of the most negative value, which has no positive counterpart of its type.
unsigned long long magnitudeOf(Millis value) {
    return value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
}

bool digits(std::string_view text, std::size_t at, std::size_t count, unsigned& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

unsigned daysIn(std::int64_t year, unsigned month) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// A local wall-clock time through mktime, which knows the zone's rules: `minutes` after midnight of the day
// `day` of month `month` (0..11) of `year` (since 1900), out-of-range days and months carried over.
Millis localTime(int year, int month, int day, int minutes) {
    std::tm at{};
    at.tm_year = year;
    at.tm_mon = month;
    at.tm_mday = day;
    at.tm_hour = minutes / 60;
    at.tm_min = minutes % 60;
    at.tm_isdst = -1;
    return static_cast<Millis>(mktime(&at)) * 1000;
}

std::tm localCalendar(Millis at) {
    const std::time_t seconds = static_cast<std::time_t>(at / 1000 - (at % 1000 < 0 ? 1 : 0));
    std::tm calendar{};
    localtime_r(&seconds, &calendar);
    return calendar;
}

std::string localText(Millis at, const char* format) {
    const std::tm calendar = localCalendar(at);
    char buffer[32];
    return std::string(buffer, std::strftime(buffer, sizeof buffer, format, &calendar));
}

std::string clockText(int minutes) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d", minutes / 60 % 100, minutes % 60);
    return buffer;
}

// The latest shift whose end (the next shift's start) is not after now. Three days of starts always hold
// it: yesterday's starts all lie before now.
NamedPeriod lastShift(const std::tm& today, Millis now, const ShiftStarts& shifts) {
    struct Start {
        Millis at;
        std::size_t shift;
    };
    std::vector<Start> starts;
    for (int day = -2; day <= 0; ++day)
        for (std::size_t i = 0; i < shifts.size(); ++i)
            starts.push_back({localTime(today.tm_year, today.tm_mon, today.tm_mday + day, shifts[i]), i});
    // A start in the hour the clock skips moves past it and may overtake the next.
    std::stable_sort(starts.begin(), starts.end(),
                     [](const Start& a, const Start& b) { return a.at < b.at; });
    std::size_t end = starts.size() - 1;
    while (end > 0 && starts[end].at > now) --end;
    std::size_t begin = end;
    while (begin > 0 && starts[begin].at == starts[end].at) --begin;
    return {starts[begin].at, starts[end].at,
            "shift " + clockText(shifts[starts[begin].shift]) + "–" + clockText(shifts[starts[end].shift])};
}

}  // namespace

std::optional<PeriodKind> periodKind(std::string_view name) {
    if (name == "day") return PeriodKind::Day;
    if (name == "shift") return PeriodKind::Shift;
    if (name == "week") return PeriodKind::Week;
    if (name == "month") return PeriodKind::Month;
    return std::nullopt;
}

std::optional<ShiftStarts> parseShiftStarts(std::string_view text) {
    ShiftStarts starts;
    while (true) {
        const std::size_t comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.remove_prefix(1);
        while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.remove_suffix(1);
        const std::size_t colon = item.find(':');
        unsigned hour = 0, minute = 0;
        if (colon < 1 || colon > 2 || item.size() != colon + 3 || !digits(item, 0, colon, hour) ||
            !digits(item, colon + 1, 2, minute) || hour > 23 || minute > 59)
            return std::nullopt;
        const int start = static_cast<int>(hour * 60 + minute);
        if (!starts.empty() && start <= starts.back()) return std::nullopt;
        starts.push_back(start);
        if (comma == std::string_view::npos) return starts;
        text.remove_prefix(comma + 1);
    }
}

NamedPeriod lastPeriod(PeriodKind kind, Millis now, const ShiftStarts& shifts) {
    const std::tm today = localCalendar(now);
    const int year = today.tm_year;
    const int month = today.tm_mon;
    const int day = today.tm_mday;
    switch (kind) {
        case PeriodKind::Day: {
            const Millis from = localTime(year, month, day - 1, 0);
            return {from, localTime(year, month, day, 0), "day " + localText(from, "%Y-%m-%d")};
        }
        case PeriodKind::Week: {
            const int sinceMonday = (today.tm_wday + 6) % 7;
            const Millis from = localTime(year, month, day - sinceMonday - 7, 0);
            return {from, localTime(year, month, day - sinceMonday, 0), "week " + localText(from, "%G-W%V")};
        }
        case PeriodKind::Month: {
            const Millis from = localTime(year, month - 1, 1, 0);
            return {from, localTime(year, month, 1, 0), "month " + localText(from, "%Y-%m")};
        }
        case PeriodKind::Shift:
            break;
    }
    if (shifts.empty()) return lastShift(today, now, *parseShiftStarts(kDefaultShifts));
    return lastShift(today, now, shifts);
}

std::optional<Millis> parseTime(std::string_view text, bool endOfDay) {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!digits(text, 0, 4, year) || text.size() < 10 || text[4] != '-' || !digits(text, 5, 2, month) ||
        text[7] != '-' || !digits(text, 8, 2, day))
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > daysIn(year, month)) return std::nullopt;
    std::size_t at = 10;
    const bool dateOnly = at == text.size() || text[at] == 'Z' || text[at] == '+' || text[at] == '-';
    if (!dateOnly) {
        if (text[at] != 'T' && text[at] != ' ') return std::nullopt;
        if (!digits(text, at + 1, 2, hour) || at + 3 >= text.size() || text[at + 3] != ':' ||
            !digits(text, at + 4, 2, minute))
            return std::nullopt;
        at += 6;
        if (at < text.size() && text[at] == ':') {
            if (!digits(text, at + 1, 2, second)) return std::nullopt;
            at += 3;
        }
        if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    }
    std::int64_t days = daysFromCivil(year, month, day);
    if (dateOnly && endOfDay) ++days;
    const std::int64_t wall = days * 86400 + hour * 3600 + minute * 60 + second;
    if (at == text.size()) {
        // This computer's zone; mktime finds the offset that held at that wall time.
        std::tm local{};
        const std::time_t asUtc = static_cast<std::time_t>(wall);
        gmtime_r(&asUtc, &local);
        local.tm_isdst = -1;
        const std::time_t t = mktime(&local);
        if (t == static_cast<std::time_t>(-1)) return std::nullopt;
        return static_cast<Millis>(t) * 1000;
    }
    if (text[at] == 'Z' && at + 1 == text.size()) return wall * 1000;
    if (text[at] != '+' && text[at] != '-') return std::nullopt;
    unsigned oh = 0, om = 0;
    if (!digits(text, at + 1, 2, oh)) return std::nullopt;
    std::size_t next = at + 3;
    if (next < text.size() && text[next] == ':') ++next;
    if (!digits(text, next, 2, om) || next + 2 != text.size() || oh > 23 || om > 59) return std::nullopt;
    const std::int64_t magnitude = (static_cast<std::int64_t>(oh) * 60 + om) * 60;
    const std::int64_t offset = text[at] == '-' ? -magnitude : magnitude;
    return (wall - offset) * 1000;
}

std::string formatTime(Millis at, int offsetMinutes) {
    // A damaged file's time at the end of the range prints as that end, never as a wrapped-around one.
    Millis local = 0;
    if (__builtin_add_overflow(at, static_cast<Millis>(offsetMinutes) * 60000, &local))
        local = at < 0 ? std::numeric_limits<Millis>::min() : std::numeric_limits<Millis>::max();
    const Civil c = civilFromMillis(local);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02u %02u:%02u:%02u", static_cast<long long>(c.year),
                  c.month, c.day, c.hour, c.minute, c.second);
    return buffer;
}

std::string formatOffset(int offsetMinutes) {
    const long long magnitude = offsetMinutes < 0 ? -static_cast<long long>(offsetMinutes) : offsetMinutes;
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "UTC%c%02lld:%02lld", offsetMinutes < 0 ? '-' : '+', magnitude / 60,
                  magnitude % 60);
    return buffer;
}

std::string formatDuration(Millis duration) {
    const bool negative = duration < 0;
    const unsigned long long seconds = magnitudeOf(duration) / 1000;
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%s%llu:%02llu:%02llu", negative ? "-" : "", seconds / 3600,
                  seconds % 3600 / 60, seconds % 60);
    return buffer;
}

std::string formatSeconds(Millis duration) {
    const bool negative = duration < 0;
    const unsigned long long magnitude = magnitudeOf(duration);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%s%llu.%03llu", negative ? "-" : "", magnitude / 1000,
                  magnitude % 1000);
    return buffer;
}

std::string formatFixed(double value, int decimals) {
    char buffer[64];
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return error == std::errc() ? std::string(buffer, end) : std::string("-");
}

}  // namespace orvanta::report
