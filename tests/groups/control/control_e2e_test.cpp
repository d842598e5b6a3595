// The control loops end to end: qvServer with lq3sim instruments of the models
// that reach the groups' paths (PLL feature versions 1, 2 and 3; four and six
// PID controllers). A PID setting written over the text protocol reaches the
// instrument's register, the PLL leaves limit what they are given, and the
// instrument's own loop gains survive the start-up.
#include "server/DeviceE2ESupport.h"

#include <gtest/gtest.h>

#include <string>

namespace tarnix {
namespace {

using namespace std::chrono_literals;
using test::addLine;

// The simulated instrument's second PID block (controllers, 0x80 apart).
constexpr uint32_t kPidControllers = 0x01003500;

// The simulated instrument's PLL blocks and the offsets of two loop-gain words.
constexpr uint32_t kPlls = 0x01003A00;
constexpr uint32_t kIntegralOffset = 0x30;
constexpr uint32_t kDerivativeOffset = 0x34;

class ControlEndToEnd : public test::DeviceServerFixture {
protected:
    std::string ask(const std::string& command) { return test::ask(*probe_, command + "\n", "\n"); }
    std::string writeThenRead(const std::string& path, const std::string& value) {
        return test::writeThenRead(*probe_, path, value);
    }
    // The bytes of a register, read from the instrument itself.
    bool registerHolds(uint32_t serial, uint32_t address, const std::string& bytes) {
        const std::string dev = "/dev" + std::to_string(serial);
        auto raw = test::greetedClient(server_->port());
        if (!test::carryOut(*raw, "subs " + dev + "/raw/read/data\n")) return false;
        ask(dev + "/raw/read/address " + std::to_string(address));
        ask(dev + "/raw/read/request 4");
        const std::string line = "/DEV" + std::to_string(serial) + "/RAW/READ/DATA: " + bytes + "\n";
        const bool held = raw->waitFor(line, 5s);
        EXPECT_TRUE(held) << raw->received();
        return held;
    }
};

TEST_F(ControlEndToEnd, PidSettingReachesTheRegisterAndPllLeavesLimit) {
    auto instrument = plug(1600);
    ASSERT_TRUE(trees_->waitFor(addLine(1600), 15s)) << trees_->received() << output();

    EXPECT_EQ(ask("ls /dev1600/pids"), "0\n1\n2\n3\n");
    EXPECT_EQ(test::ask(*probe_, "ls /dev1600/pids/1\n", "TIPPROTECT\n"),
              "INPUT\nINPUTCHANNEL\nOUTPUT\nOUTPUTCHANNEL\nOUTPUTDEFAULTENABLE\nOUTPUTDEFAULT\nMONITOROFFSET\n"
              "MONITORSCALE\nP\nI\nD\nSETPOINT\nSETPOINTSELECT\nERROR\nCENTER\nRANGE\nSHIFT\nENABLE\nRATE\n"
              "TIPPROTECT\n");

    // The single whose little-endian bytes spell "ABCD".
    EXPECT_NE(ask("/dev1600/pids/1/p 781.035217").find("/DEV1600/PIDS/1/P: 781.035"), std::string::npos);
    EXPECT_NE(ask("/dev1600/pids/1/p ?").find("/DEV1600/PIDS/1/P: 781.035"), std::string::npos);

    // Read the register itself back from the instrument.
    auto raw = test::greetedClient(server_->port());
    ASSERT_TRUE(test::carryOut(*raw, "subs /dev1600/raw/read/data\n"));
    ask("/dev1600/raw/read/address " + std::to_string(kPidControllers + 0x80 + 0x04));
    ask("/dev1600/raw/read/request 4");
    EXPECT_TRUE(raw->waitFor("/DEV1600/RAW/READ/DATA: ABCD", 5s)) << raw->received();

    // The PLLs of this instrument's feature version, with the harmonics of
    // demodulators 6 and 7.
    EXPECT_EQ(ask("ls /dev1600/plls/1"), "ADCSELECT\nFREQCENTER\nENABLE\nERROR\nADCTHRESHOLD\nHARMONIC\nORDER\n");
    EXPECT_EQ(ask("/dev1600/plls/0/adcthreshold 5000"), "/DEV1600/PLLS/0/ADCTHRESHOLD: 4095\r\n");
    EXPECT_EQ(ask("/dev1600/plls/1/harmonic 5"), "/DEV1600/PLLS/1/HARMONIC: 2\r\n");
    EXPECT_EQ(ask("/dev1600/plls/1/harmonic ?"), "/DEV1600/PLLS/1/HARMONIC: 2\r\n");

    instrument->unplug();
    EXPECT_TRUE(trees_->waitFor(test::removeLine(1600), 10s)) << trees_->received();
}

// PLL feature version 2: the full leaf set, the instrument's own loop gains
// kept through the start-up, and a NaN that changes no setting.
TEST_F(ControlEndToEnd, PllsOfVersionTwoKeepTheInstrumentsLoopGains) {
    auto instrument = plug(1620, {"--model", "single-input"});
    ASSERT_TRUE(trees_->waitFor(addLine(1620), 15s)) << trees_->received() << output();

    EXPECT_EQ(ask("ls /dev1620/plls/1"),
              "ADCSELECT\nFREQCENTER\nFREQRANGE\nENABLE\nERROR\nAUTOCENTER\nAUTOTIMECONSTANT\nTIMECONSTANT\n"
              "AUTOPID\nPGAIN\nITIMECONSTANT\nDTIMECONSTANT\nFREQDELTA\nADCTHRESHOLD\nAUXAVG\nSETPOINT\nHARMONIC\n"
              "ORDER\n");
    // The instrument's gain (word 230), and the integral and derivative words
    // that go with it still in its registers: the start-up wrote none over them.
    EXPECT_EQ(ask("/dev1620/plls/0/pgain ?"), "/DEV1620/PLLS/0/PGAIN: 1.00\r\n");
    registerHolds(1620, kPlls + kIntegralOffset, std::string("\x00\x02\x00\x00", 4));
    registerHolds(1620, kPlls + 0x80 + kDerivativeOffset, std::string("\x46\x0D\x00\x00", 4));

    // A value that is not a number (0/0) is refused: no value comes back, and
    // the setting stays.
    const std::string centre = ask("/dev1620/plls/0/freqcenter 1000");
    EXPECT_EQ(writeThenRead("/dev1620/plls/0/freqcenter", "(0/0)"), centre);
    const std::string timeConstant = ask("/dev1620/plls/0/timeconstant ?");
    EXPECT_EQ(writeThenRead("/dev1620/plls/0/timeconstant", "(0/0)"), timeConstant);
    EXPECT_EQ(outputOfTest().find("Error in DeviceStateMsgHandler"), std::string::npos) << outputOfTest();
    // Without a gain the derivative time constant reads 0, never NaN.
    ask("/dev1620/plls/0/pgain 0");
    EXPECT_EQ(ask("/dev1620/plls/0/dtimeconstant ?").rfind("/DEV1620/PLLS/0/DTIMECONSTANT: 0.0", 0), 0u);

    instrument->unplug();
    EXPECT_TRUE(trees_->waitFor(test::removeLine(1620), 10s)) << trees_->received();
}

// PLL feature version 3 and six PID controllers, every one of them shown.
TEST_F(ControlEndToEnd, SixPidControllersAndPllsOfVersionThree) {
    auto instrument = plug(1621, {"--model", "multi-cpu"});
    ASSERT_TRUE(trees_->waitFor(addLine(1621), 15s)) << trees_->received() << output();

    EXPECT_EQ(ask("ls /dev1621/pids"), "0\n1\n2\n3\n4\n5\n");
    EXPECT_NE(ask("/dev1621/pids/5/p 781.035217").find("/DEV1621/PIDS/5/P: 781.035"), std::string::npos);
    registerHolds(1621, kPidControllers + 5 * 0x80 + 0x04, "ABCD");
    EXPECT_NE(ask("/dev1621/pids/5/rate ?").find("/DEV1621/PIDS/5/RATE: "), std::string::npos);

    EXPECT_EQ(ask("/dev1621/plls/1/pgain ?"), "/DEV1621/PLLS/1/PGAIN: 1.00\r\n");
    EXPECT_EQ(ask("/dev1621/plls/1/harmonic 5"), "/DEV1621/PLLS/1/HARMONIC: 2\r\n");
    EXPECT_EQ(ask("/dev1621/plls/0/freqcenter 2e8"), "/DEV1621/PLLS/0/FREQCENTER: 100000000.00000\r\n");

    instrument->unplug();
    EXPECT_TRUE(trees_->waitFor(test::removeLine(1621), 10s)) << trees_->received();
}

}  // namespace
}  // namespace tarnix
