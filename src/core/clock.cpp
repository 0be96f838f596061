#include "core/clock.h"

#include <ctime>

namespace orvanta {

SystemClock::SystemClock() : userTime_(newlocale(LC_TIME_MASK, "", nullptr)) {
    if (userTime_ == nullptr) userTime_ = newlocale(LC_TIME_MASK, "C", nullptr);
}

SystemClock::~SystemClock() {
    if (userTime_ != nullptr) freelocale(userTime_);
}

std::string SystemClock::now(const char* format) const {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[64];
    const std::size_t length = userTime_ != nullptr
                                   ? strftime_l(buffer, sizeof buffer, format, &local, userTime_)
                                   : std::strftime(buffer, sizeof buffer, format, &local);
    return std::string(buffer, length);
}

std::string Clock::logStamp() const {
    std::string stamp = longTime();
    stamp += ' ';
    stamp += shortDate();
    stamp += ' ';
    return stamp;
}

std::string SystemClock::longTime() const { return now("%X"); }
std::string SystemClock::shortDate() const { return now("%x"); }
std::string SystemClock::time24() const { return now("%H:%M:%S"); }

}  // namespace orvanta
