#pragma once
#include <thread>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace tarnix {
namespace sim {

// Runs `beat` at a steady rate on a thread of its own until destroyed. While
// paused, the thread waits without waking at all.
class Heartbeat {
public:
    Heartbeat(uint32_t hz, std::function<void()> beat, bool running = true);
    ~Heartbeat();
    Heartbeat(const Heartbeat&) = delete;
    Heartbeat& operator=(const Heartbeat&) = delete;

    // Pauses or resumes the beats; the first beat after a resume comes one
    // period later.
    void setRunning(bool running);

private:
    void run(std::chrono::microseconds period);

    std::function<void()> beat_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool running_ = true;
    std::thread thread_;
};

// The instrument's 48-bit time: ticks of its 210 MHz clock since `start`.
uint64_t deviceTicksSince(std::chrono::steady_clock::time_point start);

// The same without the 48-bit wrap.
uint64_t deviceTicks64Since(std::chrono::steady_clock::time_point start);

}  // namespace sim
}  // namespace tarnix
