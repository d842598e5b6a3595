#pragma once
#include <boost/thread/thread.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace tarnix {
namespace sim {

// Runs `beat` at a steady rate on a thread of its own until destroyed.
class Heartbeat {
public:
    Heartbeat(uint32_t hz, std::function<void()> beat);
    ~Heartbeat();
    Heartbeat(const Heartbeat&) = delete;
    Heartbeat& operator=(const Heartbeat&) = delete;

private:
    void run(std::chrono::microseconds period);

    std::function<void()> beat_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    boost::thread thread_;
};

// The instrument's 48-bit time: ticks of its 210 MHz clock since `start`.
uint64_t deviceTicksSince(std::chrono::steady_clock::time_point start);

}  // namespace sim
}  // namespace tarnix
