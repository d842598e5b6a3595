#pragma once
// Collects the log records made while it exists (message and severity), for
// tests that check what the program logs. Lowers the threshold to 0 so that
// every severity is seen and restores it afterwards.
#include "core/Logging.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace tarnix {
namespace test {

struct CapturedRecord {
    int severity;
    std::string message;
};

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<CapturedRecord> records() const;
    std::vector<std::string> messages() const;
    bool contains(const std::string& message) const;

    // Waits up to the time-out for a record with exactly this message.
    bool waitFor(const std::string& message, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace test
}  // namespace tarnix
