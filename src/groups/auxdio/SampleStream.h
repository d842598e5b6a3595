#pragma once
#include "platform/endian/ByteOrder.h"
#include "core/QVStatus.h"
#include "core/ValueRecord.h"
#include "core/fifo/BufferFifo.h"
#include "engine/DeviceAccess.h"
#include "engine/DeviceStateEPNode.h"
#include "engine/NodeGroup.h"
#include "engine/Timestamp48Extender.h"
#include "groups/common/GroupLeaf.h"

#include <algorithm>
#include <cstdint>

// The sample packets of the aux-input and DIO blocks, and how a packet becomes
// one block of a stream leaf's buffer.
namespace tarnix {
namespace auxdio {

// Packet: u32 timestamp bits 0-31, u16 bits 32-47, 2 unused bytes, then the
// 4 bytes of the sample's payload.
constexpr uint32_t kSamplePacketBytes = 12;
constexpr uint32_t kSamplePayloadOffset = 8;

inline uint64_t PacketTime(Timestamp48Extender& extender, const uint8_t* packet) {
    return extender.extend(le::get32(packet), le::get16(packet + 4));
}

// Reserves one `sampleSize`-byte block in the leaf's stream buffer, lets
// `encode(uint8_t* block)` fill it, keeps a copy as the leaf's latest value and
// publishes the block. A packet of another length is refused (0x8010), a leaf
// without a stream buffer gives 0x4003, and a full buffer drops the packet
// (QV_OVERFLOW) before anything, the extended timestamp included, changes.
// Allocates nothing.
template <class Encode>
QV_STATUS AppendSample(DeviceStateEPNode& ep, const uint8_t* packet, uint32_t length, uint32_t sampleSize,
                       Encode encode) {
    if (!packet || length != kSamplePacketBytes) return QV_BUFFER_TOO_SMALL;
    if (!ep.stream) return QV_VALUE_NOT_FOUND;
    FifoWriter block(*ep.stream, sampleSize);
    if (!block) return QV_OVERFLOW;
    encode(block.data());
    std::copy_n(block.data(), std::min<std::size_t>(sampleSize, ep.value.size()), ep.value.data());
    block.commitAll();
    return QV_NO_ERROR;
}

// The stream leaf T of one block below `node`, fed by both of the block's
// sample slots (2 x instance and the one after it) of the record `slots`.
template <class T>
QV_STATUS CreateSlotPairStream(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& node,
                               const Feature* slots, int32_t instance, uint32_t sampleSize, uint16_t dataType,
                               ReadDataFunc read, UpdateDataFunc update) {
    const EPNodePtr ep = CreateLeaf<T>(device, group, node, sampleSize, kSamplePacketBytes, slots, 2 * instance, 0);
    if (QV_STATUS s = DeviceStateEPAddSubfeature(device, ep, 2 * instance + 1, 0)) return s;
    if (QV_STATUS s = DeviceStateBufferEP(device, ep, dataType)) return s;
    BindReadOnlyRegister(*ep, std::move(read), std::move(update));
    return QV_NO_ERROR;
}

// The ReadDataFunc of a stream leaf: replies the latest sample (zeros before the
// first packet) as one sample record.
template <class Sample, std::size_t Size, Sample (*Decode)(const uint8_t*),
          QV_STATUS (*Reply)(QVFifo&, uint16_t, uint16_t, uint32_t, uint16_t, const Sample*)>
QV_STATUS ReadLatestSample(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    const Sample sample = ep->value.size() >= Size ? Decode(ep->value.data()) : Sample();
    return Reply(outputOf(device), seq, session, uint32_t(ep->epId), VALUE_FLAG_REPLY_ONLY, &sample);
}

}  // namespace auxdio
}  // namespace tarnix
