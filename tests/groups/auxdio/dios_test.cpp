#include "AuxDioFixture.h"

#include "core/DataTypes.h"
#include "core/fifo/BufferFifo.h"
#include "groups/DIOs.h"
#include "groups/data/GroupFamilyData.h"

#include <gtest/gtest.h>

namespace tarnix {
namespace {

using test::samplePacket;

constexpr uint32_t kSettings = 0x02100000;
constexpr uint32_t kSettingsStride = 0x20;
constexpr uint32_t kSlots = 0x02100100;
constexpr uint32_t kSlotStride = 0x10;

struct Leaf {
    const char* name;
    int32_t typeId;
    uint32_t offset;
};
const Leaf kSettingLeaves[] = {{"EXTCLK", 162, 0},  {"DECIMATION", 163, 4},   {"DRIVE", 164, 8},
                               {"OUTPUT", 165, 12}, {"SYNCSELECT0", 166, 16}, {"SYNCSELECT1", 167, 20}};

uint32_t offsetOf(const std::string& leaf) {
    for (const Leaf& l : kSettingLeaves)
        if (leaf == l.name) return l.offset;
    ADD_FAILURE() << "no leaf " << leaf;
    return 0;
}

std::vector<DataDIOSample> drain(BufferFifoBase& stream, std::vector<uint8_t>* raw = nullptr) {
    std::vector<DataDIOSample> samples;
    for (;;) {
        FifoReader reader(stream, 0);
        if (!reader) break;
        if (raw) raw->insert(raw->end(), reader.data(), reader.end());
        for (uint8_t* p = reader.data(); p + kDIOSampleSize <= reader.end(); p += kDIOSampleSize)
            samples.push_back(decodeDIOSample(p));
        reader.commitAll();
    }
    return samples;
}

class DIOsTest : public test::AuxDioFixture {
protected:
    void buildPorts(uint32_t ports) {
        ASSERT_EQ(build<NodeDefs::LQ3::DIOs>(DIOsFeatureInit, {{kSettings, kSettingsStride, ports},
                                                               {kSlots, kSlotStride, 2 * ports}}),
                  QV_NO_ERROR);
    }
};

TEST_F(DIOsTest, RecordsOfTheWrongShapeBuildNothing) {
    EXPECT_EQ(build<NodeDefs::LQ3::DIOs>(DIOsFeatureInit, {{kSettings, kSettingsStride, 1}}), QV_BUFFER_TOO_SMALL);
    const uint32_t apart = 0x10000;
    EXPECT_EQ(build<NodeDefs::LQ3::DIOs>(DIOsFeatureInit,
                                         {{kSettings + apart, kSettingsStride, 1}, {kSlots + apart, kSlotStride, 1}}),
              QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(groupRoot->childCount(), 0u);
}

TEST_F(DIOsTest, EachPortHasItsSettingsAndInputStream) {
    buildPorts(2);
    EXPECT_EQ(familyDataOf(state()).shared.dioCount, 2u);
    ASSERT_EQ(groupRoot->childCount(), 2u);
    for (std::size_t n = 0; n < 2; ++n) {
        const TreeNode::Ptr port = groupRoot->childAt(n);
        EXPECT_EQ(port->nodeTypeId(), 161);
        ASSERT_EQ(port->childCount(), 7u);
        for (std::size_t i = 0; i < 6; ++i) {
            EXPECT_EQ(port->childAt(i)->getName(), kSettingLeaves[i].name);
            EXPECT_EQ(port->childAt(i)->nodeTypeId(), kSettingLeaves[i].typeId);
            EXPECT_EQ(port->childAt(i)->siblingOrder(), int64_t(i + 1));
        }
        EXPECT_EQ(port->childAt(6)->getName(), "INPUT");
        EXPECT_EQ(port->childAt(6)->nodeTypeId(), 168);
        EXPECT_EQ(port->childAt(6)->endpoint()->dataType, DATATYPE_DIOSAMPLE);
    }
    // Every port shares the one list of the definition.
    NodeValueList drive0, drive1;
    ASSERT_TRUE(groupRoot->childAt(0)->childAt(2)->getProperty("values", drive0));
    ASSERT_TRUE(groupRoot->childAt(1)->childAt(2)->getProperty("values", drive1));
    EXPECT_TRUE(drive0 == drive1);
    ASSERT_EQ(drive0.count, 4u);
    EXPECT_EQ(drive0.entries[2].description, "Drive higher 16bits");
    NodeValueList clock;
    ASSERT_TRUE(groupRoot->childAt(0)->childAt(0)->getProperty("values", clock));
    ASSERT_EQ(clock.count, 2u);
    EXPECT_EQ(clock.entries[1].description, "External clock");

    // Asked of the instrument, not written; until then the start words show.
    const std::vector<test::DeviceEvent> sent = send();
    int requests = 0;
    for (const auto& e : sent) {
        EXPECT_NE(e.kind, test::DeviceEvent::Write);
        if (e.kind == test::DeviceEvent::Request && e.address >= kSettings && e.address < kSettings + 0x40) ++requests;
    }
    EXPECT_EQ(requests, 12);
    const std::pair<const char*, int64_t> shown[] = {{"EXTCLK", 0}, {"DECIMATION", 1000}, {"DRIVE", 0},
                                                     {"OUTPUT", 0}, {"SYNCSELECT0", 8},   {"SYNCSELECT1", 8}};
    for (const auto& s : shown) EXPECT_EQ(readInteger(1, s.first), s.second) << s.first;
}

TEST_F(DIOsTest, WritesStoreTheMappedWordAndReplyWhatIsInEffect) {
    buildPorts(1);
    send();
    struct Case {
        const char* leaf;
        uint32_t demods;
        int64_t written;
        uint32_t word;
        int64_t shown;
    };
    const Case cases[] = {
        {"EXTCLK", 0, 5, 1, 1},
        {"EXTCLK", 0, 0, 0, 0},
        {"DECIMATION", 0, 0, 1, 1},
        {"DECIMATION", 0, -3, 1, 1},
        {"DECIMATION", 0, 70000, 65535, 65535},
        {"DECIMATION", 0, 1000, 1000, 1000},
        {"DRIVE", 0, 1, 2, 1},
        {"DRIVE", 0, 3, 0, 3},
        {"DRIVE", 0, 0, 3, 0},
        {"DRIVE", 0, 6, 1, 2},
        {"OUTPUT", 0, 0x12345, 0x2345, 0x2345},
        {"SYNCSELECT0", 8, 7, 7, 7},
        {"SYNCSELECT0", 8, 8, 8, 8},
        {"SYNCSELECT0", 8, 9, 8, 8},
        {"SYNCSELECT0", 8, 100, 8, 8},
        {"SYNCSELECT0", 8, -1, 0, 0},
        {"SYNCSELECT1", 6, 6, 8, 8},
        {"SYNCSELECT1", 6, 7, 8, 8},
        {"SYNCSELECT1", 6, 5, 5, 5},
        {"SYNCSELECT1", 0, 7, 7, 7},  // no demodulator: nothing to limit by
    };
    for (const Case& c : cases) {
        familyDataOf(state()).shared.demodulatorCount = c.demods;
        const int32_t id = idOf(0, c.leaf);
        ASSERT_EQ(request(test::setInteger(id, c.written)), QV_NO_ERROR) << c.leaf;
        EXPECT_EQ(only(id).asInteger(), c.shown) << c.leaf << " " << c.written;
        const auto writes = writesAt(send(), kSettings + offsetOf(c.leaf));
        ASSERT_EQ(writes.size(), 1u) << c.leaf;
        EXPECT_EQ(writes[0].word(), c.word) << c.leaf << " " << c.written;
    }
}

TEST_F(DIOsTest, RepeatedValueIsSentAgainButRepliedToTheWriterAlone) {
    buildPorts(1);
    const int32_t id = idOf(0, "DECIMATION");
    ASSERT_EQ(request(test::setInteger(id, 1000)), QV_NO_ERROR);
    EXPECT_EQ(only(id).header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_EQ(writesAt(send(), kSettings + 4).size(), 1u);
    ASSERT_EQ(request(test::setDouble(id, 12.7)), QV_NO_ERROR);
    EXPECT_EQ(only(id).asInteger(), 12);
    EXPECT_EQ(only(id).header.flags, VALUE_FLAG_CHANGED);
}

TEST_F(DIOsTest, WordsFromTheInstrumentAreKeptWholeAndPushedAsTheyShow) {
    buildPorts(1);
    familyDataOf(state()).shared.demodulatorCount = 8;
    struct Case {
        const char* leaf;
        uint32_t word;
        int64_t pushed;
    };
    const Case cases[] = {{"OUTPUT", 0xABCD0001, 1}, {"SYNCSELECT0", 12, 8}, {"DECIMATION", 0, 1},
                          {"DRIVE", 2, 1},           {"EXTCLK", 5, 1}};
    for (const Case& c : cases) {
        const int32_t id = idOf(0, c.leaf);
        ASSERT_EQ(deliverWord(kSettings + offsetOf(c.leaf), c.word), QV_NO_ERROR);
        ASSERT_EQ(recordsOn(id).size(), 1u) << c.leaf;
        EXPECT_EQ(recordsOn(id)[0].asInteger(), c.pushed) << c.leaf;
        EXPECT_EQ(recordsOn(id)[0].header.sessionTag, kUnsolicitedSessionTag);
        EXPECT_EQ(storedWord(*epOf(0, c.leaf)), c.word) << c.leaf;
        EXPECT_EQ(readInteger(0, c.leaf), c.pushed) << c.leaf;
        ASSERT_EQ(deliverWord(kSettings + offsetOf(c.leaf), c.word), QV_NO_ERROR);
        EXPECT_TRUE(recordsOn(id).empty()) << c.leaf;
    }
}

TEST_F(DIOsTest, BothSlotsOfAPortFeedItsInputStream) {
    buildPorts(2);
    const int32_t id = idOf(0, "INPUT");
    ASSERT_EQ(request(test::getValue(id)), QV_NO_ERROR);
    EXPECT_EQ(decodeDIOSample(only(id).bytes.data() + 12).timeStamp, 0u);

    const uint64_t nearEnd = (uint64_t(1) << 48) - 2;
    ASSERT_EQ(deliver(kSlots, samplePacket(nearEnd, 0xDEADBEEF)), QV_NO_ERROR);
    ASSERT_EQ(deliver(kSlots + kSlotStride, samplePacket(1, 0x12345678)), QV_NO_ERROR);
    ASSERT_EQ(deliver(kSlots + 2 * kSlotStride, samplePacket(9, 1)), QV_NO_ERROR);

    std::vector<uint8_t> raw;
    const std::vector<DataDIOSample> port0 = drain(*epOf(0, "INPUT")->stream, &raw);
    ASSERT_EQ(port0.size(), 2u);
    EXPECT_EQ(port0[0].timeStamp, nearEnd);
    EXPECT_EQ(port0[0].bits, 0xDEADBEEFu);
    EXPECT_EQ(port0[1].timeStamp, (uint64_t(1) << 48) + 1);
    EXPECT_EQ(port0[1].bits, 0x12345678u);
    EXPECT_EQ(le::get32(raw.data() + 12), 0u) << "reserved bytes";
    ASSERT_EQ(drain(*epOf(1, "INPUT")->stream).size(), 1u);

    ASSERT_EQ(request(test::getValue(id)), QV_NO_ERROR);
    const test::OutputRecord reply = only(id);
    EXPECT_EQ(reply.header.kind, DATATYPE_DIOSAMPLE);
    ASSERT_EQ(reply.bytes.size(), 12 + kDIOSampleSize);
    EXPECT_EQ(decodeDIOSample(reply.bytes.data() + 12).bits, 0x12345678u);

    const std::vector<uint8_t> packet = samplePacket(1, 1);
    EXPECT_EQ(DIOSampleUpdateData(dev, epOf(0, "INPUT"), packet.data(), 4), QV_BUFFER_TOO_SMALL);
    EXPECT_TRUE(drain(*epOf(0, "INPUT")->stream).empty());
}

}  // namespace
}  // namespace tarnix
