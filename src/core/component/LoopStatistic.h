#pragma once
#include <atomic>
#include <cstdint>
#include <string>

namespace tarnix {

// Timing of a worker thread's loop. Once enabled, every pass is measured and
// about every 20 s a "status" record summarises the period (loops, shortest,
// average and longest pass). Touched only by its own thread, except
// setEnabled(), which any thread may call.
class LoopStatistic {
public:
    static constexpr uint32_t kDefaultIntervalMicros = 20000000;
    static constexpr uint64_t kMicrosPerDay = 86400000000ULL;

    explicit LoopStatistic(std::string name);

    void setEnabled(bool enabled);
    bool isEnabled() const { return enabled_.load(std::memory_order_relaxed); }

    // Measures the pass that ends now (UTC time of day in microseconds).
    void update();
    // Same, with the current UTC time of day given in microseconds.
    void update(uint64_t nowMicrosOfDay);

    // Logs the summary of the current period at severity "status".
    void report() const;
    // The text report() logs.
    std::string reportText() const;

    const std::string& name() const { return name_; }
    uint64_t totalLoops() const { return totalLoops_; }
    uint32_t loopsInPeriod() const { return periodLoops_; }
    uint32_t longestMicros() const { return longestMicros_; }
    uint32_t shortestMicros() const { return shortestMicros_; }
    uint32_t sumMicros() const { return sumMicros_; }

private:
    std::string name_;
    std::string note_;
    std::atomic<bool> enabled_{false};
    uint32_t intervalMicros_ = kDefaultIntervalMicros;
    uint64_t lastStamp_ = 0;
    uint64_t totalLoops_ = 0;
    uint32_t periodLoops_ = 0;
    uint32_t longestMicros_ = 0;
    uint32_t sumMicros_ = 0;
    uint32_t shortestMicros_ = 0xFFFFFFFEu;
    uint64_t longestStamp_ = 0;
};

}  // namespace tarnix
