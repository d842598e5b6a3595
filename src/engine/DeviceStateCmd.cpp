#include "engine/DeviceStateCmd.h"

#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "engine/DeviceState.h"
#include "engine/FeatureList.h"

namespace tarnix {

namespace {

// Replaces the mailbox item kept in `row` by one made from `block`.
QV_STATUS placeMailboxItem(FeatureMap& map, int& row, const FeatureBlock& block, const char* name8,
                           Feature** item) {
    if (row != -1) {
        if (QV_STATUS s = FeatureMapClearRow(map, row)) return s;
        row = -1;
    }
    if (QV_STATUS s =
            FeatureMapInsert(map, block.startAddress, block.reps, block.modulo, block.attribute, name8, item))
        return s;
    return FeatureMapRowOf(*item, map, &row);
}

}  // namespace

QV_STATUS DeviceStateCmdRequest(DeviceAccess& device, CmdCompleteFunc complete, CmdCleanupFunc cleanup,
                                std::shared_ptr<void> user, uint32_t code, uint32_t argument, const uint8_t* payload,
                                uint32_t length) {
    DeviceStateCmd& cmd = stateOf(device).cmd;
    if (length > cmd.dataSize) return QV_BUFFER_TOO_SMALL;
    const std::size_t bytes = DeviceStateCmd::kEntryHeaderBytes + length;
    if (cmd.queue.size() >= DeviceStateCmd::kMaxEntries || cmd.queuedBytes + bytes > DeviceStateCmd::kMaxBytes)
        return QV_OVERFLOW;
    CmdEntry entry;
    entry.code = code;
    entry.argument = argument;
    entry.user = std::move(user);
    entry.complete = std::move(complete);
    entry.cleanup = std::move(cleanup);
    if (length) entry.payload.assign(payload, payload + length);
    cmd.queue.push_back(std::move(entry));
    cmd.queuedBytes += bytes;
    return DeviceStateCmdSendNext(device);
}

QV_STATUS DeviceStateCmdWriteWords(uint32_t address, const uint8_t* data, DeviceAccess& device, uint32_t length) {
    for (uint32_t offset = 0; offset < length; offset += 4) {
        // A trailing partial word is padded with zeros rather than read past the payload.
        uint8_t word[4] = {0, 0, 0, 0};
        for (uint32_t i = 0; i < 4 && offset + i < length; ++i) word[i] = data[offset + i];
        queueRegisterWrite(device, address + offset, word, 4);
    }
    return QV_NO_ERROR;
}

QV_STATUS DeviceStateCmdSendNext(DeviceAccess& device) {
    DeviceStateCmd& cmd = stateOf(device).cmd;
    if (cmd.inFlight || !cmd.ready || cmd.queue.empty()) return QV_NO_ERROR;
    const CmdEntry& head = cmd.queue.front();
    // Payload, argument, then the command word last: writing it starts the command.
    if (!head.payload.empty())
        // Writing the words into the register image cannot fail.
        DeviceStateCmdWriteWords(cmd.dataAddress, head.payload.data(), device, uint32_t(head.payload.size())).ignore();
    queueRegisterWord(device, cmd.argumentAddress, head.argument);
    queueRegisterWord(device, cmd.commandAddress, head.code);
    device.flush();
    cmd.inFlight = true;
    return DeviceStateAddTimer(device, &cmd.timer, DeviceStateCmd::kTimeout);
}

namespace {

// Takes the command in flight off the queue.
CmdEntry takeHead(DeviceStateCmd& cmd) {
    CmdEntry head = std::move(cmd.queue.front());
    cmd.queue.pop_front();
    cmd.queuedBytes -= DeviceStateCmd::kEntryHeaderBytes + head.payload.size();
    cmd.inFlight = false;
    return head;
}

}  // namespace

QV_STATUS DeviceStateCmdComplete(DeviceAccess& device, Feature&, uint32_t, uint32_t, const uint8_t* data,
                                 uint32_t length) {
    DeviceStateCmd& cmd = stateOf(device).cmd;
    if (cmd.inFlight) {
        if (cmd.queue.empty()) {
            QVLOG_LIMITED(logging::error) << "Underrun (size = " << cmd.queue.size() << ").";
            return QV_UNDERRUN;
        }
        if (cmd.timer) {
            if (QV_STATUS s = DeviceStateRemoveTimer(device, cmd.timer)) return s;
            cmd.timer = nullptr;
        }
        // The entry leaves the queue before its callback runs, so that a callback
        // that queues a command, or throws, leaves the queue consistent.
        CmdEntry head = takeHead(cmd);
        if (head.complete) head.complete(device, data, length, head.user);
    }
    return DeviceStateCmdSendNext(device);
}

void DeviceStateCmdTimeout(DeviceAccess& device) {
    DeviceStateCmd& cmd = stateOf(device).cmd;
    cmd.timer = nullptr;  // the timer is back in the pool already
    if (cmd.inFlight && !cmd.queue.empty()) {
        CmdEntry head = takeHead(cmd);
        if (head.cleanup) head.cleanup(device, head.user);
    }
    cmd.inFlight = false;
    // A timeout has nobody to answer; a command left unsent waits for the next completion or a ready change.
    DeviceStateCmdSendNext(device).ignore();
}

QV_STATUS DeviceStateCmdSetReady(DeviceAccess& device, bool ready) {
    QVLOG(logging::debug) << (ready ? "Setting DevState->Cmd.Ready to true." : "Setting DevState->Cmd.Ready to false.");
    stateOf(device).cmd.ready = ready;
    if (ready) return DeviceStateCmdSendNext(device);
    return QV_NO_ERROR;
}

QV_STATUS DeviceStateCmdFeatureInit(DeviceAccess& device, const char* name8, const uint8_t* data, uint32_t length) {
    DeviceState& state = stateOf(device);
    DeviceStateCmd& cmd = state.cmd;
    cmd.commandAddress = cmd.argumentAddress = cmd.dataAddress = 0;
    cmd.dataSize = 0;
    // Two register blocks: the command and argument words, then the data area.
    if (!data || length < 2 * kFeatureBlockBytes) return QV_BUFFER_TOO_SMALL;
    if (QV_STATUS s = FeatureMapReserve(state.features, 2)) return s;

    Feature* commandItem = nullptr;
    Feature* dataItem = nullptr;
    if (QV_STATUS s = placeMailboxItem(state.features, cmd.commandRow, readFeatureBlock(data), name8, &commandItem))
        return s;
    if (QV_STATUS s = placeMailboxItem(state.features, cmd.dataRow, readFeatureBlock(data + kFeatureBlockBytes), name8,
                                       &dataItem))
        return s;
    dataItem->dataFunc = DeviceStateCmdComplete;
    cmd.commandAddress = commandItem->address;
    cmd.argumentAddress = commandItem->address + 4;
    cmd.dataAddress = dataItem->address;
    cmd.dataSize = dataItem->stride;
    return QV_NO_ERROR;
}

}  // namespace tarnix
