#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "groups/SigIns.h"
#include "groups/data/GroupFamilyData.h"

#include <algorithm>
#include <cmath>

namespace tarnix {

namespace {

// Formula mode: gain = (a^2 x kStepScale x kBase x kBase) x k^2 for the step k
// of bits 0-6, with a = kBoost when bit 7 is set, multiplied in this order so
// that every code gives the same double as the instrument's own tables.
// kStepScale is the double just below 3.3901664 (bits 0x400B1F0F8FBFFC03).
constexpr double kStepScale = 3.3901663999999996;
constexpr double kBase = 0.055744;
constexpr double kBoost = 7.079458;
constexpr uint32_t kBoostBit = 0x80;
constexpr uint32_t kStepMask = 0x7F;
constexpr double kLargestStep = 127.0;
constexpr double kBoostAboveGain = 9.0;
constexpr double kGainOfNoRange = 1000000000.0;

// Table mode: bits 16-23 of the word are the table code (bit 7 input, bit 6
// sub-table, bits 0-5 position); bits 0-15 the entry's register value.
constexpr uint32_t kCodeShift = 16;
constexpr uint32_t kPositionMask = 0x3F;
constexpr uint32_t kRegValueMask = 0xFFFF;

double boostSquared(bool boosted) { return boosted ? kBoost * kBoost : 1.0; }

// The gain of step 1.
double unitStepGain(bool boosted) { return ((boostSquared(boosted) * kStepScale) * kBase) * kBase; }

const std::vector<GainRangeEntry>* tableOf(const DeviceState& state, uint32_t input, uint32_t subTable) {
    if (input >= sigin::kModelInputs || subTable > 1) return nullptr;
    return &state.groups.gainRanges[input * 2 + subTable];
}

uint32_t couplingTable(const DeviceState& state, uint32_t input) {
    return input < sigin::kModelInputs ? familyDataOf(state).frontEnd.sigInCouplingTable[input] : 0;
}

SigInRangeWords tableWords(uint32_t input, uint32_t subTable, std::size_t position, const GainRangeEntry& entry) {
    const uint32_t code = ((input << 7) + (subTable << 6) + uint32_t(position)) & 0xFF;
    return {code << kCodeShift | (entry.word16 & kRegValueMask), entry.word32};
}

double tableGain(const DeviceState& state, uint32_t input, uint32_t word) {
    const uint32_t code = (word >> kCodeShift) & 0xFF;
    const uint32_t t = couplingTable(state, input);
    const std::vector<GainRangeEntry>* table = tableOf(state, input, t);
    if (!table || table->empty() || (code >> 7) != input || ((code >> 6) & 1) != t) return 0.0;
    const std::size_t position = std::min<std::size_t>(code & kPositionMask, table->size() - 1);
    const GainRangeEntry& entry = (*table)[position];
    return entry.factor / entry.range;
}

// The entry whose key is nearest to the range; midway takes the larger key.
SigInRangeWords nearestTableWords(const DeviceState& state, uint32_t input, double range) {
    const uint32_t t = couplingTable(state, input);
    const std::vector<GainRangeEntry>* table = tableOf(state, input, t);
    if (!table || table->empty()) return {};
    auto above = std::upper_bound(table->begin(), table->end(), range,
                                  [](double r, const GainRangeEntry& e) { return r < e.range; });
    if (above == table->end()) {
        --above;
    } else if (above != table->begin()) {
        const auto below = above - 1;
        if (!(range >= (below->range + above->range) * 0.5)) above = below;
    }
    return tableWords(input, t, std::size_t(above - table->begin()), *above);
}

SigInRangeWords formulaWords(double range) {
    const double gain = range > 0.0 ? 1.0 / range : kGainOfNoRange;
    const bool boosted = gain > kBoostAboveGain;
    double step = std::floor(std::sqrt(gain / unitStepGain(boosted)) + 0.5);
    if (step > kLargestStep) step = kLargestStep;
    if (!(step >= 1.0)) step = 1.0;  // also a NaN step
    return {uint32_t(step) + (boosted ? kBoostBit : 0), 0};
}

}  // namespace

bool SigInTableMode(const DeviceState& state) { return state.hwInfo.revision != 0; }

double SigInFormulaGain(uint32_t word) {
    const uint32_t code = word & 0xFF;
    const double step = double(code & kStepMask);
    return unitStepGain((code & kBoostBit) != 0) * (step * step);
}

double SigInWordGain(const DeviceState& state, uint32_t input, uint32_t word) {
    if (SigInTableMode(state)) return tableGain(state, input, word);
    const double gain = SigInFormulaGain(word);
    if (input == 0) return gain * familyDataOf(state).shared.gainTable0[word & 0xFF];
    if (input == 1) return gain * familyDataOf(state).shared.gainTable1[word & 0xFF];
    return gain;
}

SigInRangeWords SigInRangeToWord(const DeviceState& state, uint32_t input, double range) {
    if (range > sigin::kLargestRange) range = sigin::kLargestRange;
    return SigInTableMode(state) ? nearestTableWords(state, input, range) : formulaWords(range);
}

SigInRangeWords SigInRemapWord(const DeviceState& state, uint32_t input, uint32_t word, uint32_t subTable) {
    (void)input;  // the word names its input itself
    const uint32_t code = (word >> kCodeShift) & 0xFF;
    const uint32_t wordInput = code >> 7;
    const std::vector<GainRangeEntry>* table = tableOf(state, wordInput, subTable);
    // An empty table offers nothing to select: the word stays as it is.
    if (!table || table->empty()) return {word, 0};
    const std::size_t position = std::min<std::size_t>(code & kPositionMask, table->size() - 1);
    return tableWords(wordInput, subTable, position, (*table)[position]);
}

EPNodePtr SigInRangeEndpoint(DeviceAccess& device, uint32_t input) {
    if (input >= sigin::kModelInputs) return EPNodePtr();
    const DeviceState& state = stateOf(device);
    return DeviceStateEPNodesFind(state.epNodes, familyDataOf(state).frontEnd.sigInRangeEPIds[input]);
}

uint32_t SigInRangeWord(DeviceAccess& device, uint32_t input) {
    const EPNodePtr ep = SigInRangeEndpoint(device, input);
    return ep ? storedWord(*ep) : 0xFFFFFFFF;
}

void SigInWriteRangeAux(DeviceAccess& device, uint32_t input, uint32_t auxWord) {
    const DeviceState& state = stateOf(device);
    if (!SigInTableMode(state) || input >= sigin::kModelInputs) return;
    const uint32_t address = familyDataOf(state).frontEnd.sigInRangeAuxAddress[input];
    if (address == 0) return;
    queueRegisterWord(device, address, auxWord);
    device.flush();
}

void SigInSetGain(DeviceState& state, uint32_t input, double gain) {
    if (input < sigin::kGainSlots) state.groups.auxOutDerived[input] = gain;
}

}  // namespace tarnix
