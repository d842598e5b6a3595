#pragma once
#include <array>
#include <atomic>
#include <cstdint>

namespace tarnix {

// A sliding sum over the last ten intervals: counts go into the current
// interval, advance() closes it. The sum may be read from another thread (the
// class log); everything else belongs to the device thread.
class StatsWindow {
public:
    static constexpr uint32_t kIntervals = 10;

    void add(double count) { current_ += count; }
    void advance() {
        const double sum = sum_.load(std::memory_order_relaxed) - ring_[index_] + current_;
        sum_.store(sum, std::memory_order_relaxed);
        ring_[index_] = current_;
        index_ = index_ + 1 == kIntervals ? 0 : index_ + 1;
        current_ = 0;
    }
    double sum() const { return sum_.load(std::memory_order_relaxed); }
    double current() const { return current_; }

private:
    std::array<double, kIntervals> ring_{};
    uint32_t index_ = 0;
    std::atomic<double> sum_{0};
    double current_ = 0;
};

}  // namespace tarnix
