#include "groups/CPUs.h"

#include "platform/endian/ByteOrder.h"
#include "core/Logging.h"
#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "groups/CPUsPrintf.h"
#include "groups/common/CommonHandlers.h"
#include "groups/common/GroupLeaf.h"
#include "groups/common/ValueReplies.h"
#include "groups/common/WordRegister.h"
#include "groups/data/GroupFamilyData.h"

#include <boost/format.hpp>

#include <algorithm>
#include <vector>

namespace tarnix {

namespace LQ3 = NodeDefs::LQ3;

namespace {

constexpr uint32_t kWorkloadWord = 1;
constexpr uint32_t kKernelStateWord = 2;
constexpr uint32_t kStatusAreaWords = kCPUStatusAreaBytes / 4;
constexpr uint32_t kHold = 1;
constexpr uint32_t kRun = 0;

double workloadOf(uint32_t word) { return double(word) / double(kCPUWorkloadFullScale); }

// The item of a register-map row, or none for a row that is not in use.
Feature* itemOfRow(DeviceState& state, int32_t row) {
    if (row < 0 || row >= state.features.maximum || std::size_t(row) >= state.features.items.size()) return nullptr;
    Feature& item = state.features.items[std::size_t(row)];
    return item.inUse ? &item : nullptr;
}

void logKernelState(DeviceAccess& device, uint32_t kernelState) {
    switch (kernelState) {
        case RTKSTATUS_NONE:
            QVLOG(logging::debug) << "LQ3_RTKFLAG_INDEX_STATUS: LQ3_RTKSTATUS_NONE.";
            break;
        case RTKSTATUS_INITIALIZING_RTK:
            QVLOG(logging::debug) << "LQ3_RTKFLAG_INDEX_STATUS: LQ3_RTKSTATUS_INITIALIZING_RTK.";
            break;
        case RTKSTATUS_INITIALIZING_USER:
            QVLOG(logging::debug) << "LQ3_RTKFLAG_INDEX_STATUS: LQ3_RTKSTATUS_INITIALIZING_USER.";
            break;
        case RTKSTATUS_RUNNING:
            QVLOG(logging::debug) << "LQ3_RTKFLAG_INDEX_STATUS: LQ3_RTKSTATUS_RUNNING.";
            // A command left unsent waits for the next completion or ready change.
            DeviceStateCmdSetReady(device, true).ignore();
            break;
        default:
            break;
    }
}

// The image as the CPU reads it: whole words, each byte-reversed, the last
// one filled up with zero bytes.
std::vector<uint8_t> programWords(const uint8_t* bytes, uint32_t length) {
    std::vector<uint8_t> words((std::size_t(length) + 3) / 4 * 4, 0);
    if (length) std::copy(bytes, bytes + length, words.begin());
    swapBytes32(words.data(), words.size());
    return words;
}

QV_STATUS replyProgramLength(DeviceAccess& device, const DeviceStateEPNode& ep, uint16_t seq, uint16_t session,
                             uint32_t length) {
    return replyInteger(device, ep, seq, session, VALUE_FLAG_CHANGED, int64_t(length));
}

}  // namespace

QV_STATUS CPUProgramContextStore(DeviceStateEPNode& ep, const CPUProgramContext& context) {
    uint8_t bytes[CPUProgramContext::kBytes];
    le::put32(bytes, uint32_t(context.controlRow));
    le::put32(bytes + 4, context.windowSize);
    le::put32(bytes + 8, context.statusAddress);
    return DeviceStateEPSetBytes(ep, sizeof bytes, bytes);
}

bool CPUProgramContextOf(const DeviceStateEPNode& ep, CPUProgramContext& context) {
    if (ep.bytes.size() < CPUProgramContext::kBytes) return false;
    context.controlRow = int32_t(le::get32(ep.bytes.data()));
    context.windowSize = le::get32(ep.bytes.data() + 4);
    context.statusAddress = le::get32(ep.bytes.data() + 8);
    return true;
}

uint32_t CPUUserRegisterCount(uint32_t stride) {
    const uint32_t words = stride / 4;
    return words > kCPUNonRegisterWords ? std::min(words - kCPUNonRegisterWords, kCPUMaxUserRegs) : 0;
}

QV_STATUS CPUsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                          uint16_t, const std::vector<Feature*>& items, int count) {
    if (count != 3 || items.size() != 3 || !group || !groupNode) return QV_BUFFER_TOO_SMALL;
    for (const Feature* item : items)
        if (!item) return QV_BUFFER_TOO_SMALL;
    Feature& status = *items[CPU_RECORD_STATUS];
    if (items[CPU_RECORD_PROGRAM]->count != items[CPU_RECORD_CONTROL]->count || status.count == 0)
        return QV_BUFFER_TOO_SMALL;

    DeviceState& state = stateOf(device);
    familyDataOf(state).system.printDecoders.assign(items[CPU_RECORD_CONTROL]->count, RTKPrintfDecoder());
    for (uint32_t cpu = 0; cpu < items[CPU_RECORD_CONTROL]->count; ++cpu) {
        const TreeNode::Ptr instance = CreateChild<LQ3::CPUs::Instance>(groupNode);
        if (QV_STATUS s = CPUInstanceInit(group, device, instance, items, int(cpu))) return s;
    }
    status.dataFunc = CPUStatusUpdateData;
    device.queueRequestData(status.address, kCPUStatusAreaBytes);
    device.flush();
    return QV_NO_ERROR;
}

QV_STATUS CPUInstanceInit(DeviceStateNodeGroup* group, DeviceAccess& device, const TreeNode::Ptr& instanceNode,
                          const std::vector<Feature*>& items, int cpu) {
    auto& decoders = familyDataOf(stateOf(device)).system.printDecoders;
    if (std::size_t(cpu) >= decoders.size()) decoders.resize(std::size_t(cpu) + 1);
    RTKPrintfDecoder& decoder = decoders[std::size_t(cpu)];
    Feature* control = items[CPU_RECORD_CONTROL];
    Feature* program = items[CPU_RECORD_PROGRAM];
    Feature* status = items[CPU_RECORD_STATUS];

    EPNodePtr workload = CreateLeaf<LQ3::CPUs::Instance::Workload>(device, group, instanceNode, 4, 0, control, cpu, 0);
    BindReadOnlyRegister(*workload, WorkloadReadData, WorkloadUpdateData);
    storeWord(*workload, 0);
    decoder.workloadEndpoint = workload->epId;

    EPNodePtr programEp = CreateLeaf<LQ3::CPUs::Instance::Program>(device, group, instanceNode, 0, 0, program, cpu, 0);
    programEp->readData = ProgramReadData;
    programEp->writeBytes = ProgramWriteBytes;
    CPUProgramContext context;
    context.controlRow = DeviceStateRowOf(device, control);
    context.windowSize = program->stride;
    // A hold clears the status area of this CPU's own block, where its kernel
    // reports again.
    context.statusAddress = uint32_t(cpu) < status->count ? status->address + uint32_t(cpu) * status->stride : 0;
    if (QV_STATUS s = CPUProgramContextStore(*programEp, context)) return s;

    EPNodePtr output = CreateLeaf<LQ3::CPUs::Instance::Output>(device, group, instanceNode, 0, 0, program, cpu, 0);
    decoder.outputEndpoint = output->epId;

    const uint32_t words = status->stride / 4;
    QVLOG(logging::debug) << boost::format("UserRegsCount1=%u") % words;
    QVLOG(logging::debug) << boost::format("UserRegsCount2=%u") % (words - kCPUNonRegisterWords);
    // A CPU without a status block of its own has no registers to show.
    const uint32_t registers = uint32_t(cpu) < status->count ? CPUUserRegisterCount(status->stride) : 0;

    const TreeNode::Ptr userRegs = CreateChild<LQ3::CPUs::Instance::UserRegs>(instanceNode);
    for (uint32_t m = 0; m < registers; ++m) {
        EPNodePtr reg = CreateLeaf<LQ3::CPUs::Instance::UserRegs::Channel>(
            device, group, userRegs, 4, 4, status, cpu, int32_t(kCPUUserRegOffset + 4 * m));
        BindRegisterSetting(*reg, IntegerReadData, UserRegWriteNumber, UserRegUpdateData);
        storeWord(*reg, 0);
        if (QV_STATUS s = DeviceStateRequestEP(device, reg->epId)) return s;
    }
    const uint32_t programRow = uint32_t(DeviceStateRowOf(device, program));
    return FeatureMapItemSetUserData(status, &programRow);
}

QV_STATUS CPUStatusUpdateData(DeviceAccess& device, Feature& item, uint32_t address, uint32_t instance,
                              const uint8_t* data, uint32_t length) {
    DeviceState& state = stateOf(device);
    auto& decoders = familyDataOf(state).system.printDecoders;
    // Block k of the record is CPU k's; a block without its CPU reports to no node.
    const uint64_t block = uint64_t(item.address) + uint64_t(instance) * item.stride;
    RTKPrintfDecoder* decoder = instance < decoders.size() ? &decoders[instance] : nullptr;
    if (address < block) return QV_NO_ERROR;
    const uint64_t offset = address - block;
    if (length != 0 && item.stride >= kCPUPrintWindowBytes && offset >= item.stride - kCPUPrintWindowBytes) {
        // One block of the print window is one message; its failures concern
        // the printed line only.
        if (decoder) RTKPrintfHandleMessage(device, data, length, *decoder, address).ignore();
        return QV_NO_ERROR;
    }
    uint32_t index = uint32_t(offset / 4);
    for (uint32_t at = 0; at + 4 <= length && index < kStatusAreaWords; at += 4, ++index) {
        const uint32_t word = le::get32(data + at);
        if (index == kWorkloadWord) {
            EPNodePtr workload =
                decoder ? DeviceStateEPNodesFind(state.epNodes, decoder->workloadEndpoint) : EPNodePtr();
            if (workload && workload->updateData) {
                if (QV_STATUS s = workload->updateData(device, workload, data + at, 4)) return s;
            }
        } else if (index == kKernelStateWord) {
            logKernelState(device, word);
        }
    }
    return QV_NO_ERROR;
}

QV_STATUS WorkloadReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyDouble(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, workloadOf(storedWord(*ep)));
}

QV_STATUS WorkloadUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    uint32_t word = 0;
    bool changed = false;
    if (QV_STATUS s = ReceiveWord(*ep, data, length, word, changed)) return s;
    return changed ? pushDouble(device, ep->epId, workloadOf(word)) : QV_NO_ERROR;
}

QV_STATUS ProgramReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    CPUProgramContext context;
    CPUProgramContextOf(*ep, context);
    return replyInteger(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, int64_t(context.windowSize));
}

QV_STATUS ProgramWriteBytes(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                            const uint8_t* bytes, uint32_t length) {
    // Without its register block nothing can be written: the reply says so
    // (0 bytes), as for an image too long for the window.
    Feature* program = itemOfRow(stateOf(device), ep->row);
    if (!program) return replyProgramLength(device, *ep, seq, session, 0);
    CPUProgramContext context;
    if (!CPUProgramContextOf(*ep, context)) return QV_BUFFER_TOO_SMALL;
    if (length > context.windowSize) return replyProgramLength(device, *ep, seq, session, 0);
    if (length && !bytes) return QV_BUFFER_TOO_SMALL;

    uint32_t window = 0;
    if (QV_STATUS s = FeatureMapAddressOf(program, ep->instance, 0, &window)) return s;
    if (QV_STATUS s = CPUSetHold(device, ep, true)) return s;
    const std::vector<uint8_t> words = programWords(bytes, length);
    for (std::size_t at = 0; window != 0 && at < words.size(); at += kCPUProgramChunkBytes) {
        const uint32_t chunk = uint32_t(std::min<std::size_t>(kCPUProgramChunkBytes, words.size() - at));
        queueRegisterWrite(device, window + uint32_t(at), words.data() + at, chunk);
        device.flush();
    }
    if (QV_STATUS s = CPUSetHold(device, ep, false)) return s;
    return replyProgramLength(device, *ep, seq, session, length);
}

QV_STATUS CPUSetHold(DeviceAccess& device, const EPNodePtr& program, bool hold) {
    CPUProgramContext context;
    if (!CPUProgramContextOf(*program, context)) return QV_BUFFER_TOO_SMALL;
    uint32_t holdAddress = 0;
    if (const Feature* control = itemOfRow(stateOf(device), context.controlRow)) {
        if (program->instance < 0 || uint32_t(program->instance) >= control->count) return QV_BUFFER_TOO_SMALL;
        const uint64_t relative = uint64_t(uint32_t(program->instance)) * control->stride + uint32_t(program->offset);
        holdAddress = relative < control->size ? uint32_t(control->address + relative) : 0;
    }
    if (hold) {
        // Setting the queue not ready cannot fail.
        DeviceStateCmdSetReady(device, false).ignore();
        // A cleared status area: the kernel's next report is news.
        if (context.statusAddress != 0) {
            const std::vector<uint8_t> zeros(kCPUStatusAreaBytes, 0);
            queueRegisterWrite(device, context.statusAddress, zeros.data(), uint32_t(zeros.size()));
        }
    }
    if (holdAddress != 0) queueRegisterWord(device, holdAddress, hold ? kHold : kRun);
    device.flush();
    // Setting the queue not ready cannot fail.
    DeviceStateCmdSetReady(device, false).ignore();
    return QV_NO_ERROR;
}

QV_STATUS UserRegWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double,
                             int64_t integer) {
    bool changed = false;
    if (QV_STATUS s = WriteWordSetting(device, *ep, uint32_t(uint64_t(integer)), changed)) return s;
    return replyInteger(device, *ep, seq, session, writeReplyFlags(changed), int64_t(storedWord(*ep)));
}

QV_STATUS UserRegUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    uint32_t word = 0;
    bool changed = false;
    if (QV_STATUS s = ReceiveWord(*ep, data, length, word, changed)) return s;
    if (!changed) return QV_NO_ERROR;
    return ReturnParamValueInteger(outputOf(device), kUnsolicitedSequenceTag, kUnsolicitedSessionTag,
                                   uint32_t(ep->epId), VALUE_FLAG_DROPPABLE, int64_t(word));
}

}  // namespace tarnix
