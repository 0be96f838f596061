// Whether a condition comes to hold within a time, looked at every few milliseconds: for what another
// thread or process brings about.
#pragma once

#include <chrono>
#include <thread>

namespace orvanta::testing {

template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace orvanta::testing
