#include "core/LogRateLimit.h"

#include <cstdio>
#include <cstring>
#include <sstream>

namespace tarnix {
namespace logging {

bool RateLimit::admit(Clock::time_point now, uint64_t& suppressed) {
    LockGuard<Mutex> lock(mutex_);
    suppressed = 0;
    if (!started_ || now - windowStart_ >= kWindow) {
        started_ = true;
        windowStart_ = now;
        written_ = 0;
    }
    if (written_ >= kLinesPerWindow) {
        ++suppressed_;
        return false;
    }
    ++written_;
    suppressed = suppressed_;
    suppressed_ = 0;
    return true;
}

std::string RateLimit::suppressionText(uint64_t suppressed) const {
    const char* slash = std::strrchr(file_, '/');
    std::ostringstream text;
    text << "Suppressed " << suppressed << " log lines from " << (slash ? slash + 1 : file_) << ":" << line_
         << " (more than " << kLinesPerWindow << " a second).";
    return text.str();
}

bool RateLimit::admitRecord(severity_level severity) {
    uint64_t suppressed = 0;
    if (!admit(Clock::now(), suppressed)) return false;
    if (suppressed != 0) pushRecord(severity, suppressionText(suppressed));
    return true;
}

bool RateLimit::admitPrint() {
    uint64_t suppressed = 0;
    if (!admit(Clock::now(), suppressed)) return false;
    if (suppressed != 0) {
        const std::string line = suppressionText(suppressed) + "\n";
        std::fputs(line.c_str(), stdout);
    }
    return true;
}

}  // namespace logging
}  // namespace tarnix
