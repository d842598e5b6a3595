// The handlers' debug log lines are built only when debug records pass; with
// the threshold lowered they are built and must not disturb the handlers.
#include "ControlFixture.h"

#include "core/Logging.h"
#include "groups/PIDs.h"
#include "groups/PLLs.h"
#include "groups/data/GroupFamilyData.h"

namespace tarnix {
namespace {

namespace LQ3 = NodeDefs::LQ3;

class DebugLoggingTest : public test::ControlFixture {
protected:
    void SetUp() override {
        ControlFixture::SetUp();
        saved = logging::logLevel();
        logging::setLogLevel(logging::debug);
    }
    void TearDown() override { logging::setLogLevel(saved); }
    int saved = 3;
};

TEST_F(DebugLoggingTest, PidHandlersLog) {
    familyDataOf(state()).shared.demodulatorCount = 8;
    ASSERT_EQ(build<LQ3::PIDs>(PIDsFeatureInit, 1,
                               {insert(0x03000000, 1, 0x10), insert(0x03000100, 2, 0x80), insert(0x03001000, 1, 4)}),
              QV_NO_ERROR);
    settle();
    EXPECT_EQ(writeInteger("1/INPUTCHANNEL", 7).asInteger(), 7);
    EXPECT_EQ(writeInteger("1/INPUT", 8).asInteger(), 8);
    EXPECT_EQ(writeInteger("1/OUTPUTCHANNEL", 3).asInteger(), 0);
    EXPECT_EQ(writeInteger("1/TIPPROTECT/PLL", 3).asInteger(), 3);
    EXPECT_EQ(writeInteger("1/TIPPROTECT/ENABLE", 1).asInteger(), 1);
    EXPECT_EQ(readInteger("1/TIPPROTECT/ACTIVE"), 0);
    EXPECT_EQ(deliver(0x03000100 + 0x80 + 0x38, wordBytes(0)).size(), 2u);
}

TEST_F(DebugLoggingTest, PllHandlersLog) {
    Feature* demods = insert(0x04000000, 6, 0x40);
    familyDataOf(state()).signalPath.demodBlockRow = DeviceStateRowOf(dev, demods);
    familyDataOf(state()).signalPath.demodBlockStride = 0x40;
    ASSERT_EQ(build<LQ3::PLLs>(PLLsFeatureInit, 2, {insert(0x04001000, 1, 0x80)}), QV_NO_ERROR);
    settle();
    for (uint32_t offset : {0x2c, 0x30, 0x34}) deliver(0x04001000 + offset, wordBytes(0));
    EXPECT_EQ(writeDouble("0/PGAIN", 1.0).asDouble(), 0.9994568169473111);
    EXPECT_EQ(writeDouble("0/ITIMECONSTANT", 0.001).asDouble(), 0.0009994568169473111);
    EXPECT_EQ(readDouble("0/ITIMECONSTANT"), 0.0009994568169473111);
    EXPECT_EQ(deliver(0x04001000 + 0x2c, wordBytes(460)).size(), 3u);
}

}  // namespace
}  // namespace tarnix
