#pragma once
// One group of the family built on the engine's fake device from register
// blocks of the test's choice, with helpers that talk to its leaves the way
// clients (request records) and the instrument (register data) do.
#include "engine/EngineFixture.h"

#include "platform/endian/ByteOrder.h"
#include "core/tree/DispatcherTreeLock.h"
#include "core/tree/Endpoint.h"
#include "engine/FeatureInitMap.h"
#include "engine/NodeGroup.h"
#include "engine/RegisterHandlers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnix {
namespace test {

struct Block {
    uint32_t address;
    uint32_t stride;
    uint32_t count;
};

class AuxDioFixture : public EngineFixture {
protected:
    // Makes the group of root definition G, inserts the blocks into the
    // register map and runs the group's init as feature discovery does.
    template <class G>
    QV_STATUS build(FeatureInitFunc init, const std::vector<Block>& blocks) {
        DispatcherTreeLocker lock(state().tree);
        DeviceStateNodeGroup* made = nullptr;
        EXPECT_EQ(DeviceStateGetNodeGroup<G>(dev, &made, lock.getNode()), QV_NO_ERROR);
        groupRoot = made->node;
        std::vector<Feature*> items;
        for (const Block& b : blocks) {
            Feature* item = nullptr;
            EXPECT_EQ(FeatureMapInsert(map(), b.address, b.count, b.stride, 0, "TESTBLK ", &item), QV_NO_ERROR);
            EXPECT_EQ(DeviceStateNodeGroupAddFeatureRow(item, dev, *made), QV_NO_ERROR);
            items.push_back(item);
        }
        return init(dev, made, groupRoot, 1, items, int(items.size()));
    }

    // The endpoint id of leaf `name` of instance `n`; -1 when there is none.
    int32_t idOf(std::size_t n, const std::string& name) const {
        if (!groupRoot || n >= groupRoot->childCount()) return -1;
        for (const auto& leaf : groupRoot->childAt(n)->children())
            if (leaf->getName() == name && leaf->endpoint()) return leaf->endpoint()->id;
        return -1;
    }
    EPNodePtr epOf(std::size_t n, const std::string& name) const {
        return DeviceStateEPNodesFind(dev.deviceState()->epNodes, idOf(n, name));
    }

    // A client request; returns the handler's status and collects its records.
    QV_STATUS request(const std::vector<uint8_t>& record) {
        const QV_STATUS s = DeviceStateMsgHandler(dev, record.data(), uint32_t(record.size()));
        output = dev.takeOutput();
        return s;
    }
    // The one record a request produced on endpoint id (a reply).
    OutputRecord only(int32_t id) {
        std::vector<OutputRecord> on = recordsOn(id);
        if (on.size() != 1) {
            ADD_FAILURE() << "one record expected on endpoint " << id << ", got " << on.size();
            return OutputRecord{ValueRecordHeader{}, std::vector<uint8_t>(20, 0)};
        }
        return on[0];
    }
    std::vector<OutputRecord> recordsOn(int32_t id) const {
        std::vector<OutputRecord> on;
        for (const OutputRecord& r : output)
            if (r.header.endpointId == uint32_t(id)) on.push_back(r);
        return on;
    }
    int64_t readInteger(std::size_t n, const std::string& name) {
        EXPECT_EQ(request(getValue(idOf(n, name))), QV_NO_ERROR);
        return only(idOf(n, name)).asInteger();
    }
    double readDouble(std::size_t n, const std::string& name) {
        EXPECT_EQ(request(getValue(idOf(n, name))), QV_NO_ERROR);
        return only(idOf(n, name)).asDouble();
    }

    // Register data from the instrument; collects the pushes it caused.
    QV_STATUS deliver(uint32_t address, const std::vector<uint8_t>& data) {
        const QV_STATUS s = DeviceStateHandleData(dev, address, uint32_t(data.size()), data.data());
        output = dev.takeOutput();
        return s;
    }
    QV_STATUS deliverWord(uint32_t address, uint32_t word) {
        std::vector<uint8_t> data(4);
        le::put32(data.data(), word);
        return deliver(address, data);
    }

    // The send pass: the register writes it queued, by address.
    std::vector<DeviceEvent> send() {
        dev.clearEvents();
        EXPECT_EQ(DeviceStateSendChanges(dev), QV_NO_ERROR);
        return dev.events();
    }
    static std::vector<DeviceEvent> writesAt(const std::vector<DeviceEvent>& events, uint32_t address) {
        std::vector<DeviceEvent> at;
        for (const DeviceEvent& e : events)
            if (e.kind == DeviceEvent::Write && e.address == address) at.push_back(e);
        return at;
    }

    TreeNode::Ptr groupRoot;
    std::vector<OutputRecord> output;
};

// A 12-byte sample packet: 48-bit time, 2 unused bytes, 4 payload bytes.
inline std::vector<uint8_t> samplePacket(uint64_t time, uint32_t payload) {
    std::vector<uint8_t> p(12, 0);
    le::put32(p.data(), uint32_t(time));
    le::put16(p.data() + 4, uint16_t(time >> 32));
    le::put32(p.data() + 8, payload);
    return p;
}

}  // namespace test
}  // namespace tarnix
