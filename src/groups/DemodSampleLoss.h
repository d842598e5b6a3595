#pragma once
#include "core/LogRateLimit.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// Samples that the instrument lost before the host read them. Each
// demodulator's samples wait in the instrument's FIFO; when the host does not
// keep up, the FIFO overflows and the oldest are lost, which shows only as a
// gap in the sample times: the next sample comes a whole number of steps
// after the one before instead of one step. The step is learnt from the
// stream itself (two equal spacings in a row), and a gap counts as loss only
// once the spacing after it is the old step again, so a change of rate, which
// changes the spacing for good, is never taken for loss.
namespace tarnix {

class DemodSampleLoss {
public:
    static constexpr std::size_t kDemods = 32;
    using Clock = logging::CountReport::Clock;

    // The 48-bit time of demodulator `demod`'s next sample, in the order the
    // instrument sent them.
    void note(std::size_t demod, uint64_t time48);

    // The warning line, when one is due at `now` (at most one a second for the
    // device), with the samples lost since the line before; empty otherwise.
    std::string report(uint32_t serial, Clock::time_point now);

    // Samples counted as lost and not yet reported.
    uint64_t pending() const { return report_.pending(); }
    // Whether report would give a line at `now`.
    bool reportDue(Clock::time_point now) const { return report_.due(now); }

private:
    struct Stream {
        bool seen = false;
        bool steady = false;  // the last two spacings were both `step`
        uint64_t last = 0;
        uint64_t step = 0;
        uint64_t gap = 0;  // a gap of whole steps waiting for the spacing after it
    };
    void lose(std::size_t demod, uint64_t samples);

    std::array<Stream, kDemods> streams_{};
    std::array<uint64_t, kDemods> lost_{};
    logging::CountReport report_;
};

}  // namespace tarnix
