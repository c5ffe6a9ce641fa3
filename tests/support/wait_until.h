#pragma once

// Waits for a condition another thread or process brings about, looking again every few milliseconds; the
// outcome is the condition's, the limit only ends a wait that would never succeed.

#include <chrono>
#include <thread>

namespace vantrel::testing {

template <typename Condition>
bool WaitUntil(Condition done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace vantrel::testing
