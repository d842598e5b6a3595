#pragma once
#include "core/QVStatus.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>
#include <vector>

namespace tarnix {

class BufferFifoBase;
class DeviceAccess;
struct DeviceStateEPNode;
using EPNodePtr = std::shared_ptr<DeviceStateEPNode>;

// Handler slots of an endpoint. Every handler but FreeDataFunc returns a status.
using FreeDataFunc = std::function<void(DeviceStateEPNode& ep)>;
using UpdateDataFunc =
    std::function<QV_STATUS(DeviceAccess& dev, const EPNodePtr& ep, const uint8_t* data, uint32_t length)>;
using WriteDataFunc = std::function<QV_STATUS(DeviceAccess& dev, const EPNodePtr& ep, uint32_t address)>;
using RequestDataFunc = WriteDataFunc;
using ReadDataFunc = std::function<QV_STATUS(DeviceAccess& dev, const EPNodePtr& ep, uint16_t seq, uint16_t session)>;
using WriteNumberFunc = std::function<QV_STATUS(DeviceAccess& dev, const EPNodePtr& ep, uint16_t seq,
                                                uint16_t session, double value, int64_t integer)>;
using WriteBytesFunc = std::function<QV_STATUS(DeviceAccess& dev, const EPNodePtr& ep, uint16_t seq,
                                               uint16_t session, const uint8_t* bytes, uint32_t length)>;

enum EPFlag : uint8_t {
    EPFlagWrite = 1,     // write pending
    EPFlagRequest = 2,   // read request pending
    EPFlagAwaiting = 4,  // request sent, data not yet arrived
};

// The device-side half of a leaf node with a value.
struct DeviceStateEPNode {
    int32_t epId = -1;
    uint32_t valueSize = 0;
    std::vector<uint8_t> value;  // the register image or value; empty once freed
    std::vector<uint8_t> bytes;  // optional second buffer (DeviceStateEPNodeSetBytes)
    std::shared_ptr<BufferFifoBase> stream;
    uint8_t flags = 0;
    int32_t row = -1;       // register-map row, -1 = no register binding
    int32_t instance = -1;  // instance within that row
    int32_t offset = 0;     // byte offset within the instance
    int32_t registerSize = 0;

    FreeDataFunc freeData;
    UpdateDataFunc updateData;
    WriteDataFunc writeData;
    RequestDataFunc requestData;
    ReadDataFunc readData;
    WriteNumberFunc writeNumber;
    WriteBytesFunc writeBytes;

    bool hasValue() const { return valueSize != 0 && value.size() == valueSize; }
    uint8_t* data() { return value.data(); }
};

// The endpoint table of one device.
struct DeviceStateEPNodes {
    std::unordered_map<int32_t, EPNodePtr> nodes;
    std::set<int32_t> sendSet;  // ascending, each id once
    uint32_t changeCounter = 0;
    uint32_t awaitingCount = 0;  // endpoints with the request or awaiting flag
};

// Throws QVException on a duplicate id.
EPNodePtr DeviceStateEPNodesAdd(DeviceStateEPNodes& table, int32_t epId, uint32_t valueSize);
QV_STATUS DeviceStateEPNodesRemove(DeviceStateEPNodes& table, int32_t epId);
EPNodePtr DeviceStateEPNodesFind(const DeviceStateEPNodes& table, int32_t epId);
QV_STATUS DeviceStateEPNodesMarkWrite(DeviceStateEPNodes& table, int32_t epId);
QV_STATUS DeviceStateEPNodesMarkRequest(DeviceStateEPNodes& table, int32_t epId);
QV_STATUS DeviceStateEPNodesClearAwaiting(DeviceStateEPNodes& table, int32_t epId);
void DeviceStateEPNodesClear(DeviceStateEPNodes& table);

QV_STATUS DeviceStateEPNodeReset(DeviceStateEPNode& ep);
QV_STATUS DeviceStateEPNodeSetBytes(DeviceStateEPNode& ep, uint32_t length, const uint8_t* data);
void DeviceStateEPFreeData(DeviceStateEPNode& ep);
QV_STATUS DeviceStateEPSetBytes(DeviceStateEPNode& ep, uint32_t length, const uint8_t* data);

}  // namespace tarnix
