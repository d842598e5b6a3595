#pragma once
// The one way tests wait for something another thread or process does: look
// again every couple of milliseconds until it holds or the deadline passes,
// so a test that goes wrong fails with a message instead of hanging until
// CTest kills it.
#include <chrono>
#include <thread>

namespace tarnix {
namespace test {

using WaitClock = std::chrono::steady_clock;

// True as soon as `predicate` holds; false when it still does not hold once
// `deadline` has passed (it is asked one last time then).
template <class Predicate>
bool waitUntil(Predicate&& predicate, WaitClock::time_point deadline) {
    for (;;) {
        if (predicate()) return true;
        if (WaitClock::now() > deadline) return predicate();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

template <class Predicate>
bool waitUntil(Predicate&& predicate, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    return waitUntil(predicate, WaitClock::now() + timeout);
}

}  // namespace test
}  // namespace tarnix
