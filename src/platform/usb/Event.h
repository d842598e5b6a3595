#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tarnix {
namespace platform {
namespace usb {

// Auto-reset event: set() releases exactly one wait (or the next one to come);
// a successful wait resets it.
class Event {
public:
    enum class WaitResult { signalled, timeout };

    Event() = default;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    // Waits at most `millis` milliseconds.
    WaitResult wait(uint32_t millis);
    // Waits without limit.
    void wait();

private:
    std::mutex mutex_;
    std::condition_variable cond_;
    bool signalled_ = false;
};

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
