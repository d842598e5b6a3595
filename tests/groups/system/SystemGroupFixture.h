#pragma once
// A device state on a fake device whose bitstream flags the tests set, with a
// located command mailbox, and helpers to build one feature record's group,
// address its leaves by path and follow the mailbox.
#include "engine/FakeDevice.h"

#include "platform/endian/ByteOrder.h"
#include "core/tree/DispatcherTreeLock.h"
#include "engine/DeviceState.h"
#include "engine/FeatureGroupBuild.h"
#include "engine/FeatureInitMap.h"
#include "engine/FeatureList.h"
#include "engine/MessageHandling.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace tarnix {
namespace test {

class SystemDevice : public FakeDevice {
public:
    bool bitstreamProgrammed() const override { return programmed; }
    bool embeddedBitstreamDigest(std::array<uint8_t, 16>& out) const override {
        if (!digest) return false;
        out = *digest;
        return true;
    }

    bool programmed = false;
    std::optional<std::array<uint8_t, 16>> digest;
};

// A mailbox command as the device wrote it: payload, argument, command word.
struct SentCommand {
    uint32_t code = 0;
    uint32_t argument = 0;
    std::vector<uint8_t> payload;
};

inline std::vector<uint8_t> words(std::initializer_list<uint32_t> list) {
    std::vector<uint8_t> out;
    for (uint32_t w : list) {
        uint8_t p[4];
        le::put32(p, w);
        out.insert(out.end(), p, p + 4);
    }
    return out;
}

inline std::vector<uint8_t> blocks(const std::vector<FeatureBlock>& list) {
    std::vector<uint8_t> out;
    for (const FeatureBlock& b : list) {
        const std::vector<uint8_t> block = words({b.startAddress, b.attribute, b.modulo, b.reps});
        out.insert(out.end(), block.begin(), block.end());
    }
    return out;
}

class SystemGroupTest : public ::testing::Test {
protected:
    static constexpr uint32_t kMailboxCommand = 0x00F00000;
    static constexpr uint32_t kMailboxArgument = kMailboxCommand + 4;
    static constexpr uint32_t kMailboxData = 0x00F00100;

    void SetUp() override {
        ASSERT_EQ(DeviceStateCreate(dev), QV_NO_ERROR);
        const std::vector<uint8_t> mailbox = blocks({{kMailboxCommand, 0, 8, 1}, {kMailboxData, 0, 256, 1}});
        ASSERT_EQ(DeviceStateCmdFeatureInit(dev, "MAILBOX ", mailbox.data(), uint32_t(mailbox.size())), QV_NO_ERROR);
    }

    DeviceState& state() { return dev.state(); }

    // Builds (again) the group of one record, as feature processing does.
    QV_STATUS build(uint16_t code, const std::vector<uint8_t>& data, uint16_t version = 1) {
        return DeviceStateCreateFeatureGroup(dev, version, "TESTNAME", data.data(), uint32_t(data.size()),
                                             FeatureInitMapFind(dev.featureInitMap(), code));
    }

    // The node at a path below the device node ("SYSTEM/EXTCLK"); empty when none.
    TreeNode::Ptr node(const std::string& path) {
        TreeNode::Ptr at = state().tree->root;
        std::istringstream parts(path);
        for (std::string part; at && std::getline(parts, part, '/');) {
            TreeNode::Ptr next;
            for (const auto& child : at->children())
                if (child->getName() == part) next = child;
            at = next;
        }
        return at;
    }
    std::vector<std::string> childNames(const std::string& path) {
        std::vector<std::string> names;
        if (TreeNode::Ptr n = node(path))
            for (const auto& child : n->children()) names.push_back(child->getName());
        return names;
    }
    int32_t idOf(const std::string& path) {
        TreeNode::Ptr n = node(path);
        EXPECT_TRUE(n && n->endpoint()) << path;
        return n && n->endpoint() ? n->endpoint()->id : -1;
    }
    EPNodePtr ep(const std::string& path) { return DeviceStateEPNodesFind(state().epNodes, idOf(path)); }

    QV_STATUS handle(const std::vector<uint8_t>& record) {
        return DeviceStateMsgHandler(dev, record.data(), uint32_t(record.size()));
    }
    // The one record a request answered with.
    OutputRecord answer(const std::vector<uint8_t>& request) {
        EXPECT_EQ(handle(request), QV_NO_ERROR);
        std::vector<OutputRecord> out = dev.takeOutput();
        EXPECT_EQ(out.size(), 1u);
        return out.empty() ? OutputRecord{} : out.front();
    }
    OutputRecord read(const std::string& path) { return answer(getValue(idOf(path))); }
    OutputRecord write(const std::string& path, int64_t v) { return answer(setInteger(idOf(path), v)); }
    OutputRecord write(const std::string& path, double v) { return answer(setDouble(idOf(path), v)); }

    // A send pass, with the events it made.
    std::vector<DeviceEvent> sendPass() {
        dev.clearEvents();
        EXPECT_EQ(DeviceStateSendChanges(dev), QV_NO_ERROR);
        return dev.events();
    }

    // The mailbox commands among the recorded events, in order.
    std::vector<SentCommand> commands() {
        std::vector<SentCommand> out;
        SentCommand current;
        for (const DeviceEvent& e : dev.events()) {
            if (e.kind != DeviceEvent::Write) continue;
            if (e.address >= kMailboxData && e.address < kMailboxData + 256) {
                current.payload.insert(current.payload.end(), e.payload.begin(), e.payload.end());
            } else if (e.address == kMailboxArgument) {
                current.argument = e.word();
            } else if (e.address == kMailboxCommand) {
                current.code = e.word();
                out.push_back(current);
                current = SentCommand();
            }
        }
        return out;
    }
    std::vector<uint32_t> commandCodes() {
        std::vector<uint32_t> codes;
        for (const SentCommand& c : commands()) codes.push_back(c.code);
        return codes;
    }
    // The instrument's reply to the command in flight.
    QV_STATUS reply(const std::vector<uint8_t>& bytes) {
        return DeviceStateHandleData(dev, kMailboxData, uint32_t(bytes.size()), bytes.data());
    }
    void mailboxReady() { DeviceStateCmdSetReady(dev, true).ignore(); }
    std::size_t queuedCommands() { return state().cmd.queue.size(); }

    SystemDevice dev;
};

}  // namespace test
}  // namespace tarnix
