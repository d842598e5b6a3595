#include "groups/DemodSampleLoss.h"

#include <sstream>

namespace tarnix {

namespace {
constexpr uint64_t kTimeMask = (uint64_t(1) << 48) - 1;
}  // namespace

void DemodSampleLoss::note(std::size_t demod, uint64_t time48) {
    if (demod >= kDemods) return;
    Stream& s = streams_[demod];
    const uint64_t spacing = (time48 - s.last) & kTimeMask;  // across the counter's wrap too
    s.last = time48;
    if (!s.seen) {
        s.seen = true;
        return;
    }
    if (spacing == 0) return;
    if (s.gap != 0) {
        const uint64_t gap = s.gap;
        s.gap = 0;
        if (spacing == s.step) {
            lose(demod, gap / s.step - 1);
            return;
        }
        // Not the old step after the gap: the rate changed.
        s.step = spacing;
        s.steady = false;
        return;
    }
    if (spacing == s.step) {
        s.steady = true;
        return;
    }
    if (s.steady && spacing > s.step && spacing % s.step == 0) {
        s.gap = spacing;
        return;
    }
    s.step = spacing;
    s.steady = false;
}

void DemodSampleLoss::lose(std::size_t demod, uint64_t samples) {
    lost_[demod] += samples;
    report_.add(samples);
}

std::string DemodSampleLoss::report(uint32_t serial, Clock::time_point now) {
    if (!report_.due(now)) return std::string();
    std::ostringstream line;
    line << "DEV" << serial << ": the instrument's sample FIFO overflowed (the host did not read fast enough); "
         << "samples lost since the last report:";
    const char* separator = " ";
    for (std::size_t d = 0; d < kDemods; ++d) {
        if (lost_[d] == 0) continue;
        line << separator << lost_[d] << " of DEMODS/" << d;
        separator = ", ";
        lost_[d] = 0;
    }
    line << ".";
    report_.taken(now);
    return line.str();
}

}  // namespace tarnix
