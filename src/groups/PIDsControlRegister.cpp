// The control register of a PID controller: input code and channel, output
// code and channel, and the enable bit, shown as five leaves.
#include "platform/endian/ByteOrder.h"
#include "core/Logging.h"
#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "groups/PIDsHandlers.h"
#include "groups/common/EndpointLinks.h"
#include "groups/common/ValueReplies.h"
#include "groups/data/GroupFamilyData.h"

#include <boost/format.hpp>

#include <algorithm>

namespace tarnix {

namespace {

constexpr int kInputShift = 0;
constexpr int kInputChannelShift = 4;
constexpr int kOutputShift = 8;
constexpr int kOutputChannelShift = 12;
constexpr uint32_t kFieldMask = 0xF;
constexpr uint32_t kEnableBit = 0x80000000u;
constexpr int64_t kMaxInput = 10;
constexpr int64_t kMaxOutput = 4;

// Input codes, as in the INPUT value list.
constexpr uint32_t kInputAuxIn = 4;
constexpr uint32_t kInputAuxOut = 5;
constexpr uint32_t kInputModulation = 6;
constexpr uint32_t kInputLastDemodPair = 9;  // 10 is the oscillator frequency

// Output codes, as in the OUTPUT value list.
constexpr uint32_t kOutputSigOut2 = 1;
constexpr uint32_t kOutputOscillator = 2;
constexpr uint32_t kOutputAuxOut = 3;

uint32_t field(uint32_t word, int shift) { return (word >> shift) & kFieldMask; }
uint32_t withField(uint32_t word, int shift, int64_t value) {
    return (word & ~(kFieldMask << shift)) | ((uint32_t(value) & kFieldMask) << shift);
}
uint32_t inputOf(uint32_t ctl) { return std::min<uint32_t>(field(ctl, kInputShift), kMaxInput); }
uint32_t outputOf(uint32_t ctl) { return std::min<uint32_t>(field(ctl, kOutputShift), kMaxOutput); }
uint32_t enableOf(uint32_t ctl) { return (ctl & kEnableBit) ? 1 : 0; }

uint32_t getControlRegister(DeviceAccess& device, const DeviceStateEPNode& ep) {
    const EPNodePtr holder = LinkedEndpoint(device, ep, kPidListInput);
    return holder ? storedWord(*holder) : 0;
}

void setControlRegister(DeviceAccess& device, const DeviceStateEPNode& ep, uint32_t ctl) {
    const EPNodePtr holder = LinkedEndpoint(device, ep, kPidListInput);
    if (!holder) return;
    storeWord(*holder, ctl);
    QVLOG(logging::debug) << "setControlRegister=" << boost::format("0x%08x") % ctl;
    // Marking a node for writing cannot fail.
    DeviceStateEPNodesMarkWrite(stateOf(device).epNodes, holder->epId).ignore();
}

// A channel limited to [lo, hi]. When the selected kind has no channel at all
// (hi below lo) the field holds the lowest channel rather than the low bits of
// a negative number.
int64_t limitChannel(int64_t channel, int64_t lo, int64_t hi) {
    if (hi < lo) return lo;
    return std::clamp(channel, lo, hi);
}

int64_t highestInputChannel(const SharedGroupData& g, uint32_t input) {
    if (input < kInputAuxIn) return int64_t(g.demodulatorCount) - 1;
    if (input == kInputAuxIn) return 2 * int64_t(g.auxInputCount) - 1;
    if (input == kInputAuxOut) return int64_t(g.auxOutputCount) - 1;
    if (input == kInputModulation) return int64_t(g.modulatorCount) - 1;
    if (input <= kInputLastDemodPair) return int64_t(g.demodulatorCount) - 2;
    return int64_t(g.oscillatorCount) - 1;  // the oscillator frequency
}

struct ChannelRange {
    int64_t lo;
    int64_t hi;
};

ChannelRange outputChannelRange(const DeviceState& state, uint32_t output) {
    const SharedGroupData& g = familyDataOf(state).shared;
    const FrontEndData& frontEnd = familyDataOf(state).frontEnd;
    if (output <= kOutputSigOut2) return {frontEnd.mixerChannelFirst, frontEnd.mixerChannelLast};
    if (output == kOutputOscillator) return {0, int64_t(g.oscillatorCount) - 1};
    if (output == kOutputAuxOut) return {0, int64_t(g.auxOutputCount) - 1};
    return {0, int64_t(g.dioCount) - 1};  // digital I/O
}

// Fits the channel to the range of the selected input and stores it; returns
// the channel now in the register.
uint32_t setInputChannel(DeviceAccess& device, const DeviceStateEPNode& ep, int64_t channel) {
    const uint32_t ctl = getControlRegister(device, ep);
    const uint32_t input = inputOf(ctl);
    const int64_t highest = highestInputChannel(familyDataOf(stateOf(device)).shared, input);
    QVLOG(logging::debug) << __PRETTY_FUNCTION__ << ", selectedInput=" << boost::format("%llu") % input
                          << ", inputChannelRange= 0 - " << boost::format("%d") % highest;
    channel = limitChannel(channel, 0, highest);
    const uint32_t updated = withField(ctl, kInputChannelShift, channel);
    QVLOG(logging::debug) << "setting inputchannel=" << boost::format("%u") % channel;
    if (updated != ctl) setControlRegister(device, ep, updated);
    return field(updated, kInputChannelShift);
}

uint32_t setOutputChannel(DeviceAccess& device, const DeviceStateEPNode& ep, int64_t channel) {
    const uint32_t ctl = getControlRegister(device, ep);
    const uint32_t output = outputOf(ctl);
    const ChannelRange range = outputChannelRange(stateOf(device), output);
    QVLOG(logging::debug) << __PRETTY_FUNCTION__ << ", selectedOutput=" << boost::format("%llu") % output
                          << ", range= 0 - " << boost::format("%d") % range.hi;
    channel = limitChannel(channel, range.lo, range.hi);
    const uint32_t updated = withField(ctl, kOutputChannelShift, channel);
    QVLOG(logging::debug) << "setting outputchannel=" << boost::format("%u") % channel;
    if (updated != ctl) setControlRegister(device, ep, updated);
    return field(updated, kOutputChannelShift);
}

// A selection field of the control register with the channel field that
// belongs to it.
struct Selection {
    int shift;
    int64_t max;
    int channelShift;
    std::size_t channelEntry;
    const char* name;  // for the log
    // The input is written also when unchanged, so that the register and the
    // strobe always go out; the output only when it changes.
    bool alwaysWrite;
    uint32_t (*setChannel)(DeviceAccess&, const DeviceStateEPNode&, int64_t);
};

const Selection kInputSelection = {kInputShift, kMaxInput, kInputChannelShift, kPidListInputChannel, "Input", true,
                                   setInputChannel};
const Selection kOutputSelection = {kOutputShift, kMaxOutput, kOutputChannelShift, kPidListOutputChannel, "Output",
                                    false, setOutputChannel};

uint32_t selected(uint32_t ctl, const Selection& sel) { return std::min<uint32_t>(field(ctl, sel.shift), sel.max); }

QV_STATUS replyRead(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, uint32_t value) {
    return replyInteger(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, value);
}

QV_STATUS replyWrite(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, uint32_t value,
                     uint32_t before) {
    return replyInteger(device, *ep, seq, session, writeReplyFlags(value != before), value);
}

// After a change of the selected kind the channel may have been refitted:
// logs both and tells the channel leaf's subscribers.
QV_STATUS reportChannelChange(DeviceAccess& device, const DeviceStateEPNode& ep, const char* what,
                              std::size_t channelEntry, uint32_t before, uint32_t after) {
    QVLOG(logging::debug) << "old" << what << "Channel=" << boost::format("%lld") % before << ", new" << what
                          << "Channel=" << boost::format("%lld") % after;
    const int32_t channelId = LinkedEndpointId(ep, channelEntry);
    if (after == before || channelId < 0) return QV_NO_ERROR;
    return pushInteger(device, channelId, after);
}

QV_STATUS pushField(DeviceAccess& device, const DeviceStateEPNode& ep, std::size_t entry, uint32_t before,
                    uint32_t after) {
    const int32_t id = LinkedEndpointId(ep, entry);
    if (before == after || id < 0) return QV_NO_ERROR;
    return pushInteger(device, id, after);
}

// A new input or output; the channel is then fitted to its range.
QV_STATUS writeSelection(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, int64_t value,
                         const Selection& sel) {
    const uint32_t ctl = getControlRegister(device, *ep);
    const uint32_t oldChannel = field(ctl, sel.channelShift);
    const uint32_t updated = withField(ctl, sel.shift, std::clamp<int64_t>(value, 0, sel.max));
    if (sel.alwaysWrite || updated != ctl) setControlRegister(device, *ep, updated);
    const uint32_t channel = sel.setChannel(device, *ep, oldChannel);
    const uint32_t now = selected(getControlRegister(device, *ep), sel);
    if (QV_STATUS s = replyWrite(device, ep, seq, session, now, selected(ctl, sel))) return s;
    return reportChannelChange(device, *ep, sel.name, sel.channelEntry, oldChannel, channel);
}

QV_STATUS writeChannel(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, int64_t value,
                       const Selection& sel) {
    const uint32_t oldChannel = field(getControlRegister(device, *ep), sel.channelShift);
    const uint32_t channel = sel.setChannel(device, *ep, value);
    return replyWrite(device, ep, seq, session, channel, oldChannel);
}

}  // namespace

QV_STATUS PIDInputReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyRead(device, ep, seq, session, inputOf(getControlRegister(device, *ep)));
}

QV_STATUS PIDInputChannelReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyRead(device, ep, seq, session, field(getControlRegister(device, *ep), kInputChannelShift));
}

QV_STATUS PIDOutputReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyRead(device, ep, seq, session, outputOf(getControlRegister(device, *ep)));
}

QV_STATUS PIDOutputChannelReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyRead(device, ep, seq, session, field(getControlRegister(device, *ep), kOutputChannelShift));
}

QV_STATUS PIDEnableReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyRead(device, ep, seq, session, enableOf(getControlRegister(device, *ep)));
}

QV_STATUS PIDInputWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double,
                              int64_t integer) {
    return writeSelection(device, ep, seq, session, integer, kInputSelection);
}

QV_STATUS PIDInputChannelWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                     double, int64_t integer) {
    return writeChannel(device, ep, seq, session, integer, kInputSelection);
}

QV_STATUS PIDOutputWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double,
                               int64_t integer) {
    return writeSelection(device, ep, seq, session, integer, kOutputSelection);
}

QV_STATUS PIDOutputChannelWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                      double, int64_t integer) {
    return writeChannel(device, ep, seq, session, integer, kOutputSelection);
}

QV_STATUS PIDEnableWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double,
                               int64_t integer) {
    const uint32_t ctl = getControlRegister(device, *ep);
    const uint32_t updated = integer != 0 ? (ctl | kEnableBit) : (ctl & ~kEnableBit);
    if (updated != ctl) setControlRegister(device, *ep, updated);
    return replyWrite(device, ep, seq, session, enableOf(updated), enableOf(ctl));
}

QV_STATUS PIDInputUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    if (!data || length < 4 || ep->value.size() < 4) return QV_BUFFER_TOO_SMALL;
    const uint32_t before = storedWord(*ep);
    const uint32_t after = le::get32(data);
    if (after == before) return QV_NO_ERROR;
    storeWord(*ep, after);
    if (QV_STATUS s = pushField(device, *ep, kPidListInput, inputOf(before), inputOf(after))) return s;
    if (QV_STATUS s = pushField(device, *ep, kPidListInputChannel, field(before, kInputChannelShift),
                                field(after, kInputChannelShift)))
        return s;
    if (QV_STATUS s = pushField(device, *ep, kPidListOutput, outputOf(before), outputOf(after))) return s;
    if (QV_STATUS s = pushField(device, *ep, kPidListOutputChannel, field(before, kOutputChannelShift),
                                field(after, kOutputChannelShift)))
        return s;
    return pushField(device, *ep, kPidListEnable, enableOf(before), enableOf(after));
}

}  // namespace tarnix
