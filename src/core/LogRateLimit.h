#pragma once
// A rate limit for log lines that a client or an instrument can make at will:
// each message site writes at most a few lines a second; the lines past that
// are counted, and the site's next line that is written again is preceded by
// one line that says how many were suppressed.
#include "core/Logging.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include "platform/thread/Mutex.h"

namespace tarnix {
namespace logging {

class RateLimit {
public:
    using Clock = std::chrono::steady_clock;
    // Lines a site writes per window before it is suppressed.
    static constexpr uint32_t kLinesPerWindow = 5;
    static constexpr Clock::duration kWindow = std::chrono::seconds(1);

    // `file` and `line` name the site in the suppression line; `file` must
    // outlive the limit (a string literal).
    RateLimit(const char* file, int line) : file_(file), line_(line) {}
    RateLimit(const RateLimit&) = delete;
    RateLimit& operator=(const RateLimit&) = delete;

    // Whether a line of this site may be written at `now`. When it may and
    // lines were suppressed before it, `suppressed` tells how many (else 0).
    bool admit(Clock::time_point now, uint64_t& suppressed);

    // admit at the current time; the suppression line goes to the log with
    // the given severity.
    bool admitRecord(severity_level severity);
    // admit at the current time; the suppression line goes to standard output.
    bool admitPrint();

    // "Suppressed <n> log lines from <file>:<line> (more than 5 a second)."
    std::string suppressionText(uint64_t suppressed) const;

private:
    const char* file_;
    int line_;
    Mutex mutex_;
    bool started_ QV_GUARDED_BY(mutex_) = false;
    Clock::time_point windowStart_ QV_GUARDED_BY(mutex_);
    uint32_t written_ QV_GUARDED_BY(mutex_) = 0;
    uint64_t suppressed_ QV_GUARDED_BY(mutex_) = 0;
};

// For a site that reports a running count (samples lost, say) rather than
// one line per event: it writes at most one line a window, each with what was
// counted since the line before. The first count is reported at once.
// Used by one thread.
class CountReport {
public:
    using Clock = RateLimit::Clock;

    void add(uint64_t n) { count_ += n; }
    // Something happened that could not be counted: a line is due as for a count.
    void addUncounted() { uncounted_ = true; }
    uint64_t pending() const { return count_; }
    // Whether a line is due at `now`: something was counted and no line was
    // written during the window before. The caller writes it and then calls
    // taken().
    bool due(Clock::time_point now) const {
        return (count_ != 0 || uncounted_) && (!written_ || now - lastLine_ >= RateLimit::kWindow);
    }
    void taken(Clock::time_point now) {
        count_ = 0;
        uncounted_ = false;
        written_ = true;
        lastLine_ = now;
    }

private:
    uint64_t count_ = 0;
    bool uncounted_ = false;
    bool written_ = false;
    Clock::time_point lastLine_{};
};

}  // namespace logging
}  // namespace tarnix

// The rate limit of the message site where it is written (one per use).
#define QV_LOG_SITE_LIMIT()                                                        \
    ([]() -> ::tarnix::logging::RateLimit& {                                       \
        static ::tarnix::logging::RateLimit qvSiteLimit_(__FILE__, __LINE__);      \
        return qvSiteLimit_;                                                       \
    }())

// Log statement of a site that outside input can repeat at will, with the
// site's own rate limit: QVLOG_LIMITED(tarnix::logging::error) << "text";
// Suppressed records cost no formatting.
#define QVLOG_LIMITED(sev) QVLOG_LIMITED_BY(QV_LOG_SITE_LIMIT(), sev)

// The same with a given limit (a helper that logs for several sites).
#define QVLOG_LIMITED_BY(limit, sev)                                                                      \
    for (bool qvLogPasses_ = ::tarnix::logging::severityFilter(static_cast<int>(sev)) &&                   \
                             (limit).admitRecord(static_cast<::tarnix::logging::severity_level>(sev));     \
         qvLogPasses_; qvLogPasses_ = false)                                                              \
    ::tarnix::logging::RecordStream(static_cast<::tarnix::logging::severity_level>(sev)).stream()

// True when a line of this site may be printed on standard output now.
#define QV_PRINT_ADMITTED() (QV_LOG_SITE_LIMIT().admitPrint())
