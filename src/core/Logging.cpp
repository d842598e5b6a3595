#include "core/Logging.h"

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

void setLogLevel(int level) { gLogThreshold.store(level > status ? int(status) : level); }

int logLevel() { return gLogThreshold.load(); }

}  // namespace logging
}  // namespace tarnix
