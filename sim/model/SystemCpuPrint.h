#pragma once
#include "RegisterSpace.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarnix {
namespace sim {

// The simulated real-time CPUs' user programs, as far as their printed output
// goes: whenever the host releases a CPU from hold (after writing a program),
// its program prints one line through the kernel's print protocol, as
// messages into the print window at the end of that CPU's status block. Laid
// over the CPUs' control words, it hands every access on to the CPU region
// beneath.
class CpuPrintRegion : public RegisterRegion {
public:
    static constexpr const char* kStartLine = "user program started";

    // CPU n's hold word is at controlBase + n x controlStride, its print window
    // at printWindow + n x printWindowStride.
    CpuPrintRegion(std::shared_ptr<RegisterRegion> cpu, uint32_t controlBase, uint32_t controlStride,
                   uint32_t printWindow, uint32_t printWindowStride);
    void read(uint32_t address, uint8_t* out, uint32_t length) override;
    void write(uint32_t address, const uint8_t* data, uint32_t length, DeviceMessageSink& sink) override;

private:
    uint32_t holdWord(uint32_t address);

    std::shared_ptr<RegisterRegion> cpu_;
    uint32_t controlBase_;
    uint32_t controlStride_;
    uint32_t printWindow_;
    uint32_t printWindowStride_;
};

// The messages that print `line` as one text part: each a block at the print
// window whose first word is that address.
std::vector<std::vector<uint8_t>> printMessages(uint32_t printWindow, const std::string& line);

}  // namespace sim
}  // namespace tarnix
