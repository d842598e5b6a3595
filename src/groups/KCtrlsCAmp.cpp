#include "groups/KCtrlsCAmp.h"

#include "platform/endian/ByteOrder.h"
#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "groups/KCtrls.h"
#include "groups/common/EndpointLinks.h"
#include "groups/common/GroupLeaf.h"
#include "groups/common/RegisterImage.h"
#include "groups/common/ValueReplies.h"

namespace tarnix {

namespace LQ3 = NodeDefs::LQ3;

namespace {

// Places in every leaf's endpoint list.
enum CAmpLeaf : std::size_t { LEAF_R = 0, LEAF_GAIN = 1, LEAF_DC = 2, LEAF_SINGLE_ENDED = 3 };

int64_t resistorOhms(uint64_t index) { return index < kCAmpResistors.size() ? kCAmpResistors[index] : 0; }
int64_t gainOf(uint64_t stored) { return stored == 1 ? 10 : 1; }
int64_t switchOf(uint64_t stored) { return stored != 0 ? 1 : 0; }

uint64_t storedOf(DeviceAccess& device, const DeviceStateEPNode& anyLeaf, CAmpLeaf leaf) {
    const EPNodePtr ep = LinkedEndpoint(device, anyLeaf, leaf);
    return ep ? storedWord64(*ep) : 0;
}

// The write step all four leaves share: store a changed value, have R write
// the whole control word in the next pass (also when nothing changed), reply.
QV_STATUS writeStored(DeviceAccess& device, DeviceStateEPNode& ep, uint16_t seq, uint16_t session, uint64_t stored,
                      int64_t (*shown)(uint64_t)) {
    if (!ep.hasValue() || ep.valueSize < kCAmpValueBytes) return QV_BUFFER_TOO_SMALL;
    const bool changed = stored != storedWord64(ep);
    if (changed) storeWord64(ep, stored);
    if (QV_STATUS s = DeviceStateEPNodesMarkWrite(stateOf(device).epNodes, LinkedEndpointId(ep, LEAF_R))) return s;
    return replyInteger(device, ep, seq, session, writeReplyFlags(changed), shown(stored));
}

// The update step of GAIN, DC and SINGLEENDED.
QV_STATUS receiveStored(DeviceAccess& device, DeviceStateEPNode& ep, const uint8_t* data, uint32_t length,
                        int64_t (*shown)(uint64_t)) {
    if (!data || length < 8 || !ep.hasValue() || ep.valueSize < kCAmpValueBytes) return QV_BUFFER_TOO_SMALL;
    const uint64_t stored = le::get64(data);
    if (stored == storedWord64(ep)) return QV_NO_ERROR;
    storeWord64(ep, stored);
    return pushInteger(device, ep.epId, shown(stored));
}

// Hands a decoded value to a leaf's update handler.
QV_STATUS updateLeaf(DeviceAccess& device, const DeviceStateEPNode& r, CAmpLeaf leaf, bool on) {
    const EPNodePtr ep = LinkedEndpoint(device, r, leaf);
    if (!ep || !ep->updateData) return QV_NO_ERROR;
    uint8_t value[8];
    le::put64(value, on ? 1 : 0);
    return ep->updateData(device, ep, value, sizeof value);
}

template <class T>
EPNodePtr createSwitch(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& node, Feature* port,
                       ReadDataFunc read, WriteNumberFunc write, UpdateDataFunc update) {
    EPNodePtr ep = CreateLeaf<T>(device, group, node, kCAmpValueBytes, 0, port, 0, 0);
    ep->readData = std::move(read);
    ep->writeNumber = std::move(write);
    ep->updateData = std::move(update);
    return ep;
}

}  // namespace

const std::vector<NodeValueListEntry>& LQ3::KCtrls::CAmp::R::values() {
    static const std::vector<NodeValueListEntry> table{
        {"open, high ohmic", 0}, {"10 Ohm", 10},       {"100 Ohm", 100}, {"1 kOhm", 1000},
        {"10 kOhm", 10000},      {"100 kOhm", 100000}, {"1 MOhm", 1000000}};
    return table;
}
const std::vector<NodeValueListEntry>& LQ3::KCtrls::CAmp::Gain::values() {
    static const std::vector<NodeValueListEntry> table{{"1x gain", 1}, {"10x gain", 10}};
    return table;
}
const std::vector<NodeValueListEntry>& LQ3::KCtrls::CAmp::DC::values() {
    static const std::vector<NodeValueListEntry> table{{"AC coupling", 0}, {"DC coupling", 1}};
    return table;
}
const std::vector<NodeValueListEntry>& LQ3::KCtrls::CAmp::SingleEnded::values() {
    static const std::vector<NodeValueListEntry> table{{"Differential inputs", 0}, {"Single-ended inputs", 1}};
    return table;
}

uint32_t CAmpNearestResistor(int64_t ohms) {
    if (ohms < 0) return 0;
    for (uint32_t i = 1; i < kCAmpResistors.size(); ++i) {
        const uint64_t mid = (uint64_t(kCAmpResistors[i - 1]) + kCAmpResistors[i]) / 2;
        if (uint64_t(ohms) < mid) return i - 1;
    }
    return uint32_t(kCAmpResistors.size() - 1);
}

uint32_t CAmpResistorIndexFromBits(uint32_t word) {
    for (uint32_t bit = 0; bit < 6; ++bit)
        if (word & (1u << bit)) return bit + 1;
    return 0;
}

uint32_t CAmpControlWord(uint64_t resistor, uint64_t gain, uint64_t dc, uint64_t singleEnded) {
    uint32_t word = 0;
    if (resistor > 0 && resistor <= 32) word = (1u << (resistor - 1)) & CAMP_RESISTOR_MASK;
    if (singleEnded != 0) word |= CAMP_SINGLE_ENDED;
    if (dc != 0) word |= CAMP_DC;
    if (gain != 0) word |= CAMP_GAIN_10X;
    return word;
}

QV_STATUS CAmpInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& amplifierNode,
                   Feature* port) {
    using CAmp = LQ3::KCtrls::CAmp;
    EPNodePtr r = CreateLeaf<CAmp::R>(device, group, amplifierNode, kCAmpValueBytes, kCAmpRegisterBytes, port, 0, 0);
    r->readData = CAmpResistorReadData;
    r->writeNumber = CAmpResistorWriteNumber;
    r->writeData = CAmpControlWriteData;
    r->requestData = DeviceStateEPRequestRegisters;
    r->updateData = CAmpControlUpdateData;
    storeWord64(*r, CAmpNearestResistor(0));
    if (QV_STATUS s = DeviceStateRequestEP(device, r->epId)) return s;

    EPNodePtr gain = createSwitch<CAmp::Gain>(device, group, amplifierNode, port, CAmpGainReadData,
                                              CAmpGainWriteNumber, CAmpGainUpdateData);
    EPNodePtr dc = createSwitch<CAmp::DC>(device, group, amplifierNode, port, CAmpCouplingReadData,
                                          CAmpSwitchWriteNumber, CAmpSwitchUpdateData);
    EPNodePtr singleEnded = createSwitch<CAmp::SingleEnded>(device, group, amplifierNode, port,
                                                            CAmpSingleEndedReadData, CAmpSwitchWriteNumber,
                                                            CAmpSwitchUpdateData);
    for (const EPNodePtr& ep : {r, gain, dc, singleEnded})
        if (QV_STATUS s = LinkEndpoints(*ep, {r->epId, gain->epId, dc->epId, singleEnded->epId})) return s;
    return QV_NO_ERROR;
}

QV_STATUS CAmpResistorReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyInteger(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, resistorOhms(storedWord64(*ep)));
}

QV_STATUS CAmpGainReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyInteger(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, gainOf(storedWord64(*ep)));
}

QV_STATUS CAmpCouplingReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyInteger(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, switchOf(storedWord64(*ep)));
}

QV_STATUS CAmpSingleEndedReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyDouble(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, double(switchOf(storedWord64(*ep))));
}

QV_STATUS CAmpResistorWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double,
                                  int64_t integer) {
    return writeStored(device, *ep, seq, session, CAmpNearestResistor(integer), resistorOhms);
}

QV_STATUS CAmpGainWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double,
                              int64_t integer) {
    return writeStored(device, *ep, seq, session, integer >= 5 ? 1 : 0, gainOf);
}

QV_STATUS CAmpSwitchWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double,
                                int64_t integer) {
    return writeStored(device, *ep, seq, session, integer != 0 ? 1 : 0, switchOf);
}

QV_STATUS CAmpControlUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    if (!data || length != kCAmpRegisterBytes || !ep->hasValue() || ep->valueSize < kCAmpValueBytes)
        return QV_BUFFER_TOO_SMALL;
    const uint32_t word = le::get32(data);
    QV_STATUS first = QV_NO_ERROR;
    const uint32_t resistor = CAmpResistorIndexFromBits(word);
    if (resistor != storedWord64(*ep)) {
        storeWord64(*ep, resistor);
        first = pushInteger(device, ep->epId, resistorOhms(resistor));
    }
    const QV_STATUS gain = updateLeaf(device, *ep, LEAF_GAIN, (word & CAMP_GAIN_10X) != 0);
    const QV_STATUS dc = updateLeaf(device, *ep, LEAF_DC, (word & CAMP_DC_READBACK) != 0);
    const QV_STATUS singleEnded = updateLeaf(device, *ep, LEAF_SINGLE_ENDED, (word & CAMP_SINGLE_ENDED) != 0);
    for (QV_STATUS s : {gain, dc, singleEnded})
        if (!first) first = s;
    return first;
}

QV_STATUS CAmpGainUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    return receiveStored(device, *ep, data, length, gainOf);
}

QV_STATUS CAmpSwitchUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    return receiveStored(device, *ep, data, length, switchOf);
}

QV_STATUS CAmpControlWriteData(DeviceAccess& device, const EPNodePtr& ep, uint32_t address) {
    const uint32_t word = CAmpControlWord(storedWord64(*ep), storedOf(device, *ep, LEAF_GAIN),
                                          storedOf(device, *ep, LEAF_DC), storedOf(device, *ep, LEAF_SINGLE_ENDED));
    if (!ep->hasValue()) return QV_BUFFER_TOO_SMALL;
    if (address == 0) return QV_NO_ERROR;
    const uint64_t part = word;
    uint8_t value[kCAmpRegisterBytes];
    le::put64(value, part | part << 16 | part << 32 | part << 48);
    queueRegisterWrite(device, address, value, sizeof value);
    return QV_NO_ERROR;
}

}  // namespace tarnix
