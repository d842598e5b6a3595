#pragma once
// A device state on the engine's fake device with one of the control-loop
// groups built through its init, and helpers that talk to its leaves the way
// the device loop does: client requests, register data, send passes.
#include "engine/EngineFixture.h"

#include "platform/endian/ByteOrder.h"
#include "core/tree/DispatcherTreeLock.h"
#include "engine/FeatureInitMap.h"
#include "engine/MessageHandling.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace tarnix {
namespace test {

class ControlFixture : public EngineFixture {
protected:
    Feature* insert(uint32_t address, uint32_t count, uint32_t stride, const char* name = "TESTBLK ") {
        Feature* item = nullptr;
        EXPECT_EQ(FeatureMapInsert(map(), address, count, stride, 0, name, &item), QV_NO_ERROR);
        return item;
    }

    // Runs the group's init as feature discovery does: under the tree lock,
    // with the group node made from its definition G.
    template <class G>
    QV_STATUS build(FeatureInitFunc init, uint16_t version, const std::vector<Feature*>& items) {
        DispatcherTreeLocker lock(state().tree);
        EXPECT_EQ(DeviceStateGetNodeGroup<G>(dev, &nodeGroup, lock.getNode()), QV_NO_ERROR);
        groupNode = nodeGroup->node;
        return init(dev, nodeGroup, groupNode, version, items, int(items.size()));
    }

    // The node at a path below the group node ("0/TIPPROTECT/ENABLE"); null when there is none.
    TreeNode::Ptr node(const std::string& path) const {
        TreeNode::Ptr at = groupNode;
        std::istringstream parts(path);
        for (std::string part; at && std::getline(parts, part, '/');) {
            TreeNode::Ptr next;
            for (const auto& c : at->children())
                if (c->getName() == part) next = c;
            at = next;
        }
        return at;
    }
    std::vector<std::string> childNames(const std::string& path) const {
        std::vector<std::string> names;
        const TreeNode::Ptr at = path.empty() ? groupNode : node(path);
        if (at)
            for (const auto& c : at->children()) names.push_back(c->getName());
        return names;
    }
    int32_t id(const std::string& path) const {
        const TreeNode::Ptr n = node(path);
        EXPECT_TRUE(n && n->endpoint()) << path;
        return n && n->endpoint() ? n->endpoint()->id : -1;
    }
    EPNodePtr ep(const std::string& path) { return DeviceStateEPNodesFind(state().epNodes, id(path)); }
    uint32_t word(const std::string& path) { return le::get32(ep(path)->value.data()); }
    uint64_t word64(const std::string& path) { return le::get64(ep(path)->value.data()); }
    void setWord(const std::string& path, uint32_t w) { le::put32(ep(path)->value.data(), w); }

    // A client request and every record it caused.
    std::vector<OutputRecord> request(const std::vector<uint8_t>& record) {
        EXPECT_EQ(handle(record), QV_NO_ERROR);
        return dev.takeOutput();
    }
    // The one reply of a read.
    OutputRecord read(const std::string& path) {
        const std::vector<OutputRecord> out = request(getValue(id(path)));
        EXPECT_EQ(out.size(), 1u) << path;
        if (out.empty()) return OutputRecord{};
        EXPECT_EQ(out[0].header.flags, VALUE_FLAG_REPLY_ONLY);
        return out[0];
    }
    int64_t readInteger(const std::string& path) { return read(path).asInteger(); }
    double readDouble(const std::string& path) { return read(path).asDouble(); }

    // The reply of a write (the last record with the request's tags).
    OutputRecord replyOf(const std::vector<OutputRecord>& out) {
        for (auto it = out.rbegin(); it != out.rend(); ++it)
            if (it->header.sequenceTag == 7 && it->header.sessionTag == 3) return *it;
        ADD_FAILURE() << "no reply";
        return OutputRecord{};
    }
    OutputRecord writeInteger(const std::string& path, int64_t v) { return replyOf(request(setInteger(id(path), v))); }
    OutputRecord writeDouble(const std::string& path, double v) { return replyOf(request(setDouble(id(path), v))); }

    // Register data from the instrument at the leaf's register; returns the pushes.
    std::vector<OutputRecord> deliver(uint32_t address, const std::vector<uint8_t>& bytes) {
        EXPECT_EQ(DeviceStateHandleData(dev, address, uint32_t(bytes.size()), bytes.data()), QV_NO_ERROR);
        return dev.takeOutput();
    }
    static std::vector<uint8_t> wordBytes(uint32_t w) {
        std::vector<uint8_t> b(4);
        le::put32(b.data(), w);
        return b;
    }
    static std::vector<uint8_t> word64Bytes(uint64_t w) {
        std::vector<uint8_t> b(8);
        le::put64(b.data(), w);
        return b;
    }

    // One send pass: the register writes and requests it queued.
    std::vector<DeviceEvent> sendPass() {
        dev.clearEvents();
        EXPECT_EQ(DeviceStateSendChanges(dev), QV_NO_ERROR);
        return dev.events();
    }
    // Drops what building queued (read requests) and produced.
    void settle() {
        sendPass();
        dev.takeOutput();
        dev.clearEvents();
    }

    DeviceStateNodeGroup* nodeGroup = nullptr;
    TreeNode::Ptr groupNode;
};

// Pushes (tags 0 and 0xFFFF) among records, as (endpoint id, record).
inline std::vector<OutputRecord> pushesOf(const std::vector<OutputRecord>& out) {
    std::vector<OutputRecord> pushes;
    for (const auto& r : out)
        if (r.header.sessionTag == kUnsolicitedSessionTag && r.header.flags == VALUE_FLAG_CHANGED)
            pushes.push_back(r);
    return pushes;
}

}  // namespace test
}  // namespace tarnix
