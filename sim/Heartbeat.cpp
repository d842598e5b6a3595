#include "Heartbeat.h"

namespace tarnix {
namespace sim {

Heartbeat::Heartbeat(uint32_t hz, std::function<void()> beat, bool running)
    : beat_(std::move(beat)), running_(running) {
    if (hz == 0) return;
    const std::chrono::microseconds period(1000000 / hz);
    thread_ = std::thread([this, period] { run(period); });
}

Heartbeat::~Heartbeat() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void Heartbeat::setRunning(bool running) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = running;
    }
    wake_.notify_all();
}

void Heartbeat::run(std::chrono::microseconds period) {
    // Beats keep to a fixed schedule, so the rate does not drift with the work.
    auto next = std::chrono::steady_clock::now() + period;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (!running_) {
            wake_.wait(lock, [this] { return stopping_ || running_; });
            next = std::chrono::steady_clock::now() + period;
            continue;
        }
        if (wake_.wait_until(lock, next, [this] { return stopping_ || !running_; })) continue;
        lock.unlock();
        beat_();
        lock.lock();
        next += period;
        const auto now = std::chrono::steady_clock::now();
        if (next < now) next = now + period;  // after a stall, resume the rate instead of catching up
    }
}

uint64_t deviceTicks64Since(std::chrono::steady_clock::time_point start) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start);
    // 210 MHz: 21 ticks every 100 ns.
    return uint64_t(ns.count()) / 100 * 21 + uint64_t(ns.count()) % 100 * 21 / 100;
}

uint64_t deviceTicksSince(std::chrono::steady_clock::time_point start) {
    constexpr uint64_t kMask48 = (uint64_t(1) << 48) - 1;
    return deviceTicks64Since(start) & kMask48;
}

}  // namespace sim
}  // namespace tarnix
