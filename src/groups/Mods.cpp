#include "groups/Mods.h"

#include "platform/endian/ByteOrder.h"
#include "core/DataTypes.h"
#include "engine/DeviceState.h"
#include "groups/BlockChecks.h"
#include "groups/DemodSample.h"
#include "groups/common/EndpointLinks.h"
#include "groups/common/GroupLeaf.h"
#include "groups/common/ValueReplies.h"
#include "groups/data/GroupFamilyData.h"

#include <math.h>

#include <algorithm>
#include <cstdlib>

namespace tarnix {

namespace LQ3 = NodeDefs::LQ3;

const std::vector<NodeValueListEntry>& LQ3::ModsModeValues() {
    static const std::vector<NodeValueListEntry> table{{"Off", 0},
                                                       {"Amplitude modulation", 1},
                                                       {"Frequency demodulation", 2},
                                                       {"Frequency modulation", 3}};
    return table;
}

const std::vector<NodeValueListEntry>& LQ3::ModsSidebandValues() {
    static const std::vector<NodeValueListEntry> table{{"Both", 0}, {"Upper", 1}, {"Lower", 2}};
    return table;
}

const std::array<ModModeRow, kModModes> ModModeTable = {{
    {0, 0, 4, 0, 0, -1, "off", MOD_SAMPLE_NONE},
    {1, 2, 8, 0, 1, 0, "AM both", MOD_SAMPLE_AMPLITUDE},
    {1, 0, 12, 0, 1, 1, "AM upper", MOD_SAMPLE_AMPLITUDE},
    {2, 0, 16, 0, 1, 2, "AM lower", MOD_SAMPLE_AMPLITUDE},
    {1, 2, 20, 0, 2, 0, "F Demod both", MOD_SAMPLE_FREQUENCY},
    {1, 0, 24, 0, 2, 1, "F Demod upper", MOD_SAMPLE_FREQUENCY},
    {2, 0, 28, 0, 2, 2, "F Demod lower", MOD_SAMPLE_FREQUENCY},
    {0, 0, 32, 1, 3, -1, "F Mod", MOD_SAMPLE_NONE},
}};

const ModModeRow& ModModeRowOf(int32_t mode) {
    return mode >= 0 && std::size_t(mode) < ModModeTable.size() ? ModModeTable[std::size_t(mode)] : ModModeTable[0];
}

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kCoeffSteps = 131071.0;  // 2^17 - 1
constexpr double kTwoPow33 = 8589934592.0;
constexpr double kTwoPowMinus33 = 1.1641532182693481e-10;
constexpr double kIndexStep = 0.0009775171065493646;  // 1 / 1023
constexpr double kIndexMax = 2.4;
constexpr uint32_t kImageBytes = 16;
constexpr uint32_t kFmCoeffOffset = 4;
constexpr int32_t kModeMax = 3;
constexpr int32_t kSidebandMax = 2;

// The three settings of a modulator, in the order of the leaves' byte buffers.
enum Setting : std::size_t { FM_COEFF = 0, MODE = 1, SIDEBAND = 2 };
// The order in which changed settings are announced.
constexpr Setting kAnnounceOrder[] = {MODE, SIDEBAND, FM_COEFF};

struct Decoded {
    double coeff = 0.0;
    std::size_t row = 0;
    int32_t mode = 0;
    int32_t sideband = 0;
};

Decoded decode(const DeviceStateEPNode& fm) {
    const uint8_t* p = fm.value.data();
    const int64_t w0 = int32_t(le::get32(p));
    Decoded d;
    d.coeff = kTwoPi * double(std::llabs(w0)) * kCoeffSteps * kTwoPowMinus33;
    for (std::size_t r = 0; r < ModModeTable.size(); ++r) {
        const ModModeRow& row = ModModeTable[r];
        if (row.w1 == le::get32(p + 4) && row.w2 == le::get32(p + 8) && row.w3 == le::get32(p + 12)) {
            d.row = r;
            break;
        }
    }
    d.mode = ModModeTable[d.row].mode;
    d.sideband = std::max(ModModeTable[d.row].sideband, 0);
    return d;
}

bool differs(Setting s, const Decoded& a, const Decoded& b) {
    switch (s) {
        case MODE:
            return a.mode != b.mode;
        case SIDEBAND:
            return a.sideband != b.sideband;
        case FM_COEFF:
        default:
            return !(a.coeff == b.coeff);  // unordered counts as different
    }
}

QV_STATUS emit(DeviceAccess& device, Setting s, const Decoded& d, const DeviceStateEPNode& ep, uint16_t seq,
               uint16_t session, uint16_t flags) {
    if (s == FM_COEFF) return replyDouble(device, ep, seq, session, flags, d.coeff);
    return replyInteger(device, ep, seq, session, flags, s == MODE ? d.mode : d.sideband);
}

QV_STATUS push(DeviceAccess& device, const DeviceStateEPNode& anyLeaf, Setting s, const Decoded& d) {
    const EPNodePtr target = LinkedEndpoint(device, anyLeaf, s);
    if (!target) return QV_VALUE_NOT_FOUND;
    return emit(device, s, d, *target, kUnsolicitedSequenceTag, kUnsolicitedSessionTag, VALUE_FLAG_CHANGED);
}

// The first row showing `mode` whose sideband is `sideband` or that has none.
std::size_t rowOf(int32_t mode, int32_t sideband) {
    for (std::size_t r = 0; r < ModModeTable.size(); ++r) {
        const ModModeRow& row = ModModeTable[r];
        if (row.mode == mode && (row.sideband == sideband || row.sideband < 0)) return r;
    }
    return 0;
}

uint32_t coeffWord(double coeff) {
    const double k = coeff > 0.0 ? coeff : 0.0;  // also NaN
    const double w = k * kTwoPow33 / (kCoeffSteps * kTwoPi);
    return w > kCoeffSteps ? uint32_t(kCoeffSteps) : uint32_t(w);
}

void noteMode(DeviceAccess& device, const DeviceStateEPNode& fm, std::size_t row) {
    auto& modes = familyDataOf(stateOf(device)).signalPath.modMode;
    if (fm.instance >= 0 && std::size_t(fm.instance) < modes.size()) modes[std::size_t(fm.instance)] = int32_t(row);
}

QV_STATUS read(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, Setting s) {
    const EPNodePtr fm = ModsFmCoeffEP(device, *ep);
    if (!fm) return QV_VALUE_NOT_FOUND;
    return emit(device, s, decode(*fm), *ep, seq, session, VALUE_FLAG_REPLY_ONLY);
}

QV_STATUS write(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, Setting s, double value,
                int64_t integer) {
    const EPNodePtr fm = ModsFmCoeffEP(device, *ep);
    if (!fm) return QV_VALUE_NOT_FOUND;
    const Decoded before = decode(*fm);
    int32_t mode = before.mode;
    int32_t sideband = before.sideband;
    double coeff = before.coeff;
    const int32_t low = int32_t(uint32_t(integer));
    if (s == MODE) mode = std::clamp(low, 0, kModeMax);
    if (s == SIDEBAND) sideband = std::clamp(low, 0, kSidebandMax);
    if (s == FM_COEFF) coeff = value;

    const std::size_t row = rowOf(mode, sideband);
    const ModModeRow& r = ModModeTable[row];
    // Leaving FM mode clears the coefficient; returning to it starts from 0.
    uint8_t* p = fm->value.data();
    le::put32(p, r.fm ? coeffWord(coeff) : 0);
    le::put32(p + 4, r.w1);
    le::put32(p + 8, r.w2);
    le::put32(p + 12, r.w3);
    noteMode(device, *fm, row);
    if (QV_STATUS st = DeviceStateEPNodesMarkWrite(stateOf(device).epNodes, fm->epId)) return st;

    const Decoded after = decode(*fm);
    if (QV_STATUS st = emit(device, s, after, *ep, seq, session, writeReplyFlags(differs(s, before, after))))
        return st;
    for (Setting other : kAnnounceOrder) {
        if (other == s || !differs(other, before, after)) continue;
        if (QV_STATUS st = push(device, *ep, other, after)) return st;
    }
    return QV_NO_ERROR;
}

}  // namespace

const ModTables& ModulationTables() {
    // Built on first use; concurrent first callers wait for the one build.
    static const ModTables tables = [] {
        ModTables t;
        for (std::size_t i = 0; i < kModTableEntries; ++i) {
            const double x = double(i) * kIndexMax * kIndexStep;
            t.index[i] = x;
            t.ratio[i] = ::j1(x) / ::j0(x);
        }
        return t;
    }();
    return tables;
}

double ModIndexOfRatio(double ratio) {
    const ModTables& t = ModulationTables();
    const std::size_t last = kModTableEntries - 1;
    std::size_t lo = 0;
    std::size_t hi = last;
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (ratio > t.ratio[mid])
            lo = mid + 1;
        else
            hi = mid;
    }
    const std::size_t i = lo;
    if (i == 0) return t.index[0];
    if (ratio > t.ratio[last]) return t.index[last];
    const double m = (t.ratio[i] - t.ratio[i - 1]) / (t.index[i] - t.index[i - 1]);
    return (ratio - (t.ratio[i - 1] - m * t.index[i - 1])) / m;
}

EPNodePtr ModsFmCoeffEP(DeviceAccess& device, const DeviceStateEPNode& leaf) {
    EPNodePtr fm = LinkedEndpoint(device, leaf, FM_COEFF);
    if (!fm || fm->value.size() < kImageBytes) return EPNodePtr();
    return fm;
}

QV_STATUS ModsModeReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return read(device, ep, seq, session, MODE);
}

QV_STATUS ModsSidebandReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return read(device, ep, seq, session, SIDEBAND);
}

QV_STATUS ModsFmCoeffReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return read(device, ep, seq, session, FM_COEFF);
}

QV_STATUS ModsModeWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                              double value, int64_t integer) {
    return write(device, ep, seq, session, MODE, value, integer);
}

QV_STATUS ModsSidebandWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                  double value, int64_t integer) {
    return write(device, ep, seq, session, SIDEBAND, value, integer);
}

QV_STATUS ModsFmCoeffWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                 double value, int64_t integer) {
    return write(device, ep, seq, session, FM_COEFF, value, integer);
}

QV_STATUS ModsFmCoeffUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    const EPNodePtr fm = ModsFmCoeffEP(device, *ep);
    if (!fm) return QV_VALUE_NOT_FOUND;
    if (!data || length < kImageBytes) return QV_BUFFER_TOO_SMALL;
    const Decoded before = decode(*fm);
    std::copy(data, data + kImageBytes, fm->value.begin());
    const Decoded after = decode(*fm);
    noteMode(device, *fm, after.row);
    for (Setting s : kAnnounceOrder) {
        if (!differs(s, before, after)) continue;
        if (QV_STATUS st = push(device, *ep, s, after)) return st;
    }
    return QV_NO_ERROR;
}

QV_STATUS ModsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                          uint16_t, const std::vector<Feature*>& items, int count) {
    if (QV_STATUS s = GroupCheckBlocks(items, count, 1)) return s;
    ModulationTables();
    DeviceState& state = stateOf(device);
    const Feature* record = items[0];
    familyDataOf(state).shared.modulatorCount = record->count;

    GroupWarnBeyondTable("MODS", record->count, familyDataOf(state).signalPath.modSampleEpId.size(),
                         "the modulation mode and the derived sample stream");
    for (uint32_t n = 0; n < record->count; ++n) {
        const int32_t i = int32_t(n);
        const TreeNode::Ptr instance = CreateChild<LQ3::Mods::Instance>(groupNode);
        EPNodePtr mode = CreateLeaf<LQ3::Mods::Instance::Mode>(device, group, instance, 0, 0, record, i, 0);
        BindServerSetting(*mode, ModsModeReadData, ModsModeWriteNumber);
        EPNodePtr sideband = CreateLeaf<LQ3::Mods::Instance::Sideband>(device, group, instance, 0, 0, record, i, 0);
        BindServerSetting(*sideband, ModsSidebandReadData, ModsSidebandWriteNumber);
        EPNodePtr fm = CreateLeaf<LQ3::Mods::Instance::FMCoeff>(device, group, instance, kImageBytes,
                                                                int32_t(kImageBytes), record, i, kFmCoeffOffset);
        BindRegisterSetting(*fm, ModsFmCoeffReadData, ModsFmCoeffWriteNumber, ModsFmCoeffUpdateData);
        if (QV_STATUS s = DeviceStateRequestEP(device, fm->epId)) return s;
        for (const EPNodePtr& leaf : {fm, mode, sideband})
            if (QV_STATUS s = LinkEndpoints(*leaf, {fm->epId, mode->epId, sideband->epId})) return s;

        EPNodePtr sample = CreateLeaf<LQ3::Mods::Instance::Sample>(device, group, instance, ModSampleLayout::kSize, 0,
                                                                   record, i, 0);
        sample->readData = DemodSampleReadData;
        if (QV_STATUS s = DeviceStateBufferEP(device, sample, DATATYPE_DEMODSAMPLE)) return s;
        auto& sampleEpIds = familyDataOf(state).signalPath.modSampleEpId;
        if (n < sampleEpIds.size()) sampleEpIds[n] = sample->epId;
    }
    return QV_NO_ERROR;
}

}  // namespace tarnix
