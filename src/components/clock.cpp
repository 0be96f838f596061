#include "components/clock.h"

#include <ctime>

namespace orvanta {
namespace {

std::string formatNow(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[64];
    const std::size_t length = std::strftime(buffer, sizeof buffer, format, &local);
    return std::string(buffer, length);
}

}  // namespace

std::string SystemClock::longTime() const { return formatNow("%X"); }
std::string SystemClock::shortDate() const { return formatNow("%x"); }
std::string SystemClock::time24() const { return formatNow("%H:%M:%S"); }

}  // namespace orvanta
