#include "groups/DemodSample.h"

#include "platform/endian/ByteOrder.h"
#include "core/DataTypes.h"
#include "core/Logging.h"
#include "core/ValueRecord.h"
#include "core/fifo/BufferFifo.h"
#include "engine/DeviceState.h"
#include "groups/Mods.h"
#include "groups/data/GroupFamilyData.h"

#include <cmath>
#include <cstring>

namespace tarnix {

namespace {

// Offsets of the packet.
constexpr uint32_t kPacketTime = 0;
constexpr uint32_t kPacketHarmonic = 6;
constexpr uint32_t kPacketX = 8;
constexpr uint32_t kPacketY = 16;
constexpr uint32_t kPacketFrequency = 24;
constexpr uint32_t kPacketPhase = 30;
constexpr uint32_t kPacketDio = 32;
constexpr uint32_t kPacketAux0 = 36;
constexpr uint32_t kPacketAux1 = 38;

// Offsets of a DataDemodSample; bytes 44-47 are reserved and written as zeros
// (the block reserved in a stream buffer holds what was there before).
constexpr uint32_t kSampleTime = 0;
constexpr uint32_t kSampleX = 8;
constexpr uint32_t kSampleY = 16;
constexpr uint32_t kSampleFrequency = 24;
constexpr uint32_t kSamplePhase = 32;
constexpr uint32_t kSampleDio = 40;
constexpr uint32_t kSampleReserved = 44;
constexpr uint32_t kSampleAux0 = 48;
constexpr uint32_t kSampleAux1 = 56;
constexpr uint32_t kSampleBytes = uint32_t(kDemodSampleSize);

constexpr double kFullScaleVolts = 2.245614035087719;     // 128 / 57
constexpr double kTwoPowMinus63 = 1.0842021724855044e-19;
constexpr double kClockBase = 210000000.0;
constexpr double kTwoPowMinus48 = 3.552713678800501e-15;
constexpr double kRadiansPerPhaseStep = 9.587526218325454e-05;  // 2 pi / 65535
constexpr double kVoltsPerAuxStep = 0.00030518043793392844;     // 20 / 65535
constexpr uint32_t kHarmonicOne = 0x80;
constexpr int kHarmonicShift = 7;

constexpr std::size_t kMaxDemods = 32;
constexpr uint32_t kModulatorDemods = 3;

uint64_t get48(const uint8_t* p) { return uint64_t(le::get32(p)) | (uint64_t(le::get16(p + 4)) << 32); }

// The gain of demodulator d's input; 0 when its samples are to be dropped.
double inputGain(const DeviceState& state, std::size_t d) {
    const int32_t input = state.groups.demodInputIndex[d];
    if (input < 0) return 0.0;
    const uint64_t i = uint64_t(input);
    const SharedGroupData& shared = familyDataOf(state).shared;
    const uint64_t signalInputs = shared.signalInputCount;
    if (i < signalInputs) {
        const auto& gains = state.groups.auxOutDerived;
        const double g = i < gains.size() ? gains[i] : 0.0;
        return g > 0.0 ? g : 0.0;  // also NaN
    }
    const uint64_t inputs = signalInputs + 2 * (uint64_t(shared.auxInputCount) + shared.dioCount);
    return i < inputs ? 1.0 : 0.0;
}

void convert(uint8_t* out, const uint8_t* packet, double gain, Timestamp48Extender& extender) {
    const double scale = kFullScaleVolts / gain;
    const uint32_t harmonicWord = le::get16(packet + kPacketHarmonic);
    const double harmonic = harmonicWord > kHarmonicOne ? double(harmonicWord >> kHarmonicShift) : 1.0;
    le::put64(out + kSampleTime, extender.extend(le::get32(packet + kPacketTime), le::get16(packet + kPacketTime + 4)));
    le::putDouble(out + kSampleX, double(int64_t(le::get64(packet + kPacketX))) * scale * kTwoPowMinus63);
    le::putDouble(out + kSampleY, double(int64_t(le::get64(packet + kPacketY))) * scale * kTwoPowMinus63);
    le::putDouble(out + kSampleFrequency,
                  double(get48(packet + kPacketFrequency)) * kClockBase * kTwoPowMinus48 * harmonic);
    le::putDouble(out + kSamplePhase, double(le::get16(packet + kPacketPhase)) * kRadiansPerPhaseStep);
    le::put32(out + kSampleDio, le::get32(packet + kPacketDio));
    le::put32(out + kSampleReserved, 0);
    le::putDouble(out + kSampleAux0, double(int16_t(le::get16(packet + kPacketAux0))) * kVoltsPerAuxStep);
    le::putDouble(out + kSampleAux1, double(int16_t(le::get16(packet + kPacketAux1))) * kVoltsPerAuxStep);
}

double magnitude(const uint8_t* sample) {
    const double x = le::getDouble(sample + kSampleX);
    const double y = le::getDouble(sample + kSampleY);
    return std::sqrt(x * x + y * y);
}

// The slot of a demodulator in its modulator's sample set.
struct Slot {
    uint32_t sample;
    uint32_t flag;
};
constexpr Slot kSlots[kModulatorDemods] = {
    {ModSampleLayout::kCarrier, ModSampleLayout::kCarrierFlag},
    {ModSampleLayout::kFirstSideband, ModSampleLayout::kFirstSidebandFlag},
    {ModSampleLayout::kSecondSideband, ModSampleLayout::kSecondSidebandFlag},
};

void combine(uint8_t* out, const uint8_t* set, const uint8_t* latest, const ModModeRow& row) {
    const uint8_t* carrier = set + ModSampleLayout::kCarrier;
    const uint8_t* first = set + ModSampleLayout::kFirstSideband;
    const uint8_t* second = set + ModSampleLayout::kSecondSideband;
    const double ac = magnitude(carrier);
    const double a1 = magnitude(first);
    const double a2 = magnitude(second);
    const bool both = row.sideband == 0;
    double x = 0.0;
    double sidebands = 0.0;
    if (row.sampleKind == MOD_SAMPLE_AMPLITUDE) {
        sidebands = both ? a1 + a2 : a1;
        x = sidebands / ac;
    } else {
        sidebands = both ? a1 + a2 : 2 * a1;
        x = ModIndexOfRatio(sidebands / (2 * ac)) * le::getDouble(first + kSampleFrequency);
    }
    le::put64(out + kSampleTime, le::get64(latest + kSampleTime));
    le::putDouble(out + kSampleX, x);
    le::putDouble(out + kSampleY, sidebands);
    std::memcpy(out + kSampleFrequency, first + kSampleFrequency, 16);  // frequency and phase
    le::put32(out + kSampleDio, le::get32(latest + kSampleDio));
    le::put32(out + kSampleReserved, 0);
    std::memcpy(out + kSampleAux0, latest + kSampleAux0, 16);  // both aux inputs
}

// Hands demodulator d's new sample to its modulator; a complete set becomes
// one modulation sample.
QV_STATUS feedModulator(DeviceState& state, std::size_t d, const uint8_t* sample) {
    const std::size_t k = d / kModulatorDemods;
    const std::size_t j = d - k * kModulatorDemods;
    const auto& modes = familyDataOf(state).signalPath.modMode;
    const auto& ids = familyDataOf(state).signalPath.modSampleEpId;
    if (k >= modes.size() || k >= ids.size()) return QV_NO_ERROR;
    if (ModModeRowOf(modes[k]).sampleKind == MOD_SAMPLE_NONE || ids[k] < 0) return QV_NO_ERROR;
    const EPNodePtr mod = DeviceStateEPNodesFind(state.epNodes, ids[k]);
    if (!mod || mod->instance < 0 || std::size_t(mod->instance) >= modes.size()) return QV_NO_ERROR;
    const ModModeRow& row = ModModeRowOf(modes[std::size_t(mod->instance)]);
    if (row.sampleKind == MOD_SAMPLE_NONE || mod->value.size() < ModSampleLayout::kSize) return QV_NO_ERROR;

    uint8_t* set = mod->value.data();
    std::memcpy(set + kSlots[j].sample, sample, kSampleBytes);
    le::put32(set + kSlots[j].flag, 1);
    const bool carrier = le::get32(set + ModSampleLayout::kCarrierFlag) != 0;
    const bool first = le::get32(set + ModSampleLayout::kFirstSidebandFlag) != 0;
    const bool second = le::get32(set + ModSampleLayout::kSecondSidebandFlag) != 0;
    const bool complete = carrier && first && (second || row.sampleKind == MOD_SAMPLE_AMPLITUDE);
    if (!complete || !mod->stream) return QV_NO_ERROR;

    // A full modulator stream loses only the derived sample: the flags stay, so
    // the next sample of the set tries again, and the rest of the message
    // still reaches its demodulators.
    FifoWriter block(*mod->stream, kSampleBytes);
    if (!block) return QV_NO_ERROR;
    combine(block.data(), set, sample, row);
    for (const Slot& slot : kSlots) le::put32(set + slot.flag, 0);
    std::memcpy(set + ModSampleLayout::kCarrier, block.data(), kSampleBytes);
    block.commitAll();
    return QV_NO_ERROR;
}

void logLoss(DeviceAccess& device, DeviceState& state, DemodSampleLoss& loss) {
    if (!loss.reportDue(state.currentTime)) return;
    const std::string line = loss.report(device.serial(), state.currentTime);
    if (!line.empty()) QVLOG(logging::warning) << line;
}

}  // namespace

void DemodSampleLossStatus(DeviceAccess& device, bool lost) {
    DeviceState& state = stateOf(device);
    DemodSampleLoss& loss = familyDataOf(state).signalPath.demodSampleLoss;
    loss.status(lost);
    logLoss(device, state, loss);
}

QV_STATUS DemodSampleUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    if (!ep->stream) return QV_VALUE_NOT_FOUND;
    const std::size_t d = std::size_t(ep->instance < 0 ? kMaxDemods : std::size_t(ep->instance) / 2);
    if (d >= kMaxDemods) return QV_BUFFER_TOO_SMALL;
    if (!data || length < kDemodSamplePacketBytes) return QV_BUFFER_TOO_SMALL;
    DeviceState& state = stateOf(device);
    // Every sample that arrives counts here, also one dropped below: a gap in
    // the times is what the instrument lost, not the host.
    DemodSampleLoss& loss = familyDataOf(state).signalPath.demodSampleLoss;
    loss.note(d, get48(data + kPacketTime));
    logLoss(device, state, loss);
    const double gain = inputGain(state, d);
    if (gain == 0.0) return QV_NO_ERROR;

    FifoWriter block(*ep->stream, kSampleBytes);
    if (!block) return QV_OVERFLOW;
    // Made here and copied into the stream buffer, never read back from it:
    // its line may still be on its way from the reader's core.
    uint8_t sample[kSampleBytes];
    convert(sample, data, gain, state.demodExtender);
    std::memcpy(block.data(), sample, kSampleBytes);
    block.commitAll();
    if (ep->value.size() >= kSampleBytes) std::memcpy(ep->value.data(), sample, kSampleBytes);
    return feedModulator(state, d, sample);
}

QV_STATUS DemodSampleReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    if (ep->value.size() < kSampleBytes) return QV_BUFFER_TOO_SMALL;
    const DataDemodSample sample = decodeDemodSample(ep->value.data());
    return ReturnParamValueDemodSample(outputOf(device), seq, session, uint32_t(ep->epId), VALUE_FLAG_REPLY_ONLY,
                                       &sample);
}

}  // namespace tarnix
