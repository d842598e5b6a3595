#include "SystemGroupFixture.h"

#include "groups/KCtrlsCAmp.h"

#include <gtest/gtest.h>

namespace tarnix {
namespace {

using test::DeviceEvent;
using test::OutputRecord;
using test::words;

constexpr uint32_t kPorts = 0x03000000;
constexpr uint32_t kPort1 = kPorts + 8;

class CAmpTest : public test::SystemGroupTest {
protected:
    void SetUp() override {
        test::SystemGroupTest::SetUp();
        ASSERT_EQ(build(14, words({kPorts, 0, 8, 2, 0, 0x81})), QV_NO_ERROR);
    }
    std::vector<DeviceEvent> registerWrites() {
        std::vector<DeviceEvent> out;
        for (const DeviceEvent& e : sendPass())
            if (e.kind == DeviceEvent::Write && e.address == kPort1) out.push_back(e);
        return out;
    }
    QV_STATUS report(uint64_t value) {
        uint8_t data[8];
        le::put64(data, value);
        return DeviceStateHandleData(dev, kPort1, 8, data);
    }
};

TEST_F(CAmpTest, FourLeavesWithDefaultsAndOneRegisterReadBack) {
    EXPECT_EQ(childNames("KCTRLS/CAMP1"), (std::vector<std::string>{"R", "GAIN", "DC", "SINGLEENDED"}));
    EXPECT_EQ(node("KCTRLS/CAMP1/SINGLEENDED")->nodeTypeId(), 192);
    EXPECT_EQ(read("KCTRLS/CAMP1/R").asInteger(), 0);
    EXPECT_EQ(read("KCTRLS/CAMP1/GAIN").asInteger(), 1);
    EXPECT_EQ(read("KCTRLS/CAMP1/DC").header.kind, DATATYPE_INTEGER);
    const OutputRecord singleEnded = read("KCTRLS/CAMP1/SINGLEENDED");
    EXPECT_EQ(singleEnded.header.kind, DATATYPE_DOUBLE);
    EXPECT_EQ(singleEnded.asDouble(), 0.0);

    std::vector<DeviceEvent> requests;
    for (const DeviceEvent& e : sendPass())
        if (e.kind == DeviceEvent::Request && e.address >= kPorts && e.address < kPorts + 16) requests.push_back(e);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].address, kPort1);
    EXPECT_EQ(requests[0].length, 8u);
}

struct WriteCase {
    const char* leaf;
    int64_t written;
    int64_t replied;
};

class CAmpWriteTest : public CAmpTest, public testing::WithParamInterface<WriteCase> {};

TEST_P(CAmpWriteTest, RepliesTheStoredValue) {
    const std::string path = std::string("KCTRLS/CAMP1/") + GetParam().leaf;
    EXPECT_EQ(write(path, GetParam().written).asInteger(), GetParam().replied);
    EXPECT_EQ(read(path).asInteger(), GetParam().replied);
}

INSTANTIATE_TEST_SUITE_P(
    Values, CAmpWriteTest,
    testing::Values(WriteCase{"R", 7, 10}, WriteCase{"R", 4, 0}, WriteCase{"R", 5, 10}, WriteCase{"R", 54, 10},
                    WriteCase{"R", 55, 100}, WriteCase{"R", 549, 100}, WriteCase{"R", 550, 1000},
                    WriteCase{"R", 549999, 100000}, WriteCase{"R", 550000, 1000000}, WriteCase{"R", -3, 0},
                    WriteCase{"R", 4294967295ll, 1000000},
                    WriteCase{"GAIN", 4, 1}, WriteCase{"GAIN", 5, 10}, WriteCase{"GAIN", -10, 1},
                    WriteCase{"DC", 2, 1}, WriteCase{"DC", -1, 1}, WriteCase{"DC", 0, 0}));

TEST_F(CAmpTest, OneRegisterWriteCarriesEveryChange) {
    write("KCTRLS/CAMP1/R", int64_t(1000));
    write("KCTRLS/CAMP1/GAIN", int64_t(10));
    write("KCTRLS/CAMP1/DC", int64_t(1));
    write("KCTRLS/CAMP1/SINGLEENDED", int64_t(1));
    const std::vector<DeviceEvent> writes = registerWrites();
    ASSERT_EQ(writes.size(), 1u);
    uint8_t expected[8];
    le::put64(expected, 0x03C403C403C403C4ull);
    EXPECT_EQ(writes[0].payload, std::vector<uint8_t>(expected, expected + 8));
}

TEST_F(CAmpTest, AnUnchangedValueRepliesWithTheReplyFlagAndIsWrittenAgain) {
    const OutputRecord r = write("KCTRLS/CAMP1/DC", int64_t(0));
    EXPECT_EQ(r.header.flags, VALUE_FLAG_REPLY_ONLY);
    const std::vector<DeviceEvent> writes = registerWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].payload, std::vector<uint8_t>(8, 0));
    EXPECT_EQ(write("KCTRLS/CAMP1/DC", 1.9).asInteger(), 1) << "a double counts truncated";
}

TEST_F(CAmpTest, TheRegisterIsDecodedIntoAllFourLeaves) {
    dev.takeOutput();
    ASSERT_EQ(report(0x02C6), QV_NO_ERROR);  // 100 Ohm (lowest bit wins), 10x, DC, single-ended
    std::vector<std::pair<uint32_t, double>> pushes;
    for (const OutputRecord& r : dev.takeOutput())
        pushes.emplace_back(r.header.endpointId,
                            r.header.kind == DATATYPE_DOUBLE ? r.asDouble() : double(r.asInteger()));
    const std::vector<std::pair<uint32_t, double>> expected = {
        {uint32_t(idOf("KCTRLS/CAMP1/R")), 100.0},
        {uint32_t(idOf("KCTRLS/CAMP1/GAIN")), 10.0},
        {uint32_t(idOf("KCTRLS/CAMP1/DC")), 1.0},
        {uint32_t(idOf("KCTRLS/CAMP1/SINGLEENDED")), 1.0}};
    EXPECT_EQ(pushes, expected);

    ASSERT_EQ(report(0x02C6), QV_NO_ERROR);
    EXPECT_TRUE(dev.takeOutput().empty()) << "nothing changed";
    ASSERT_EQ(report(0x0100), QV_NO_ERROR);  // bit 8 alone is not read back
    dev.takeOutput();
    EXPECT_EQ(read("KCTRLS/CAMP1/R").asInteger(), 0);
    EXPECT_EQ(read("KCTRLS/CAMP1/DC").asInteger(), 0);

    EPNodePtr r = ep("KCTRLS/CAMP1/R");
    const std::vector<uint8_t> shortData = words({0x4});
    EXPECT_EQ(CAmpControlUpdateData(dev, r, shortData.data(), 4), QV_BUFFER_TOO_SMALL);
}

TEST(CAmpControlWord, ComposesTheBits) {
    EXPECT_EQ(CAmpControlWord(3, 1, 1, 1), 0x3C4u);
    EXPECT_EQ(CAmpControlWord(6, 0, 0, 0), 0x20u);
    EXPECT_EQ(CAmpControlWord(0, 0, 1, 0), 0x180u);
    EXPECT_EQ(CAmpResistorIndexFromBits(0x0006), 2u);
    EXPECT_EQ(CAmpResistorIndexFromBits(0x0040), 0u);
}

}  // namespace
}  // namespace tarnix
