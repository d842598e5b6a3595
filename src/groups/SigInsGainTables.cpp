#include "platform/endian/ByteOrder.h"
#include "core/Logging.h"
#include "engine/DeviceState.h"
#include "engine/DeviceStateCmd.h"
#include "engine/RegisterHandlers.h"
#include "groups/AuxOutsScale.h"
#include "groups/ModuleFailure.h"
#include "groups/SigIns.h"
#include "groups/common/ValueReplies.h"
#include "groups/data/GroupFamilyData.h"

#include <boost/current_function.hpp>
#include <boost/format.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tarnix {

namespace {

constexpr const char* kModule = "LQ3SigIn";
constexpr int kCalibrationLengthLine = 810;
constexpr int kRangeTableLengthLine = 944;

// Command 13: one calibration block, 64 single-precision factors; block b
// holds input b >> 2, gain codes (b & 3) x 64 and up.
constexpr uint32_t kCalibrationCommand = 13;
constexpr uint32_t kCalibrationBlocks = 8;
constexpr uint32_t kFactorsPerBlock = 64;
constexpr uint32_t kCalibrationReplyBytes = kFactorsPerBlock * 4;
constexpr uint32_t kBlocksPerInput = 4;

// Command 16: one part of the gain-range table, 8 records of 24 bytes; record
// k of part j is entry n = 8j + k: bit 7 of n the input, bit 6 the sub-table.
constexpr uint32_t kRangeTableCommand = 16;
constexpr uint32_t kRangeTableParts = 32;
constexpr uint32_t kRecordsPerPart = 8;
constexpr uint32_t kRecordBytes = 24;
constexpr uint32_t kRangeTableReplyBytes = kRecordsPerPart * kRecordBytes;

double singleAt(const uint8_t* p) {
    const uint32_t bits = le::get32(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return double(value);
}

// The index a request of the current round carries as its user data; false
// without one, and for a request of an earlier round.
bool indexOf(DeviceAccess& device, const std::shared_ptr<void>& user, uint32_t& index) {
    if (!user) return false;
    const auto* tag = static_cast<const GainRequestTag*>(user.get());
    if (tag->round != familyDataOf(stateOf(device)).frontEnd.gainRequestRound) return false;
    index = tag->index;
    return true;
}

QV_STATUS requestCalibrationBlock(DeviceAccess& device, uint32_t block) {
    return DeviceStateCmdRequest(device, GainRequestComplete, GainRequestTimeout,
                                 SigInGainRequestTag(stateOf(device), block), kCalibrationCommand, block, nullptr, 0);
}

QV_STATUS requestRangeTablePart(DeviceAccess& device, uint32_t part) {
    return DeviceStateCmdRequest(device, GainRangeRequestComplete, GainRangeRequestTimeout,
                                 SigInGainRequestTag(stateOf(device), part), kRangeTableCommand, part, nullptr, 0);
}

// A reply of the wrong size means the instrument and the server disagree on
// the mailbox: the device is given up.
[[noreturn]] void illegalLength(const uint8_t* reply, uint32_t length, const char* function, int line) {
    if (length == 4 && reply) {
        QVLOG(logging::error) << boost::format(
                                     "Illegal length of calibration data packet detected! Length = %u, Data %u.") %
                                     length % le::get32(reply);
    } else {
        QVLOG(logging::error) << boost::format("Illegal length of calibration data packet detected! Length = %u.") %
                                     length;
    }
    throwDeviceFailure("Illegal length of calibration data packet.", function, kModule, line);
}

GainRangeEntry entryOf(const uint8_t* record) {
    GainRangeEntry entry;
    entry.range = singleAt(record);
    entry.word16 = le::get16(record + 4);
    entry.word32 = le::get32(record + 8);
    entry.factor = singleAt(record + 12);
    return entry;
}

// Puts the loaded tables of one input into service (sorted by key) and keeps
// its range word at the same position in them.
void takeTablesIntoService(DeviceAccess& device, uint32_t input) {
    DeviceState& state = stateOf(device);
    const uint32_t oldWord = SigInRangeWord(device, input);
    const double oldRange = 1.0 / SigInWordGain(state, input, oldWord);
    for (uint32_t subTable = 0; subTable < 2; ++subTable) {
        std::vector<GainRangeEntry>& loaded = familyDataOf(state).frontEnd.gainRangesLoading[input * 2 + subTable];
        std::stable_sort(loaded.begin(), loaded.end(),
                         [](const GainRangeEntry& a, const GainRangeEntry& b) { return a.range < b.range; });
        loaded.swap(state.groups.gainRanges[input * 2 + subTable]);
    }
    // Without a RANGE leaf the input has no word to keep in step.
    if (!SigInRangeEndpoint(device, input)) return;
    const uint32_t subTable = familyDataOf(state).frontEnd.sigInCouplingTable[input];
    SigInTakeRangeWord(device, input, oldWord, oldRange, SigInRemapWord(state, input, oldWord, subTable));
}

}  // namespace

std::shared_ptr<void> SigInGainRequestTag(const DeviceState& state, uint32_t index) {
    return std::make_shared<GainRequestTag>(GainRequestTag{index, familyDataOf(state).frontEnd.gainRequestRound});
}

QV_STATUS SigInRequestGainCalibration(DeviceAccess& device) {
    for (uint32_t block = 0; block < kCalibrationBlocks; ++block)
        if (QV_STATUS s = requestCalibrationBlock(device, block)) return s;
    return QV_NO_ERROR;
}

QV_STATUS SigInRequestGainRangeTable(DeviceAccess& device) {
    FrontEndData& data = familyDataOf(stateOf(device)).frontEnd;
    for (auto& table : data.gainRangesLoading) table.clear();
    data.gainRangeAnswerCount = 0;
    for (uint32_t part = 0; part < kRangeTableParts; ++part) {
        if (QV_STATUS s = requestRangeTablePart(device, part)) {
            QVLOG(logging::error) << "Error requesting gain range table!!";
            return s;
        }
    }
    return QV_NO_ERROR;
}

void GainRequestComplete(DeviceAccess& device, const uint8_t* reply, uint32_t length,
                         const std::shared_ptr<void>& user) {
    uint32_t block = 0;
    if (!indexOf(device, user, block) || block >= kCalibrationBlocks) return;
    if (length != kCalibrationReplyBytes || !reply)
        illegalLength(reply, length, BOOST_CURRENT_FUNCTION, kCalibrationLengthLine);
    DeviceState& state = stateOf(device);
    const uint32_t input = block / kBlocksPerInput;
    SharedGroupData& shared = familyDataOf(state).shared;
    std::array<double, 256>& factors = input == 0 ? shared.gainTable0 : shared.gainTable1;
    const uint32_t first = (block % kBlocksPerInput) * kFactorsPerBlock;
    for (uint32_t k = 0; k < kFactorsPerBlock; ++k) factors[first + k] = singleAt(reply + 4 * k);
    // A completion has nobody to answer; a full output FIFO loses only the pushed scales.
    if (++familyDataOf(state).frontEnd.sigInGainCalBlocks[input] == kBlocksPerInput)
        SigInRangeRecalibrate(device, input).ignore();
}

void GainRequestTimeout(DeviceAccess& device, const std::shared_ptr<void>& user) {
    uint32_t block = 0;
    if (!indexOf(device, user, block)) return;
    QVLOG(logging::error) << "GainRequestTimeout, Index=" << block;
    // A timeout has nobody to answer; a request that cannot be queued leaves the table as loaded so far.
    requestCalibrationBlock(device, block).ignore();
}

void GainRangeRequestTimeout(DeviceAccess& device, const std::shared_ptr<void>& user) {
    uint32_t part = 0;
    if (!indexOf(device, user, part)) return;
    // A timeout has nobody to answer; a request that cannot be queued leaves the table as loaded so far.
    requestRangeTablePart(device, part).ignore();
}

void GainRangeRequestComplete(DeviceAccess& device, const uint8_t* reply, uint32_t length,
                              const std::shared_ptr<void>& user) {
    uint32_t part = 0;
    // A part the table does not have would name inputs the server does not keep.
    if (!indexOf(device, user, part) || part >= kRangeTableParts) return;
    if (length != kRangeTableReplyBytes || !reply)
        illegalLength(reply, length, BOOST_CURRENT_FUNCTION, kRangeTableLengthLine);
    DeviceState& state = stateOf(device);
    FrontEndData& data = familyDataOf(state).frontEnd;
    for (uint32_t k = 0; k < kRecordsPerPart; ++k) {
        const uint32_t n = part * kRecordsPerPart + k;
        const GainRangeEntry entry = entryOf(reply + k * kRecordBytes);
        // Empty records carry no range; a key that is not a number could not be sorted.
        if (entry.range == 0.0 || !std::isfinite(entry.range)) continue;
        data.gainRangesLoading[(n >> 7) * 2 + ((n >> 6) & 1)].push_back(entry);
    }
    if (++data.gainRangeAnswerCount != kRangeTableParts) return;

    QVLOG(logging::debug) << "GainRangeRequest ALL LOADED!!!";
    const AuxOutScaleSnapshot before = AuxOutsScaleFactors(device);
    for (uint32_t input = 0; input < sigin::kModelInputs; ++input) takeTablesIntoService(device, input);
    // A completion has nobody to answer; a full output FIFO loses only the pushed scales.
    AuxOutsRefreshScale(device, before).ignore();
}

QV_STATUS SigInRangeRecalibrate(DeviceAccess& device, uint32_t input) {
    const EPNodePtr range = SigInRangeEndpoint(device, input);
    if (!range) return QV_NO_ERROR;
    DeviceState& state = stateOf(device);
    const uint32_t word = storedWord(*range);
    const double oldRange = 1.0 / SigInFormulaGain(word);
    const double gain = SigInWordGain(state, input, word);
    const AuxOutScaleSnapshot before = AuxOutsScaleFactors(device);
    if (1.0 / gain != oldRange) {
        SigInSetGain(state, input, gain);
        if (QV_STATUS s = pushDouble(device, range->epId, 1.0 / gain)) return s;
    }
    return AuxOutsRefreshScale(device, before);
}

}  // namespace tarnix
