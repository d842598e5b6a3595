#include "engine/DeviceStateEPNode.h"

#include "core/QVException.h"

namespace tarnix {

namespace {

DeviceStateEPNode* lookup(DeviceStateEPNodes& table, int32_t epId) {
    auto it = table.nodes.find(epId);
    return it == table.nodes.end() ? nullptr : it->second.get();
}

}  // namespace

EPNodePtr DeviceStateEPNodesAdd(DeviceStateEPNodes& table, int32_t epId, uint32_t valueSize) {
    if (table.nodes.count(epId)) QV_THROW(QVException("An EPNodes with this EPId already exists."));
    auto ep = std::make_shared<DeviceStateEPNode>();
    if (DeviceStateEPNodeReset(*ep) != QV_NO_ERROR) QV_THROW(QVException("Can't reset EPNode."));
    ep->epId = epId;
    table.nodes.emplace(epId, ep);
    ++table.changeCounter;
    if (valueSize != 0) {
        ep->valueSize = valueSize;
        ep->value.assign(valueSize, 0);
        ep->freeData = DeviceStateEPFreeData;
    }
    return ep;
}

QV_STATUS DeviceStateEPNodesRemove(DeviceStateEPNodes& table, int32_t epId) {
    auto it = table.nodes.find(epId);
    if (it == table.nodes.end()) return QV_NO_ERROR;
    // Clearing the awaiting mark and resetting the node cannot fail.
    DeviceStateEPNodesClearAwaiting(table, epId).ignore();
    DeviceStateEPNode& ep = *it->second;
    if (ep.freeData) ep.freeData(ep);
    ep.bytes.clear();
    DeviceStateEPNodeReset(ep).ignore();
    table.nodes.erase(it);
    ++table.changeCounter;
    return QV_NO_ERROR;
}

EPNodePtr DeviceStateEPNodesFind(const DeviceStateEPNodes& table, int32_t epId) {
    auto it = table.nodes.find(epId);
    return it == table.nodes.end() ? EPNodePtr() : it->second;
}

QV_STATUS DeviceStateEPNodesMarkWrite(DeviceStateEPNodes& table, int32_t epId) {
    DeviceStateEPNode* found = lookup(table, epId);
    if (!found) return QV_NO_ERROR;
    DeviceStateEPNode& ep = *found;
    if (!(ep.flags & (EPFlagWrite | EPFlagRequest))) table.sendSet.insert(epId);
    ep.flags |= EPFlagWrite;
    return QV_NO_ERROR;
}

QV_STATUS DeviceStateEPNodesMarkRequest(DeviceStateEPNodes& table, int32_t epId) {
    DeviceStateEPNode* found = lookup(table, epId);
    if (!found) return QV_NO_ERROR;
    DeviceStateEPNode& ep = *found;
    if (ep.flags & EPFlagRequest) return QV_NO_ERROR;
    if (!(ep.flags & EPFlagWrite)) table.sendSet.insert(epId);
    // An endpoint still awaiting an earlier answer is already counted.
    if (!(ep.flags & EPFlagAwaiting)) ++table.awaitingCount;
    ep.flags |= EPFlagRequest;
    return QV_NO_ERROR;
}

QV_STATUS DeviceStateEPNodesClearAwaiting(DeviceStateEPNodes& table, int32_t epId) {
    DeviceStateEPNode* found = lookup(table, epId);
    if (!found) return QV_NO_ERROR;
    DeviceStateEPNode& ep = *found;
    if (ep.flags & (EPFlagRequest | EPFlagAwaiting)) {
        if (table.awaitingCount) --table.awaitingCount;
        ep.flags &= uint8_t(~(EPFlagRequest | EPFlagAwaiting));
    }
    return QV_NO_ERROR;
}

void DeviceStateEPNodesClear(DeviceStateEPNodes& table) {
    for (auto& entry : table.nodes) {
        DeviceStateEPNode& ep = *entry.second;
        if (ep.freeData) ep.freeData(ep);
        ep.bytes.clear();
        ep.epId = -1;
        ep.freeData = nullptr;
        ep.updateData = nullptr;
    }
    table.nodes.clear();
    table.sendSet.clear();
    table.awaitingCount = 0;
}

QV_STATUS DeviceStateEPNodeReset(DeviceStateEPNode& ep) {
    ep.epId = -1;
    ep.flags = 0;
    ep.stream.reset();
    ep.row = -1;
    ep.instance = -1;
    ep.offset = 0;
    ep.registerSize = 0;
    ep.updateData = nullptr;
    ep.writeData = nullptr;
    ep.requestData = nullptr;
    ep.readData = nullptr;
    ep.writeNumber = nullptr;
    ep.writeBytes = nullptr;
    // The byte buffer is owned elsewhere in the sequence (Remove/Clear free it);
    // here only its length and reference are dropped.
    ep.bytes.clear();
    return QV_NO_ERROR;
}

QV_STATUS DeviceStateEPNodeSetBytes(DeviceStateEPNode& ep, uint32_t length, const uint8_t* data) {
    if (data)
        ep.bytes.assign(data, data + length);
    else
        ep.bytes.assign(length, 0);
    return QV_NO_ERROR;
}

void DeviceStateEPFreeData(DeviceStateEPNode& ep) {
    ep.value.clear();
    ep.value.shrink_to_fit();
}

QV_STATUS DeviceStateEPSetBytes(DeviceStateEPNode& ep, uint32_t length, const uint8_t* data) {
    return DeviceStateEPNodeSetBytes(ep, length, data);
}

}  // namespace tarnix
