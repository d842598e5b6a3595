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
constexpr uint32_t kSigInDiffOffset = 0x0C;
constexpr uint32_t kSigOuts = 0x01002B00;
constexpr uint32_t kSigOutStride = 0x10;
constexpr uint32_t kSigOutCount = 2;
constexpr uint32_t kSigOutRangeOffset = 8;
constexpr uint32_t kAuxInSettings = 0x01003000;
constexpr uint32_t kDioSettings = 0x01003200;
constexpr uint32_t kDioDecimationOffset = 4;
constexpr uint32_t kDioDriveOffset = 8;
constexpr uint32_t kDioSync0Offset = 16;
constexpr uint32_t kDioSync1Offset = 20;

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
    for (uint32_t i = 0; i < signalInputs; ++i) {
        const uint32_t block = kSigIns + i * kSigInStride;
        putWord(instrument, block, gainTables ? PowerOnWords::sigInTableRange(i) : PowerOnWords::kSigInFormulaRange);
        putWord(instrument, block + kSigInDiffOffset, PowerOnWords::kSigInSingleEnded);
    }
    for (uint32_t o = 0; o < kSigOutCount; ++o)
        putWord(instrument, kSigOuts + o * kSigOutStride + kSigOutRangeOffset, PowerOnWords::kSigOutRange1V);
    putWord(instrument, kAuxInSettings, PowerOnWords::kAuxInAveragingExponent);
    putWord(instrument, kDioSettings + kDioDecimationOffset, PowerOnWords::kDioDecimation);
    putWord(instrument, kDioSettings + kDioDriveOffset, PowerOnWords::kDioDriveOff);
    putWord(instrument, kDioSettings + kDioSync0Offset, PowerOnWords::kDioSyncNone);
    putWord(instrument, kDioSettings + kDioSync1Offset, PowerOnWords::kDioSyncNone);
}

}  // namespace sim
}  // namespace tarnix
