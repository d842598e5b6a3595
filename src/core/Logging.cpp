#include "core/LogBackend.h"

namespace tarnix {
namespace logging {

std::atomic<int> gLogThreshold{warning};

namespace {
const char* const kSeverityNames[] = {"trace", "info", "debug", "warning", "error", "fatal", "status"};
}

std::ostream& operator<<(std::ostream& os, severity_level level) {
    const int value = static_cast<int>(level);
    if (value >= trace && value <= status) return os << kSeverityNames[value];
    return os << value;
}

Logger& qvLogger::get() {
    // Constructed once, also when several threads ask first at the same time.
    static Logger logger;
    return logger;
}

void pushRecord(severity_level severity, const std::string& message) noexcept {
    try {
        BOOST_LOG_SEV(qvLogger::get(), severity) << message;
    } catch (...) {
        // A log statement never throws into the program's code.
    }
}

void setLogLevel(int level) { gLogThreshold.store(level > status ? int(status) : level); }

int logLevel() { return gLogThreshold.load(); }

}  // namespace logging
}  // namespace tarnix
