#pragma once
// Loss accounting for demodulator samples that the simulated instrument makes
// at the rate set through DEMODS/n/RATE: each demodulator's samples are one
// divider step apart on the instrument's clock, so every sample missing
// between two received ones shows as a longer step. Exact for binary blocks.
//
//   DemodRateTally tally(stepTicks);
//   for each binary value event of a .../DEMODS/n/SAMPLE path:
//       tally.addBlock(DemodTestStreamTally::demodOfPath(path, length), data, count);
//   then tally.lost() == 0, tally.unexpected() == 0.
#include "platform/endian/ByteOrder.h"

#include <cstdint>
#include <map>

namespace tarnix {
namespace test {

class DemodRateTally {
public:
    // `stepTicks`: ticks of the 210 MHz clock between two samples of one
    // demodulator (114 times the RATE divider on the simulated instrument).
    explicit DemodRateTally(uint64_t stepTicks) : step_(stepTicks) {}

    // A binary block of 64-byte samples of demodulator d.
    void addBlock(int demod, const uint8_t* samples, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) add(demod, le::get64(samples + 64 * std::size_t(i)));
    }
    void add(int demod, uint64_t time) {
        ++received_;
        uint64_t& last = last_[demod];
        if (last != 0) {
            if (time <= last || (time - last) % step_ != 0)
                ++unexpected_;
            else
                lost_ += (time - last) / step_ - 1;
        }
        last = time;
    }

    uint64_t received() const { return received_; }
    uint64_t lost() const { return lost_; }
    uint64_t unexpected() const { return unexpected_; }

private:
    const uint64_t step_;
    std::map<int, uint64_t> last_;
    uint64_t received_ = 0;
    uint64_t lost_ = 0;
    uint64_t unexpected_ = 0;
};

}  // namespace test
}  // namespace tarnix
