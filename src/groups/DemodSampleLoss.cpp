#include "groups/DemodSampleLoss.h"

#include <sstream>

namespace tarnix {

namespace {
constexpr uint64_t kTimeMask = (uint64_t(1) << 48) - 1;
// Status blocks without the bit after which a candidate is no loss.
constexpr int kClearBlocksToDrop = 2;
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
            candidate(demod, gap / s.step - 1);
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

void DemodSampleLoss::candidate(std::size_t demod, uint64_t samples) {
    if (losing_)
        confirm(demod, samples);
    else
        streams_[demod].fresh += samples;
}

void DemodSampleLoss::confirm(std::size_t demod, uint64_t samples) {
    if (samples == 0) return;
    lost_[demod] += samples;
    report_.add(samples);
    unexplained_ = false;
}

void DemodSampleLoss::status(bool lost) {
    losing_ = lost;
    if (lost) {
        bool counted = false;
        for (std::size_t d = 0; d < kDemods; ++d) {
            Stream& s = streams_[d];
            counted = counted || s.fresh + s.older != 0;
            confirm(d, s.fresh + s.older);
            s.fresh = s.older = 0;
        }
        if (!counted && report_.pending() == 0) unexplained_ = true;
        clearSinceUnexplained_ = 0;
        return;
    }
    // A candidate the instrument did not confirm was a demodulator switched
    // off and on again.
    for (Stream& s : streams_) {
        s.older = s.fresh;
        s.fresh = 0;
    }
    if (unexplained_ && ++clearSinceUnexplained_ >= kClearBlocksToDrop) {
        unexplained_ = false;
        report_.addUncounted();
    }
}

uint64_t DemodSampleLoss::unconfirmed() const {
    uint64_t sum = 0;
    for (const Stream& s : streams_) sum += s.fresh + s.older;
    return sum;
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
    if (report_.pending() == 0) line << " a number the host could not count";
    line << ".";
    report_.taken(now);
    return line.str();
}

}  // namespace tarnix
