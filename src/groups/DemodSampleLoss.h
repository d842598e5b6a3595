#pragma once
#include "core/LogRateLimit.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// Samples that the instrument lost before the host read them. Each
// demodulator's samples wait in the instrument's FIFO; when the host does not
// keep up, the FIFO overflows and the oldest are lost. That shows as a gap in
// the sample times (the next sample comes a whole number of steps after the
// one before instead of one step) and as the demod-data-lost bit in the
// instrument's status blocks that follow the loss.
//
// The step is learnt from the stream itself (two equal spacings in a row),
// and a gap is a candidate only once the spacing after it is the old step
// again, so a change of rate, which changes the spacing for good, is never
// one. A demodulator switched off and on again at the same rate leaves such a
// gap too, but the instrument lost nothing: so a candidate counts as lost
// only when the instrument says so, in a status block before two status
// blocks without the bit have followed it (the bit and the gap reach the host
// in either order). A status block with the bit for which the host counted
// nothing is reported as a loss of unknown size: the instrument's word holds.
namespace tarnix {

class DemodSampleLoss {
public:
    static constexpr std::size_t kDemods = 32;
    using Clock = logging::CountReport::Clock;

    // The 48-bit time of demodulator `demod`'s next sample, in the order the
    // instrument sent them.
    void note(std::size_t demod, uint64_t time48);
    // A status block arrived; `lost` is its demod-data-lost bit.
    void status(bool lost);

    // The warning line, when one is due at `now` (at most one a second for the
    // device), with the samples lost since the line before; empty otherwise.
    std::string report(uint32_t serial, Clock::time_point now);

    // Samples counted as lost and not yet reported.
    uint64_t pending() const { return report_.pending(); }
    // Samples in gaps that the instrument has not yet said it lost.
    uint64_t unconfirmed() const;
    // Whether report would give a line at `now`.
    bool reportDue(Clock::time_point now) const { return report_.due(now); }

private:
    struct Stream {
        bool seen = false;
        bool steady = false;  // the last two spacings were both `step`
        uint64_t last = 0;
        uint64_t step = 0;
        uint64_t gap = 0;  // a gap of whole steps waiting for the spacing after it
        // Candidates seen since the last status block, and in the interval
        // before that one.
        uint64_t fresh = 0;
        uint64_t older = 0;
    };
    void candidate(std::size_t demod, uint64_t samples);
    void confirm(std::size_t demod, uint64_t samples);

    std::array<Stream, kDemods> streams_{};
    std::array<uint64_t, kDemods> lost_{};
    // The last status block had the bit: gaps that come now are lost.
    bool losing_ = false;
    // Status blocks with the bit, no gap confirmed since, and the blocks
    // without it that followed them.
    bool unexplained_ = false;
    int clearSinceUnexplained_ = 0;
    logging::CountReport report_;
};

}  // namespace tarnix
