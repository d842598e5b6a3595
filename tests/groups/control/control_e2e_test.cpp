// The control loops end to end: qvServer with an lq3sim instrument. A PID
// setting written over the text protocol reaches the instrument's register,
// and the PLL leaves limit what they are given.
#include "server/DeviceE2ESupport.h"

#include <gtest/gtest.h>

#include <string>

namespace tarnix {
namespace {

using namespace std::chrono_literals;
using test::addLine;

// The simulated instrument's second PID block (controllers, 0x80 apart).
constexpr uint32_t kPidControllers = 0x01003500;

class ControlEndToEnd : public test::DeviceServerFixture {
protected:
    std::string ask(const std::string& command) { return test::ask(*probe_, command + "\n", "\n"); }
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
    ASSERT_TRUE(raw->send("subs /dev1600/raw/read/data\n"));
    raw->waitFor("\x01 nothing", 100ms);
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

}  // namespace
}  // namespace tarnix
