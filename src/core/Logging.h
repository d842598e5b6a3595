#pragma once
#include <atomic>
#include <ostream>
#include <sstream>
#include <string>

namespace tarnix {
namespace logging {

enum severity_level : int { trace = 0, info = 1, debug = 2, warning = 3, error = 4, fatal = 5, status = 6 };

// Written as its name for 0..6, as its decimal number otherwise.
std::ostream& operator<<(std::ostream& os, severity_level level);

// Global threshold; a record passes when its severity is at least the threshold.
extern std::atomic<int> gLogThreshold;

inline bool severityFilter(int severity) {
    return severity >= gLogThreshold.load(std::memory_order_relaxed);
}

// Values above 6 become 6; smaller values, negative ones too, are kept.
void setLogLevel(int level);
int logLevel();

// Sets up the console sink, the global attributes and, when a log directory can
// be prepared, the rotating file sink. Never fails; returns true.
bool initLogging(const std::string& programName);

// The log directory for the program, or an empty path when none is usable.
std::string logDirectory(const std::string& programName);

// Opens one record with the severity on the process-wide logger (see
// core/LogBackend.h) and streams the message into it. Never throws.
void pushRecord(severity_level severity, const std::string& message) noexcept;

// Collects one log statement's message and hands it to the logger when the
// statement ends. Keeps the logging library out of every translation unit.
class RecordStream {
public:
    explicit RecordStream(severity_level severity) : severity_(severity) {}
    RecordStream(const RecordStream&) = delete;
    RecordStream& operator=(const RecordStream&) = delete;
    ~RecordStream() { pushRecord(severity_, stream_.str()); }
    std::ostream& stream() { return stream_; }

private:
    severity_level severity_;
    std::ostringstream stream_;
};

}  // namespace logging
}  // namespace tarnix

// Log statement: QVLOG(tarnix::logging::warning) << "text";
// The message is formatted only when the record passes the threshold.
#define QVLOG(sev)                                                                              \
    for (bool qvLogPasses_ = ::tarnix::logging::severityFilter(static_cast<int>(sev)); qvLogPasses_;     \
         qvLogPasses_ = false)                                                                          \
    ::tarnix::logging::RecordStream(static_cast<::tarnix::logging::severity_level>(sev)).stream()
