#include "groups/SigOuts.h"

#include "platform/endian/ByteOrder.h"
#include "core/Logging.h"
#include "engine/DeviceState.h"
#include "engine/DeviceStateCmd.h"
#include "engine/RegisterHandlers.h"
#include "engine/SaturatingCast.h"
#include "groups/BlockChecks.h"
#include "groups/common/BooleanUpdateData.h"
#include "groups/common/CommonHandlers.h"
#include "groups/common/EndpointLinks.h"
#include "groups/common/GroupLeaf.h"
#include "groups/common/RegisterImage.h"
#include "groups/common/SharedWriteHandlers.h"
#include "groups/common/ValueReplies.h"
#include "groups/common/WordRegister.h"
#include "groups/data/GroupFamilyData.h"

#include <boost/format.hpp>

#include <algorithm>
#include <array>

namespace tarnix {

namespace LQ3 = NodeDefs::LQ3;
using SigOutNodes = LQ3::SigOuts::Instance;

namespace {

constexpr std::array<double, 4> kRangeVolts = {0.01, 0.1, 1.0, 10.0};

}  // namespace

const std::vector<NodeValueListEntry>& SigOutNodes::On::values() {
    static const std::vector<NodeValueListEntry> table{{"Output off", 0}, {"Output on", 1}};
    return table;
}

const std::vector<NodeValueListEntry>& SigOutNodes::Add::values() {
    static const std::vector<NodeValueListEntry> table{{"Adder off", 0}, {"Adder on", 1}};
    return table;
}

const std::vector<NodeValueListEntry>& SigOutNodes::Range::values() {
    static const std::vector<NodeValueListEntry> table{{"0.01 V range", kRangeVolts[0]},
                                                       {"0.1 V range", kRangeVolts[1]},
                                                       {"1 V range", kRangeVolts[2]},
                                                       {"10 V range", kRangeVolts[3]}};
    return table;
}

const std::vector<NodeValueListEntry>& SigOutNodes::Enables::Channel::values() {
    static const std::vector<NodeValueListEntry> table{
        {"Channel off (unconditionally)", 0},
        {"Channel on (unconditionally)", 1},
        {"Channel off (will be turned off on next change of sign from negative to positive)", 2},
        {"Channel on (will be turned on on next change of sign from negative to positive)", 3}};
    return table;
}

const std::vector<NodeValueListEntry>& SigOutNodes::Waveforms::Channel::values() {
    static const std::vector<NodeValueListEntry> table{{"Sine", 0}, {"Square", 1}};
    return table;
}

namespace {

constexpr uint32_t kWordBytes = 4;
constexpr int32_t kOnOffset = 0;
constexpr int32_t kAddOffset = 4;
constexpr int32_t kRangeOffset = 8;
constexpr uint32_t kAmplitudeOffset = 4;  // within a channel slot
constexpr uint32_t kLargestMixerBytes = 64;
constexpr uint32_t kModeMask = 3;
constexpr uint32_t kWaveformBit = 2;
constexpr uint32_t kSquare = 1;
constexpr int32_t kFullAmplitude = 131071;  // 0x1FFFF = 1.0
constexpr double kAmplitudePerUnit = 7.629452739355006e-06;  // 1 / 131071
// WAVEFORMS/c links: the channel's ENABLES/c, then the output's RANGE.
constexpr std::size_t kEnableLink = 0;
constexpr std::size_t kRangeLink = 1;

bool squareLimitedTo1V(DeviceAccess& device) {
    return stateOf(device).hwInfo.revision < sigout::kSquareIn10VRevision;
}

double rangeVolts(uint32_t index) { return kRangeVolts[std::min<uint32_t>(index, sigout::kRange10V)]; }

uint32_t rangeIndexOf(double volts) {
    if (volts > 1.0) return 3;
    if (volts > 0.1) return 2;
    if (volts > 0.01) return 1;
    return 0;  // also for a value that is not a number
}

double amplitudeOf(uint32_t word) { return int32_t(word) * kAmplitudePerUnit; }

// The mixer channels of every output, from the demodulators' feature version:
// the old layouts had them only on channels 6 and 7; version 3 gives each
// demodulator its channel.
void mixerChannels(const DeviceState& state, uint32_t channels, int32_t& first, int32_t& last) {
    const uint16_t version = familyDataOf(state).signalPath.demodsVersion;
    first = 0;
    last = int32_t(channels) - 1;
    if (version <= 1) {
        first = 6;
        last = 7;
    } else if (version == 3) {
        last = int32_t(familyDataOf(state).shared.demodulatorCount) - 1;
    }
}

// The RANGE endpoint that a waveform channel is linked to, when it exists.
EPNodePtr linkedRange(DeviceAccess& device, const DeviceStateEPNode& waveform) {
    return LinkedEndpoint(device, waveform, kRangeLink);
}

template <class T>
EPNodePtr makeWord(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& parent,
                   int32_t registerSize, const Feature* item, uint32_t output, uint32_t offset, uint32_t initialWord,
                   int32_t nameIndex) {
    EPNodePtr ep = CreateLeaf<T>(device, group, parent, kWordBytes, registerSize, item, int32_t(output),
                                 int32_t(offset), nameIndex);
    storeWord(*ep, initialWord);
    return ep;
}

struct OutputBlocks {
    const Feature* outputs;
    const Feature* mixer;
    uint32_t channels;
};

// The ENABLES, AMPLITUDES and WAVEFORMS of one output, linked to each other and
// to its RANGE.
QV_STATUS makeChannels(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& output,
                       const OutputBlocks& blocks, uint32_t n, const EPNodePtr& range) {
    DeviceState& state = stateOf(device);
    int32_t first = 0;
    int32_t last = 0;
    mixerChannels(state, blocks.channels, first, last);
    familyDataOf(state).frontEnd.mixerChannelFirst = first;
    familyDataOf(state).frontEnd.mixerChannelLast = last;
    // Compared as unsigned: a last channel of -1 sets no bound of its own.
    auto made = [&](uint32_t c) { return c <= uint32_t(last) && c < blocks.channels; };

    std::array<int32_t, sigout::kMaxChannels> enableIds;
    std::array<int32_t, sigout::kMaxChannels> waveformIds;
    enableIds.fill(-1);
    waveformIds.fill(-1);

    const TreeNode::Ptr enables = CreateChild<SigOutNodes::Enables>(output);
    for (uint32_t c = uint32_t(first); made(c); ++c) {
        EPNodePtr ep = makeWord<SigOutNodes::Enables::Channel>(device, group, enables, int32_t(kWordBytes),
                                                              blocks.mixer, n, c * sigout::kChannelSlotBytes, 0,
                                                              int32_t(c));
        BindRegisterSetting(*ep, ClampTo3ReadData, ClampTo3WriteNumber, SigOutEnableUpdateData);
        ep->writeData = SigOutEnableWriteData;
        if (QV_STATUS s = DeviceStateRequestEP(device, ep->epId)) return s;
        enableIds[c] = ep->epId;
        if (QV_STATUS s = LinkEndpoints(*ep, {-1})) return s;
    }

    const TreeNode::Ptr amplitudes = CreateChild<SigOutNodes::Amplitudes>(output);
    for (uint32_t c = uint32_t(first); made(c); ++c) {
        EPNodePtr ep = makeWord<SigOutNodes::Amplitudes::Channel>(
            device, group, amplitudes, int32_t(kWordBytes), blocks.mixer, n,
            c * sigout::kChannelSlotBytes + kAmplitudeOffset, uint32_t(kFullAmplitude), int32_t(c));
        BindRegisterSetting(*ep, SigOutAmplitudeReadData, SigOutAmplitudeWriteNumber, SigOutAmplitudeUpdateData);
        if (QV_STATUS s = DeviceStateRequestEP(device, ep->epId)) return s;
    }

    // A waveform has no register of its own: it is bit 2 of the channel's
    // enable word, which reaches it through ENABLES/c.
    const TreeNode::Ptr waveforms = CreateChild<SigOutNodes::Waveforms>(output);
    for (uint32_t c = uint32_t(first); made(c); ++c) {
        EPNodePtr ep = makeWord<SigOutNodes::Waveforms::Channel>(device, group, waveforms, 0, blocks.mixer, n,
                                                                c * sigout::kChannelSlotBytes, 0, int32_t(c));
        BindServerSetting(*ep, SigOutWaveformReadData, SigOutWaveformWriteNumber);
        waveformIds[c] = ep->epId;
        const EPNodePtr enable = DeviceStateEPNodesFind(state.epNodes, enableIds[c]);
        if (enable) {
            if (QV_STATUS s = LinkEndpoints(*enable, {ep->epId})) return s;
        }
        if (QV_STATUS s = LinkEndpoints(*ep, {enable ? enable->epId : -1, range->epId})) return s;
    }

    const EPNodePtr found = DeviceStateEPNodesFind(state.epNodes, range->epId);
    if (!found) return QV_VALUE_NOT_FOUND;
    const std::array<int32_t, sigout::kMaxChannels>& w = waveformIds;
    return LinkEndpoints(*found, {w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]});
}

QV_STATUS makeOutput(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& root,
                     const OutputBlocks& blocks, uint32_t n) {
    const TreeNode::Ptr output = CreateChild<SigOutNodes>(root);

    EPNodePtr on = makeWord<SigOutNodes::On>(device, group, output, int32_t(kWordBytes), blocks.outputs, n,
                                             kOnOffset, 0, -1);
    BindRegisterSetting(*on, BooleanReadData, BooleanWriteNumber, BooleanUpdateData);
    if (QV_STATUS s = DeviceStateRequestEP(device, on->epId)) return s;

    EPNodePtr add = makeWord<SigOutNodes::Add>(device, group, output, int32_t(kWordBytes), blocks.outputs, n,
                                               kAddOffset, 0, -1);
    BindRegisterSetting(*add, BooleanReadData, BooleanWriteNumber, BooleanUpdateData);
    if (QV_STATUS s = DeviceStateRequestEP(device, add->epId)) return s;

    EPNodePtr range = makeWord<SigOutNodes::Range>(device, group, output, int32_t(kWordBytes), blocks.outputs, n,
                                                   kRangeOffset, sigout::kRange1V, -1);
    BindRegisterSetting(*range, SigOutRangeReadData, SigOutRangeWriteNumber, SigOutRangeUpdateData);
    if (QV_STATUS s = DeviceStateRequestEP(device, range->epId)) return s;

    return makeChannels(device, group, output, blocks, n, range);
}

}  // namespace

QV_STATUS SigOutsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                             uint16_t, const std::vector<Feature*>& items, int count) {
    if (QV_STATUS s = GroupCheckBlocks(items, count, 2, RepsRelation::Equal)) return s;
    const uint32_t outputs = items[0]->count;
    const uint32_t mixerBytes = items[1]->stride & ~(sigout::kChannelSlotBytes - 1);
    if (outputs > sigout::kMaxOutputs || mixerBytes > kLargestMixerBytes) return QV_BUFFER_TOO_SMALL;
    const OutputBlocks blocks{items[0], items[1], mixerBytes / sigout::kChannelSlotBytes};
    for (uint32_t n = 0; n < outputs; ++n)
        if (QV_STATUS s = makeOutput(device, group, groupNode, blocks, n)) return s;
    return QV_NO_ERROR;
}

QV_STATUS SigOutsFeatureLink(DeviceAccess&, const TreeNode::Ptr&, const std::vector<int>&, int) { return QV_NO_ERROR; }

QV_STATUS SigOutRangeReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyDouble(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, rangeVolts(storedWord(*ep)));
}

QV_STATUS SigOutRangeWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                 double value, int64_t) {
    const uint32_t index = rangeIndexOf(value);
    bool changed = false;
    if (QV_STATUS s = storeWordAndMark(device, *ep, index, changed)) return s;
    // The instrument hears of every range write, changed or not.
    uint8_t payload[kWordBytes];
    le::put32(payload, index);
    // An instrument without a mailbox, or whose mailbox queue is full (its CPU
    // never reported itself running), still gets the register: the write goes
    // on and the client gets its reply.
    if (QV_STATUS s = DeviceStateCmdRequest(device, nullptr, RangeUpdateTimeout, nullptr, sigout::kRangeCommand,
                                            uint32_t(ep->instance), payload, sizeof payload))
        QVLOG(logging::warning) << boost::format(
                                       "The range of signal output %d was not announced to the instrument "
                                       "(command %u not queued, status 0x%04x).") %
                                       ep->instance % sigout::kRangeCommand % s.code();
    DeviceState& state = stateOf(device);
    state.pidStrobePending = true;
    if (index == sigout::kRange10V && changed && squareLimitedTo1V(device)) {
        if (QV_STATUS s = SigOutForceSine(device, ep)) return s;
    }
    return replyDouble(device, *ep, seq, session, writeReplyFlags(changed), rangeVolts(index));
}

QV_STATUS SigOutRangeUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    uint32_t word = 0;
    bool changed = false;
    if (QV_STATUS s = ReceiveWord(*ep, data, length, word, changed)) return s;
    if (!changed) return QV_NO_ERROR;
    if (word > sigout::kRange1V && squareLimitedTo1V(device)) {
        if (QV_STATUS s = SigOutForceSine(device, ep)) return s;
    }
    if (QV_STATUS s = pushDouble(device, ep->epId, rangeVolts(word))) return s;
    stateOf(device).pidStrobePending = true;
    return QV_NO_ERROR;
}

void RangeUpdateTimeout(DeviceAccess&, const std::shared_ptr<void>&) {
    QVLOG(logging::error) << "RangeUpdateTimeout.";
}

QV_STATUS SigOutForceSine(DeviceAccess& device, const EPNodePtr& range) {
    for (std::size_t c = 0; c < sigout::kMaxChannels; ++c) {
        const EPNodePtr waveform = LinkedEndpoint(device, *range, c);
        if (!waveform) continue;
        if (QV_STATUS s = SigOutWaveformWriteNumber(device, waveform, kUnsolicitedSequenceTag, kUnsolicitedSessionTag,
                                                    0.0, 0))
            return s;
    }
    return QV_NO_ERROR;
}

QV_STATUS SigOutLimitRangeForSquare(DeviceAccess& device, const EPNodePtr& range) {
    if (storedWord(*range) <= sigout::kRange1V) return QV_NO_ERROR;
    return SigOutRangeWriteNumber(device, range, kUnsolicitedSequenceTag, kUnsolicitedSessionTag,
                                  kRangeVolts[sigout::kRange1V], 1);
}

QV_STATUS SigOutEnableWriteData(DeviceAccess& device, const EPNodePtr& ep, uint32_t address) {
    if (address == 0) return QV_NO_ERROR;
    // A channel without its waveform leaf is written as sine.
    const EPNodePtr waveform = LinkedEndpoint(device, *ep, 0);
    const uint32_t waveBit = waveform ? (storedWord(*waveform) & 1u) << kWaveformBit : 0;
    queueRegisterWord(device, address, waveBit | (storedWord(*ep) & kModeMask));
    return QV_NO_ERROR;
}

QV_STATUS SigOutEnableUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    if (!data || length < kWordBytes || ep->value.size() < kWordBytes) return QV_BUFFER_TOO_SMALL;
    const uint32_t word = le::get32(data);
    const uint32_t mode = word & kModeMask;
    if (mode != storedWord(*ep)) {
        storeWord(*ep, mode);
        if (QV_STATUS s = pushInteger(device, ep->epId, mode)) return s;
    }
    const uint32_t shape = (word >> kWaveformBit) & 1u;
    const EPNodePtr waveform = LinkedEndpoint(device, *ep, 0);
    if (!waveform || storedWord(*waveform) == shape) return QV_NO_ERROR;
    storeWord(*waveform, shape);
    if (shape == kSquare && squareLimitedTo1V(device)) {
        if (const EPNodePtr range = linkedRange(device, *waveform)) {
            if (QV_STATUS s = SigOutLimitRangeForSquare(device, range)) return s;
        }
    }
    return pushInteger(device, waveform->epId, shape);
}

QV_STATUS SigOutAmplitudeReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyDouble(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, amplitudeOf(storedWord(*ep)));
}

QV_STATUS SigOutAmplitudeWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                     double value, int64_t) {
    const double fraction = std::clamp(value, -1.0, 1.0);
    const uint32_t word = uint32_t(saturatingCast<int32_t>(fraction * double(kFullAmplitude)));
    bool changed = false;
    if (QV_STATUS s = storeWordAndMark(device, *ep, word, changed)) return s;
    return replyDouble(device, *ep, seq, session, writeReplyFlags(changed), amplitudeOf(word));
}

QV_STATUS SigOutAmplitudeUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                    uint32_t length) {
    uint32_t word = 0;
    bool changed = false;
    if (QV_STATUS s = ReceiveWord(*ep, data, length, word, changed)) return s;
    if (!changed) return QV_NO_ERROR;
    return pushDouble(device, ep->epId, amplitudeOf(word));
}

QV_STATUS SigOutWaveformReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyInteger(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, std::min(storedWord(*ep), kSquare));
}

QV_STATUS SigOutWaveformWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                    double, int64_t integer) {
    if (ep->value.size() < kWordBytes) return QV_BUFFER_TOO_SMALL;
    const uint32_t shape = uint32_t(std::clamp<int64_t>(integer, 0, kSquare));
    const bool changed = shape != storedWord(*ep);
    if (changed) storeWord(*ep, shape);
    // The waveform travels in the channel's enable word: that is sent again.
    const int32_t enableId = LinkedEndpointId(*ep, kEnableLink);
    if (enableId != -1) {
        if (QV_STATUS s = DeviceStateEPNodesMarkWrite(stateOf(device).epNodes, enableId)) return s;
    }
    if (changed && shape == kSquare && squareLimitedTo1V(device)) {
        if (const EPNodePtr range = linkedRange(device, *ep)) {
            if (QV_STATUS s = SigOutLimitRangeForSquare(device, range)) return s;
        }
    }
    return replyInteger(device, *ep, seq, session, writeReplyFlags(changed), shape);
}

}  // namespace tarnix
