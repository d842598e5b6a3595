#pragma once
#include <cstdint>
#include <vector>

namespace tarnix {

// An FPGA configuration prepared for sending: the image of a configuration
// file with every byte's bit order reversed, for the FPGA type it was built for.
class Bitstream {
public:
    // The FPGA type of the instrument's design.
    static constexpr uint32_t kInstrumentFpgaType = 2;

    Bitstream() = default;
    explicit Bitstream(uint32_t fpgaType) : fpgaType_(fpgaType) {}

    // 4096 zero bytes, valid, FPGA type 0: clears a configuration that has not
    // started a design.
    static Bitstream blank();

    // Parses a configuration file (tagged header fields 'a' to 'd', image 'e')
    // held in memory for the FPGA type set before. Throws QVBitstreamException.
    void configure(const uint8_t* file, uint32_t length);

    bool valid() const { return valid_; }
    uint32_t fpgaType() const { return fpgaType_; }
    void setFpgaType(uint32_t type) { fpgaType_ = type; }
    // The bytes to send, in the order sent.
    const std::vector<uint8_t>& data() const { return data_; }

    static uint8_t reverseBits(uint8_t byte);

private:
    bool valid_ = false;
    uint32_t fpgaType_ = 0;
    std::vector<uint8_t> data_;
};

}  // namespace tarnix
