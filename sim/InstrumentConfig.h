#pragma once
#include <array>
#include <cstdint>

namespace tarnix {
namespace sim {

// Fault knobs for tests of the host's error handling.
struct Faults {
    bool silent = false;              // no device-to-host data at all
    int32_t stallOutAfter = -1;       // framed OUT transfers accepted before OUT stalls (-1: never)
    uint32_t crcFailures = 0;         // configurations that end with a CRC error before one succeeds
    bool noDone = false;              // configurations never raise DONE
    bool invalidAddressMessage = false;  // one message at 0x14000000 before the first read answer
};

// Identity and start state of a simulated instrument.
struct InstrumentConfig {
    uint32_t serial = 1000;
    uint32_t product = 3;
    uint8_t firmwareMajor = 2;
    uint8_t firmwareMinor = 5;
    uint8_t picMajor = 1;
    uint8_t picMinor = 3;
    uint16_t firmwareBuild = 0x0102;
    std::array<uint8_t, 4> register40{{0x01, 0x02, 0x00, 0x00}};
    uint32_t driverInformation = 0x00010001;
    uint16_t driverVersion = 7437;
    bool fpgaRunning = false;
    std::array<uint8_t, 16> designDigest{};  // design hash when the FPGA starts running
    uint32_t paddingBytes = 16;              // clock bytes the FPGA wants after an image
    std::array<uint16_t, 6> supplies{{1200, 1800, 2500, 3300, 5000, 45}};  // mV and the temperature
    Faults faults;
};

}  // namespace sim
}  // namespace tarnix
