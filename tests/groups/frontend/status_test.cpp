#include "groups/Status.h"

#include <cstdint>

#include "FrontEndFixture.h"

namespace tarnix {
namespace {

namespace LQ3 = NodeDefs::LQ3;
using test::OutputRecord;

constexpr uint32_t kStatusBlock = 0x01002000;
constexpr int kFlagCount = 10;
const char* const kFlagPaths[kFlagCount] = {
    "FLAGS/PLLLOCK",     "FLAGS/DCMLOCK",   "FLAGS/FX2RX",     "FLAGS/PKGLOSS",      "FLAGS/MIXERCLIP/0",
    "FLAGS/MIXERCLIP/1", "FLAGS/ADCCLIP/0", "FLAGS/ADCCLIP/1", "FLAGS/SCOPESKIPPED", "FLAGS/DEMODSAMPLELOSS"};

// A status block as the instrument sends it.
struct Block {
    uint64_t time = 0;
    uint16_t spare = 0;  // bytes 6 and 7
    uint32_t flags = 0;
    uint8_t fifo = 0;
    uint8_t adc[4] = {0, 0, 0, 0};

    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> b(20, 0);
        le::put32(b.data(), uint32_t(time));
        le::put16(b.data() + 4, uint16_t(time >> 32));
        le::put16(b.data() + 6, spare);
        le::put32(b.data() + 8, flags);
        b[12] = fifo;
        for (int k = 0; k < 4; ++k) b[16 + std::size_t(k)] = adc[k];
        return b;
    }
};

class StatusTest : public test::FrontEndFixture {
protected:
    void buildStatus() {
        Feature* record = addBlock(kStatusBlock, 1, 20);
        ASSERT_EQ(build<LQ3::Status>(StatusFeatureInit, 1, {record}, &root), QV_NO_ERROR);
    }
    int32_t id(const std::string& path) { return idAt(root, path); }
    std::vector<OutputRecord> deliverBlock(const Block& b) { return deliver(kStatusBlock, b.bytes()); }
    // The integer pushes in `records`, as (endpoint id, value).
    static std::vector<std::pair<int32_t, int64_t>> pushes(const std::vector<OutputRecord>& records) {
        std::vector<std::pair<int32_t, int64_t>> out;
        for (const OutputRecord& r : records) {
            EXPECT_EQ(r.header.sessionTag, kUnsolicitedSessionTag);
            EXPECT_EQ(r.header.flags, VALUE_FLAG_CHANGED);
            out.emplace_back(int32_t(r.header.endpointId), r.asInteger());
        }
        return out;
    }
    int64_t readInteger(int32_t leaf) {
        const std::vector<OutputRecord> out = read(leaf);
        EXPECT_EQ(lastStatus, QV_NO_ERROR);
        if (out.size() != 1) return -999;
        EXPECT_EQ(out[0].header.flags, VALUE_FLAG_REPLY_ONLY);
        EXPECT_EQ(out[0].header.kind, DATATYPE_INTEGER);
        return out[0].asInteger();
    }

    TreeNode::Ptr root;
};

TEST_F(StatusTest, InitWantsExactlyOneRecord) {
    Feature* a = addBlock(kStatusBlock, 1, 20);
    Feature* b = addBlock(kStatusBlock + 0x100, 1, 20);
    TreeNode::Ptr node;
    EXPECT_EQ(build<LQ3::Status>(StatusFeatureInit, 1, {a, b}, &node), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(node->childCount(), 0u);
}

TEST_F(StatusTest, NodesInSiblingOrderWithTheirTypesAndHelp) {
    buildStatus();
    root->sortChildren();
    struct Expected {
        const char* path;
        int32_t typeId;
        int64_t order;
        bool endpoint;
    };
    const Expected nodes[] = {{"TIME", 27, 1, true},
                              {"FLAGS", 28, 2, false},
                              {"FLAGS/BINARY", 29, 1, true},
                              {"FLAGS/PLLLOCK", 30, 2, true},
                              {"FLAGS/DCMLOCK", 31, 3, true},
                              {"FLAGS/FX2RX", 32, 4, true},
                              {"FLAGS/PKGLOSS", 33, 5, true},
                              {"FLAGS/MIXERCLIP", 34, 6, false},
                              {"FLAGS/MIXERCLIP/0", 35, 1, true},
                              {"FLAGS/MIXERCLIP/1", 35, 1, true},
                              {"FLAGS/ADCCLIP", 36, 7, false},
                              {"FLAGS/ADCCLIP/1", 37, 1, true},
                              {"FLAGS/SCOPESKIPPED", 38, 8, true},
                              {"FLAGS/DEMODSAMPLELOSS", 39, 9, true},
                              {"FIFOLEVEL", 40, 3, true},
                              {"ADC0MIN", 41, 4, true},
                              {"ADC0MAX", 42, 5, true},
                              {"ADC1MIN", 43, 6, true},
                              {"ADC1MAX", 44, 7, true}};
    for (const Expected& e : nodes) {
        const TreeNode::Ptr node = nodeAt(root, e.path);
        ASSERT_TRUE(node) << e.path;
        EXPECT_EQ(node->nodeTypeId(), e.typeId) << e.path;
        EXPECT_EQ(node->siblingOrder(), e.order) << e.path;
        EXPECT_EQ(bool(node->endpoint()), e.endpoint) << e.path;
    }
    std::vector<std::string> top;
    for (const auto& c : root->children()) top.push_back(c->getName());
    EXPECT_EQ(top,
              (std::vector<std::string>{"TIME", "FLAGS", "FIFOLEVEL", "ADC0MIN", "ADC0MAX", "ADC1MIN", "ADC1MAX"}));

    const TreeNode::Ptr skipped = nodeAt(root, "FLAGS/SCOPESKIPPED");
    std::string text;
    EXPECT_TRUE(skipped->getProperty("detailed", text));
    EXPECT_EQ(text, "This happens when too much data is being sent over USB.");
    EXPECT_FALSE(nodeAt(root, "FLAGS/PLLLOCK")->getProperty("detailed", text));
    EXPECT_TRUE(nodeAt(root, "FLAGS/ADCCLIP/1")->getProperty("short", text));
    EXPECT_EQ(text, "Flag indicating that this ADC-channel is clipping.");
    EXPECT_TRUE(nodeAt(root, "FLAGS/MIXERCLIP")->getProperty("short", text));
    EXPECT_EQ(text, "Flags indicating that the internal mixer is clipping.");
    NodeValueList values;
    ASSERT_TRUE(nodeAt(root, "FLAGS/ADCCLIP/0")->getProperty("values", values));
    ASSERT_EQ(values.count, 2u);
    EXPECT_EQ(values.entries[1].description, "clipping");
    EXPECT_TRUE(nodeAt(root, "FIFOLEVEL")->getProperty("unit", text));
    EXPECT_EQ(text, "Percent");
    int64_t from = 0;
    EXPECT_TRUE(nodeAt(root, "ADC1MAX")->getProperty("from", from));
    EXPECT_EQ(from, -127);
    // TIME and FIFOLEVEL hand their precision to the endpoint.
    EXPECT_EQ(nodeAt(root, "TIME")->endpoint()->precision, 6);
    EXPECT_EQ(nodeAt(root, "FIFOLEVEL")->endpoint()->precision, 2);
}

TEST_F(StatusTest, NothingIsRequestedOrWrittenAndEverythingReadsZeroAtFirst) {
    buildStatus();
    EXPECT_TRUE(send().empty());
    EXPECT_TRUE(requestsIn(kStatusBlock, 0x1000).empty());
    EXPECT_EQ(state().initCounter, 0);
    for (const char* leaf : {"TIME", "FLAGS/BINARY", "FLAGS/PKGLOSS", "ADC0MIN", "ADC1MAX"})
        EXPECT_EQ(readInteger(id(leaf)), 0) << leaf;
    const std::vector<OutputRecord> level = read(id("FIFOLEVEL"));
    ASSERT_EQ(level.size(), 1u);
    EXPECT_EQ(level[0].asDouble(), 0.0);
}

TEST_F(StatusTest, FlagWordFansOutToTheFlagsThatChanged) {
    buildStatus();
    Block b;
    EXPECT_TRUE(deliverBlock(b).empty()) << "a first block of zeros changes nothing";

    b.flags = 0x1;
    EXPECT_EQ(pushes(deliverBlock(b)),
              (std::vector<std::pair<int32_t, int64_t>>{{id("FLAGS/BINARY"), 1}, {id("FLAGS/PLLLOCK"), 1}}));
    b.flags = 0x3;
    EXPECT_EQ(pushes(deliverBlock(b)),
              (std::vector<std::pair<int32_t, int64_t>>{{id("FLAGS/BINARY"), 3}, {id("FLAGS/DCMLOCK"), 1}}));
    b.flags = 0xFFFFFC03;  // only bits 10 to 31 change
    EXPECT_EQ(pushes(deliverBlock(b)), (std::vector<std::pair<int32_t, int64_t>>{{id("FLAGS/BINARY"), 0xFFFFFC03}}));
    b.flags = 0x3F0;  // every flag of bits 0 to 9 moves; in bit order
    std::vector<std::pair<int32_t, int64_t>> expected{{id("FLAGS/BINARY"), 0x3F0}};
    for (int bit = 0; bit < kFlagCount; ++bit) expected.emplace_back(id(kFlagPaths[bit]), (0x3F0 >> bit) & 1);
    expected.erase(expected.begin() + 1 + 2, expected.begin() + 1 + 4);  // bits 2 and 3 stayed 0
    EXPECT_EQ(pushes(deliverBlock(b)), expected);
    for (int bit = 0; bit < kFlagCount; ++bit) EXPECT_EQ(readInteger(id(kFlagPaths[bit])), (0x3F0 >> bit) & 1);
    EXPECT_EQ(readInteger(id("FLAGS/BINARY")), 0x3F0);
}

struct TimeCase {
    uint64_t previous;
    uint64_t next;
    uint64_t shown;
};

class StatusTimeTest : public StatusTest, public ::testing::WithParamInterface<TimeCase> {};

constexpr uint64_t kE44 = uint64_t(1) << 44;
constexpr uint64_t kE48 = uint64_t(1) << 48;

TEST_P(StatusTimeTest, TimeIsExtendedAcrossTheWrapOfTheDeviceCounter) {
    const TimeCase& c = GetParam();
    buildStatus();
    Block b;
    b.time = c.previous;
    deliverBlock(b);
    b.time = c.next;
    const std::vector<OutputRecord> out = deliverBlock(b);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(uint64_t(out[0].asInteger()), c.shown);
    EXPECT_EQ(uint64_t(readInteger(id("TIME"))), c.shown);
}

INSTANTIATE_TEST_SUITE_P(Steps, StatusTimeTest,
                         ::testing::Values(TimeCase{kE48 - 16, 16, kE48 + 16},      // back by 2^46 or more: a wrap
                                           TimeCase{5 * kE44, kE44 + 1, kE44 + 1},  // one below: no wrap
                                           TimeCase{1000, 2000, 2000}));

TEST_F(StatusTest, TimeKeepsItsEpochAndIgnoresBytesSixAndSeven) {
    buildStatus();
    Block b;
    for (uint64_t t : {kE48 - 16, uint64_t(16), uint64_t(32)}) {
        b.time = t;
        deliverBlock(b);
    }
    EXPECT_EQ(uint64_t(readInteger(id("TIME"))), kE48 + 32);
    b.spare = 0xBEEF;
    EXPECT_TRUE(deliverBlock(b).empty());
}

TEST_F(StatusTest, FifoLevelInPercent) {
    buildStatus();
    const std::pair<uint8_t, double> cases[] = {{255, 100.0}, {128, 50.19607843137255}, {0, 0.0}};
    Block b;
    b.fifo = 1;
    deliverBlock(b);
    for (const auto& c : cases) {
        b.fifo = c.first;
        const std::vector<OutputRecord> out = deliverBlock(b);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].header.kind, DATATYPE_DOUBLE);
        EXPECT_EQ(out[0].asDouble(), c.second);
        const std::vector<OutputRecord> reply = read(id("FIFOLEVEL"));
        ASSERT_EQ(reply.size(), 1u);
        EXPECT_EQ(reply[0].asDouble(), c.second);
    }
}

TEST_F(StatusTest, AdcExtremesShareOneBindingAndAreSignedUnclamped) {
    buildStatus();
    EXPECT_EQ(readInteger(id("ADC1MAX")), 0);
    Block b;
    b.adc[0] = 0x80;
    b.adc[3] = 0x7F;
    EXPECT_EQ(pushes(deliverBlock(b)),
              (std::vector<std::pair<int32_t, int64_t>>{{id("ADC0MIN"), -128}, {id("ADC1MAX"), 127}}));
    b.adc[1] = 0xF0;  // only byte 17 changes
    EXPECT_EQ(pushes(deliverBlock(b)), (std::vector<std::pair<int32_t, int64_t>>{{id("ADC0MAX"), -16}}));
    EXPECT_EQ(readInteger(id("ADC0MIN")), -128);
    EXPECT_EQ(readInteger(id("ADC0MAX")), -16);
    EXPECT_EQ(readInteger(id("ADC1MIN")), 0);
    EXPECT_EQ(readInteger(id("ADC1MAX")), 127);
}

TEST_F(StatusTest, FullOutputFifoLosesTheChangeOfTheFlagsButNotOfTheAdcBytes) {
    buildStatus();
    Block b;
    b.flags = 0x2;
    b.adc[2] = 5;
    dev.fillOutput();
    const std::vector<uint8_t> bytes = b.bytes();
    EXPECT_EQ(DeviceStateHandleData(dev, kStatusBlock, uint32_t(bytes.size()), bytes.data()), QV_OVERFLOW);
    dev.takeOutput();
    // BINARY keeps the new word, so the flags are not fanned out for it; the
    // ADC bytes were not taken over, so the next block pushes them again.
    EXPECT_EQ(pushes(deliverBlock(b)), (std::vector<std::pair<int32_t, int64_t>>{{id("ADC1MIN"), 5}}));
    EXPECT_EQ(readInteger(id("FLAGS/BINARY")), 2);
    EXPECT_EQ(readInteger(id("FLAGS/DCMLOCK")), 0);
}

TEST_F(StatusTest, ShortDataIsRefusedWithoutReadingPastIt) {
    buildStatus();
    const uint8_t two[2] = {1, 2};
    for (const char* leaf : {"TIME", "FLAGS/BINARY", "ADC0MIN"}) {
        const EPNodePtr e = ep(id(leaf));
        EXPECT_EQ(e->updateData(dev, e, two, 2), QV_BUFFER_TOO_SMALL) << leaf;
    }
    EXPECT_TRUE(dev.takeOutput().empty());
}

}  // namespace
}  // namespace tarnix
