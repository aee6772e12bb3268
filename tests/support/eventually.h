// A bounded wait for a condition that another thread or process brings about.
#pragma once

#include <chrono>
#include <thread>

namespace kairovel::testing {

// Polls condition until it holds (true) or bound has passed (false).
template <class Condition>
bool Eventually(Condition condition, std::chrono::milliseconds bound = std::chrono::seconds(10),
                std::chrono::milliseconds poll = std::chrono::milliseconds(1)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(poll);
    }
    return true;
}

}  // namespace kairovel::testing
