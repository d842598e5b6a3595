#include "platform/usb/Event.h"

#include <chrono>

namespace tarnix {
namespace platform {
namespace usb {

void Event::set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
    }
    cond_.notify_one();
}

void Event::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
}

Event::WaitResult Event::wait(uint32_t millis) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cond_.wait_for(lock, std::chrono::milliseconds(millis), [this] { return signalled_; }))
        return WaitResult::timeout;
    signalled_ = false;
    return WaitResult::signalled;
}

void Event::wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    cond_.wait(lock, [this] { return signalled_; });
    signalled_ = false;
}

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
