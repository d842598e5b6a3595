#include "core/component/LoopStatistic.h"

#include "core/Logging.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/format.hpp>

namespace tarnix {

namespace {

uint64_t utcMicrosOfDay() {
    const boost::posix_time::ptime now = boost::posix_time::microsec_clock::universal_time();
    return static_cast<uint64_t>(now.time_of_day().total_microseconds());
}

const char* periodMark(double longestMs, double averageMs, uint32_t loops) {
    if (longestMs > 100.0 * averageMs) return " !!!!";
    if (longestMs > 10.0 * averageMs) return " !!";
    if (loops < 2) return " ***";
    return "";
}

}  // namespace

LoopStatistic::LoopStatistic(std::string name) : name_(std::move(name)) {}

void LoopStatistic::setEnabled(bool enabled) {
    enabled_.store(enabled, std::memory_order_relaxed);
    QVLOG(logging::status) << "Loop statistic of " << name_ << (enabled ? " enabled." : " disabled.");
}

void LoopStatistic::update() { update(utcMicrosOfDay()); }

void LoopStatistic::update(uint64_t now) {
    ++periodLoops_;
    if (now < lastStamp_) now += kMicrosPerDay;  // passed midnight
    const uint32_t elapsed = static_cast<uint32_t>(now - lastStamp_);
    sumMicros_ += elapsed;
    if (elapsed > longestMicros_) {
        longestMicros_ = elapsed;
        longestStamp_ = lastStamp_;
    }
    if (elapsed < shortestMicros_) shortestMicros_ = elapsed;
    lastStamp_ = now;

    if (sumMicros_ > intervalMicros_) {
        totalLoops_ += periodLoops_;
        if (totalLoops_ > 1) report();
        sumMicros_ = 0;
        longestMicros_ = 0;
        shortestMicros_ = 0xFFFFFFFFu;
        periodLoops_ = 0;
    }
}

std::string LoopStatistic::reportText() const {
    const double shortestMs = shortestMicros_ * 0.001;
    const double longestMs = longestMicros_ * 0.001;
    const double averageMs = periodLoops_ == 0 ? 0.0 : (double(sumMicros_) / periodLoops_) * 0.001;
    const std::string text =
        (boost::format("Loop statistic of %12s (%s): loops = %6lld/%8lld, min = %7.2fms, avg = %7.2fms, "
                       "max = %7.2fms (%lld).") %
         name_ % note_ % periodLoops_ % totalLoops_ % shortestMs % averageMs % longestMs % longestStamp_)
            .str();
    return text + periodMark(longestMs, averageMs, periodLoops_);
}

void LoopStatistic::report() const { QVLOG(logging::status) << reportText(); }

}  // namespace tarnix
