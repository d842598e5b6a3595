#pragma once
// Feature lists written by tests, and an instrument that answers the fake
// device's read requests from a register memory holding such a list.
#include "EngineFixture.h"

#include "platform/endian/ByteOrder.h"
#include "engine/FeatureBootstrap.h"
#include "engine/FeatureList.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tarnix {
namespace test {

constexpr uint32_t kAperture = 0x08020000;

// Builds the records of a feature list.
class ListBuilder {
public:
    // A record with the given data; `length` overrides the header's length field.
    ListBuilder& raw(uint16_t code, const std::vector<uint8_t>& data, const char* name = "TESTNAME",
                     int64_t length = -1, uint16_t version = 1) {
        uint8_t header[16];
        le::put16(header, code);
        le::put16(header + 2, version);
        le::put32(header + 4, uint32_t(length >= 0 ? length : int64_t(16 + data.size())));
        std::memcpy(header + 8, name, 8);
        bytes.insert(bytes.end(), header, header + 16);
        bytes.insert(bytes.end(), data.begin(), data.end());
        return *this;
    }
    ListBuilder& record(uint16_t code, const std::vector<FeatureBlock>& blocks, const char* name = "TESTNAME") {
        std::vector<uint8_t> data;
        for (const FeatureBlock& b : blocks) {
            uint8_t p[16];
            le::put32(p, b.startAddress);
            le::put32(p + 4, b.attribute);
            le::put32(p + 8, b.modulo);
            le::put32(p + 12, b.reps);
            data.insert(data.end(), p, p + 16);
        }
        return raw(code, data, name);
    }
    ListBuilder& padding(std::size_t n) {
        bytes.insert(bytes.end(), n, 0);
        return *this;
    }
    // The aperture header followed by the records.
    std::vector<uint8_t> aperture(const char* tag = "FEATURE ") const {
        std::vector<uint8_t> out(12);
        std::memcpy(out.data(), tag, 8);
        le::put32(out.data() + 8, uint32_t(bytes.size()));
        out.insert(out.end(), bytes.begin(), bytes.end());
        return out;
    }

    std::vector<uint8_t> bytes;
};

// Register blocks of a complete instrument whose counts satisfy every group.
constexpr uint32_t kSystemBlock = 0x01000000;
constexpr uint32_t kFeaturesBlock = 0x01001000;
constexpr uint32_t kStatusBlock = 0x01002000;
constexpr uint32_t kMailboxCommand = 0x01003000;
constexpr uint32_t kMailboxData = 0x01003100;

inline ListBuilder completeList(uint32_t skipCode = 0) {
    ListBuilder l;
    auto add = [&](uint16_t code, const std::vector<FeatureBlock>& blocks) {
        if (code != skipCode) l.record(code, blocks);
    };
    add(1, {{0, 0, 0, 0}});
    add(12, {{kSystemBlock, 0, 0x40, 1}});
    add(17, {{kFeaturesBlock, 0, 60, 1}});
    add(11, {{kStatusBlock, 0, 20, 1}});
    add(15, {{kMailboxCommand, 0, 8, 1}, {kMailboxData, 0, 256, 1}});
    add(3, {{0x01010000, 0, 0x100, 6}, {0x01011000, 0, 0x40, 12}});
    add(4, {{0x01012000, 0, 0x10, 4}});
    add(18, {{0x01013000, 0, 0x40, 2}});
    add(5, {{0x01014000, 0, 0x40, 2}});
    add(6, {{0x01015000, 0, 0x40, 2}, {0x01015100, 0, 0x40, 2}});
    add(7, {{0x01016000, 0, 0x40, 1}, {0x01016100, 0, 0x1000, 1}});
    add(8, {{0x01018000, 0, 0x20, 4}});
    add(9, {{0x01019000, 0, 0x20, 2}, {0x01019100, 0, 0x20, 4}});
    add(10, {{0x0101A000, 0, 0x20, 1}, {0x0101A100, 0, 0x20, 2}});
    add(13, {{0x0101B000, 0, 0x40, 2}, {0x0101B100, 0, 0x100, 2}, {0x0101B400, 0, 0x10, 2}});
    if (skipCode != 14) {
        // KCtrl ports: one block, then the amplifier type of each port (none).
        std::vector<uint8_t> kctrl(24, 0);
        le::put32(kctrl.data(), 0x0101C000);
        le::put32(kctrl.data() + 8, 8);
        le::put32(kctrl.data() + 12, 2);
        l.raw(14, kctrl);
    }
    add(16, {{0x0101D000, 0, 0x100, 2}});
    add(19, {{0x0101E000, 0, 0x100, 1}, {0x0101E100, 0, 0x100, 4}, {0x0101E500, 0, 0x10, 1}});
    return l;
}

// Answers read requests from its memory: every region is a run of bytes at an
// address; a request inside a region gets at most the rest of it.
class ScriptedInstrument {
public:
    explicit ScriptedInstrument(FakeDevice& device) : dev_(device) {}

    void load(uint32_t address, const std::vector<uint8_t>& bytes) { regions_[address] = bytes; }
    void loadList(const ListBuilder& list, uint32_t boardWord = 0, uint64_t optionsMask = 0) {
        load(kAperture, list.aperture());
        uint8_t word[4];
        le::put32(word, boardWord);
        load(kSystemBlock + 8, std::vector<uint8_t>(word, word + 4));
        std::vector<uint8_t> features(60, 0);
        le::put64(features.data() + 52, optionsMask);
        load(kFeaturesBlock, features);
    }

    // Answers from elsewhere (a simulated instrument's registers) instead of the memory.
    using Source = std::function<std::vector<uint8_t>(uint32_t address, uint32_t length)>;
    void setSource(Source source) { source_ = std::move(source); }

    // The data an instrument would send for a request. Registers outside the
    // loaded regions read as zeros, as on the instrument.
    std::vector<uint8_t> answer(uint32_t address, uint32_t length) const {
        if (source_) return source_(address, length);
        auto it = regions_.upper_bound(address);
        if (it == regions_.begin()) return std::vector<uint8_t>(length, 0);
        --it;
        const uint32_t offset = address - it->first;
        if (offset >= it->second.size()) return std::vector<uint8_t>(length, 0);
        const uint32_t n = std::min<uint32_t>(length, uint32_t(it->second.size() - offset));
        return std::vector<uint8_t>(it->second.begin() + offset, it->second.begin() + offset + n);
    }

    // One device-loop pass: the send pass, then the answers to at most
    // `answers` requests, including those that the answers themselves cause,
    // then the pass time. Returns the requests made in the pass.
    std::vector<DeviceEvent> pass(int answers = 1000) {
        dev_.clearEvents();
        EXPECT_EQ(DeviceStateSendChanges(dev_), QV_NO_ERROR);
        std::vector<DeviceEvent> made;
        for (std::size_t seen = 0; seen < dev_.events().size();) {
            const DeviceEvent e = dev_.events()[seen++];
            if (e.kind != DeviceEvent::Request) continue;
            made.push_back(e);
            if (answers-- > 0) deliver(e.address, answer(e.address, e.length)).ignore();
        }
        dev_.advance(std::chrono::milliseconds(1));
        return made;
    }
    // Passes until discovery is done or `limit` passes have run.
    void runDiscovery(int limit = 20) {
        for (int i = 0; i < limit && dev_.state().bootStep != BootStep::Done; ++i) pass();
    }
    QV_STATUS deliver(uint32_t address, const std::vector<uint8_t>& data) {
        lastStatus = DeviceStateHandleData(dev_, address, uint32_t(data.size()), data.data());
        return lastStatus;
    }

    QV_STATUS lastStatus = QV_NO_ERROR;

private:
    FakeDevice& dev_;
    std::map<uint32_t, std::vector<uint8_t>> regions_;
    Source source_;
};

// A device state on a fake device with serial 1234 and its instrument.
class DiscoveryFixture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(DeviceStateCreate(dev), QV_NO_ERROR); }

    DeviceState& state() { return dev.state(); }
    std::vector<std::string> deviceChildren() {
        std::vector<std::string> names;
        for (const auto& child : state().tree->root->children()) names.push_back(child->getName());
        return names;
    }
    TreeNode::Ptr child(const std::string& name) {
        for (const auto& c : state().tree->root->children())
            if (c->getName() == name) return c;
        return TreeNode::Ptr();
    }

    FakeDevice dev{1234};
    ScriptedInstrument instrument{dev};
};

}  // namespace test
}  // namespace tarnix
