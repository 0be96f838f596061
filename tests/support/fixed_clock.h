#pragma once

#include <string>

#include "core/clock.h"

namespace orvanta::testing {

class FixedClock : public Clock {
public:
    std::string longTime() const override { return time; }
    std::string shortDate() const override { return date; }
    std::string time24() const override { return time; }

    std::string time = "14:03:07";
    std::string date = "07.12.2026";
};

}  // namespace orvanta::testing
