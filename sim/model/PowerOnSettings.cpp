#include "model/PowerOnSettings.h"

#include "platform/endian/ByteOrder.h"

namespace tarnix {
namespace sim {
namespace {

// The listed demodulator and oscillator blocks of the models' lists.
constexpr uint32_t kDemods = 0x01002000;
constexpr uint32_t kDemodStride = 0x40;
constexpr uint32_t kDemodCount = 6;
constexpr uint32_t kOrderOffset = 0x04;
constexpr uint32_t kTimeConstantOffset = 0x08;
constexpr uint32_t kOscs = 0x01002800;
constexpr uint32_t kOscStride = 0x10;
constexpr uint32_t kOscCount = 2;
constexpr uint32_t kSigIns = 0x01002A00;
constexpr uint32_t kSigInStride = 0x20;

void putWord(SimInstrument& instrument, uint32_t address, uint32_t word) {
    uint8_t bytes[4];
    le::put32(bytes, word);
    instrument.writeRegisters(address, bytes, sizeof bytes);
}

}  // namespace

void presetPowerOnSettings(SimInstrument& instrument, uint32_t signalInputs, bool gainTables) {
    for (uint32_t d = 0; d < kDemodCount; ++d) {
        const uint32_t block = kDemods + d * kDemodStride;
        putWord(instrument, block + kOrderOffset, PowerOnWords::kDemodOrder);
        putWord(instrument, block + kTimeConstantOffset, PowerOnWords::kDemodTimeConstant);
    }
    for (uint32_t o = 0; o < kOscCount; ++o) {
        uint8_t bytes[8];
        le::put64(bytes, PowerOnWords::kOscFrequency);
        instrument.writeRegisters(kOscs + o * kOscStride, bytes, sizeof bytes);
    }
    for (uint32_t i = 0; i < signalInputs; ++i)
        putWord(instrument, kSigIns + i * kSigInStride,
                gainTables ? PowerOnWords::sigInTableRange(i) : PowerOnWords::kSigInFormulaRange);
}

}  // namespace sim
}  // namespace tarnix
