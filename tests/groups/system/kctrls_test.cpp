#include "SystemGroupFixture.h"

#include "core/LogCapture.h"
#include "core/QVException.h"
#include "groups/KCtrls.h"

#include <gtest/gtest.h>

namespace tarnix {
namespace {

using test::words;

constexpr uint32_t kPorts = 0x03000000;

std::vector<uint8_t> kctrlRecord(uint32_t type0, uint32_t type1, uint32_t reps = 2) {
    return words({kPorts, 0xA5, 8, reps, type0, type1});
}

class KCtrlsTest : public test::SystemGroupTest {
protected:
    QV_STATUS buildPorts(uint32_t type0, uint32_t type1, uint32_t reps = 2) {
        return build(14, kctrlRecord(type0, type1, reps));
    }
    DeviceStateNodeGroup& group() {
        for (const auto& g : state().nodeGroups)
            if (g->typeId == 187) return *g;
        ADD_FAILURE() << "no KCTRLS group";
        return *state().nodeGroups.front();
    }
};

TEST_F(KCtrlsTest, EmptyPortsStillEnterTheirRegisterBlocks) {
    test::LogCapture log;
    ASSERT_EQ(buildPorts(0, 0), QV_NO_ERROR);
    EXPECT_TRUE(childNames("KCTRLS").empty());
    ASSERT_EQ(group().rows.size(), 2u);
    uint32_t port = 0;
    for (int row : group().rows) {
        const Feature& item = state().features.items[std::size_t(row)];
        EXPECT_EQ(item.address, kPorts + 8 * port);
        EXPECT_EQ(item.count, 1u);
        EXPECT_EQ(item.stride, 8u);
        EXPECT_EQ(item.attribute, 0xA5u);
        EXPECT_EQ(KCtrlPortIndex(item), port);
        ++port;
    }
    EXPECT_TRUE(log.contains("LQ3ReadFeaturesKCtrl: StartAddress = 03000000, Reps = 2, Modulo = 8"));
    EXPECT_TRUE(log.contains("KCtrl 0: type=0 (0x0000)."));
    EXPECT_TRUE(log.contains("KCtrl 1: type=0 (0x0000)."));
    EXPECT_FALSE(log.contains("Initializing CAmp."));
}

struct PortCase {
    uint32_t type0;
    uint32_t type1;
    std::vector<std::string> nodes;
};

class KCtrlProbeTest : public KCtrlsTest, public testing::WithParamInterface<PortCase> {};

TEST_P(KCtrlProbeTest, EachPortShowsItsAmplifierInCreationOrder) {
    ASSERT_EQ(buildPorts(GetParam().type0, GetParam().type1), QV_NO_ERROR);
    EXPECT_EQ(childNames("KCTRLS"), GetParam().nodes);
}

INSTANTIATE_TEST_SUITE_P(Types, KCtrlProbeTest,
                         testing::Values(PortCase{0x81, 0x82, {"CAMP0", "TAMP1"}},
                                         PortCase{0x82, 0x81, {"TAMP0", "CAMP1"}},
                                         PortCase{0x82, 0x82, {"TAMP0", "TAMP1"}},
                                         PortCase{0, 0x81, {"CAMP1"}},
                                         PortCase{0x181, 0x8200, {}}));

TEST_F(KCtrlsTest, ALaterListRebuildsTheAmplifiersFromScratch) {
    ASSERT_EQ(buildPorts(0x81, 0x82), QV_NO_ERROR);
    const int32_t biasOut = idOf("KCTRLS/TAMP1/BIASOUT");
    EXPECT_EQ(write("KCTRLS/CAMP0/R", int64_t(1000)).asInteger(), 1000);
    const int freeRows = FeatureMapFreeRows(state().features);

    ASSERT_EQ(buildPorts(0x81, 0), QV_NO_ERROR);
    EXPECT_EQ(childNames("KCTRLS"), (std::vector<std::string>{"CAMP0"}));
    EXPECT_FALSE(DeviceStateEPNodesFind(state().epNodes, biasOut)) << "the pulled amplifier's endpoints are gone";
    EXPECT_EQ(read("KCTRLS/CAMP0/R").asInteger(), 0) << "rebuilt with its default";
    EXPECT_EQ(FeatureMapFreeRows(state().features), freeRows) << "the cleared port rows are taken again";
}

TEST_F(KCtrlsTest, RepetitionsAreOnlyLogged) {
    ASSERT_EQ(buildPorts(0, 0, 5), QV_NO_ERROR);
    EXPECT_EQ(group().rows.size(), 2u);
}

TEST_F(KCtrlsTest, AShortRecordIsReadOnlyAsFarAsItGoes) {
    EXPECT_EQ(build(14, words({kPorts, 0, 8, 2, 0x81})), QV_NO_ERROR);
    EXPECT_EQ(childNames("KCTRLS"), (std::vector<std::string>{"CAMP0"})) << "no type word: port 1 is empty";
    EXPECT_EQ(build(14, words({kPorts, 0, 8})), QV_BUFFER_TOO_SMALL) << "no register block";
    EXPECT_TRUE(childNames("KCTRLS").empty());
}

TEST_F(KCtrlsTest, AFullRegisterMapEndsTheDevice) {
    for (uint32_t i = 0; FeatureMapFreeRows(state().features) > 1; ++i)
        ASSERT_EQ(FeatureMapInsert(state().features, 0x04000000 + 16 * i, 1, 16, 0, "FILLER  "), QV_NO_ERROR);
    try {
        EXPECT_EQ(buildPorts(0x81, 0), QV_NO_ERROR);
        ADD_FAILURE() << "no exception";
    } catch (const QVDeviceException& e) {
        EXPECT_STREQ(e.what(), "need space for kctrl");
        EXPECT_STREQ(*boost::get_error_info<boost::throw_file>(e), "LQ3KCtrl");
    }
}

}  // namespace
}  // namespace tarnix
