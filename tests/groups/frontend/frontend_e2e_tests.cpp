// The family end to end: qvServer with lq3sim instruments of the models that
// reach the group's paths (formula and table gain modes, one and two signal
// inputs, hardware revisions 3 and 4). The scope sends waves while its trigger
// is not off and the status block comes with the heartbeat.
#include "server/DeviceE2ESupport.h"

#include <gtest/gtest.h>

namespace tarnix {
namespace {

using namespace std::chrono_literals;
using test::addLine;
using test::removeLine;

class FrontEndEndToEnd : public test::DeviceServerFixture {
protected:
    std::string read(const std::string& path) { return test::ask(*probe_, path + " ?\n", "\n"); }
};

TEST_F(FrontEndEndToEnd, SettingsReachTheInstrumentAndItsWavesAndStatusComeBack) {
    auto instrument = plug(1600);
    ASSERT_TRUE(trees_->waitFor(addLine(1600), 15s)) << trees_->received() << output();

    // Start values as the instrument reported them.
    EXPECT_EQ(read("/dev1600/scopes/0/trigchannel"), "/DEV1600/SCOPES/0/TRIGCHANNEL: -1\r\n");
    EXPECT_EQ(read("/dev1600/sigouts/1/range"), "/DEV1600/SIGOUTS/1/RANGE: 1.00\r\n");

    // Input range: the server picks the gain code and shows the range it gives.
    test::ask(*probe_, "/dev1600/sigins/1/range 1.0\n", "\n");
    EXPECT_NE(read("/dev1600/sigins/1/range").find("/DEV1600/SIGINS/1/RANGE: 0.9492"), std::string::npos);
    test::ask(*probe_, "/dev1600/sigouts/0/range 5\n", "\n");
    EXPECT_EQ(read("/dev1600/sigouts/0/range"), "/DEV1600/SIGOUTS/0/RANGE: 10.00\r\n");

    // The scope runs once its trigger is on: the waves carry the settings.
    auto subscriber = test::greetedClient(server_->port());
    ASSERT_TRUE(subscriber->send("subs /dev1600/scopes/0/wave\n"));
    test::ask(*probe_, "/dev1600/scopes/0/channel 2\n", "\n");
    test::ask(*probe_, "/dev1600/scopes/0/trigchannel -2\n", "\n");
    EXPECT_TRUE(subscriber->waitFor("/DEV1600/SCOPES/0/WAVE: SCh=2, TCh=4294967294, dt=", 5s))
        << subscriber->received();
    ASSERT_TRUE(subscriber->send("unsubs /dev1600/scopes/0/wave\nsubs /dev1600/status/time\n"));
    subscriber->clear();
    EXPECT_TRUE(subscriber->waitFor("/DEV1600/STATUS/TIME: ", 5s)) << subscriber->received();
    ASSERT_TRUE(subscriber->send("unsubs /dev1600\n"));
    // Every request and every block of the instrument's data was handled.
    EXPECT_EQ(outputOfTest().find("Can't handle data"), std::string::npos) << outputOfTest();
    EXPECT_EQ(outputOfTest().find("Error in DeviceStateMsgHandler"), std::string::npos) << outputOfTest();

    instrument->unplug();
    EXPECT_TRUE(trees_->waitFor(removeLine(1600), 10s)) << trees_->received();
}

// A one-input instrument whose FPGA the server loads: its single IMP50 leaf is
// forced to 50 Ohm and released, and the instrument is announced. Its gain
// tables (hardware revision 3) and the rule between square waves and the 10 V
// output range hold.
TEST_F(FrontEndEndToEnd, AOneInputInstrumentWithItsFpgaLoadedIsAnnouncedAndWorks) {
    auto instrument = plug(1610, {"--model", "single-input"});
    ASSERT_TRUE(trees_->waitFor(addLine(1610), 15s)) << trees_->received() << output();
    EXPECT_EQ(outputOfTest().find("Error in"), std::string::npos) << outputOfTest();

    EXPECT_EQ(test::ask(*probe_, "ls /dev1610/sigins\n", "\n"), "0\n");
    test::ask(*probe_, "/dev1610/sigins/0/range 0.7\n", "\n");
    EXPECT_EQ(read("/dev1610/sigins/0/range"), "/DEV1610/SIGINS/0/RANGE: 0.70000\r\n") << "a gain-table entry";
    test::ask(*probe_, "/dev1610/sigins/0/imp50 1\n", "\n");
    EXPECT_EQ(read("/dev1610/sigins/0/imp50"), "/DEV1610/SIGINS/0/IMP50: 1\r\n");

    // Demodulators of version 1 give the outputs mixer channels 6 and 7 only.
    EXPECT_EQ(test::ask(*probe_, "ls /dev1610/sigouts/0/waveforms\n", "7\n"), "6\n7\n");
    test::ask(*probe_, "/dev1610/sigouts/0/range 10\n", "\n");
    test::ask(*probe_, "/dev1610/sigouts/0/waveforms/7 1\n", "\n");
    EXPECT_EQ(read("/dev1610/sigouts/0/range"), "/DEV1610/SIGOUTS/0/RANGE: 1.00\r\n") << "square limits to 1 V";
    EXPECT_EQ(outputOfTest().find("Can't handle data"), std::string::npos) << outputOfTest();

    instrument->unplug();
    EXPECT_TRUE(trees_->waitFor(removeLine(1610), 10s)) << trees_->received();
}

// Hardware revision 4: gain tables on both inputs, square waves with a 10 V range.
TEST_F(FrontEndEndToEnd, RevisionFourKeepsSquareWavesAtTenVolts) {
    auto instrument = plug(1611, {"--model", "multi-cpu"});
    ASSERT_TRUE(trees_->waitFor(addLine(1611), 15s)) << trees_->received() << output();

    test::ask(*probe_, "/dev1611/sigins/1/range 1.0\n", "\n");
    EXPECT_EQ(read("/dev1611/sigins/1/range"), "/DEV1611/SIGINS/1/RANGE: 1.00000\r\n");
    test::ask(*probe_, "/dev1611/sigouts/1/range 10\n", "\n");
    test::ask(*probe_, "/dev1611/sigouts/1/waveforms/0 1\n", "\n");
    EXPECT_EQ(read("/dev1611/sigouts/1/range"), "/DEV1611/SIGOUTS/1/RANGE: 10.00\r\n");
    EXPECT_EQ(read("/dev1611/sigouts/1/waveforms/0"), "/DEV1611/SIGOUTS/1/WAVEFORMS/0: 1\r\n");

    instrument->unplug();
    EXPECT_TRUE(trees_->waitFor(removeLine(1611), 10s)) << trees_->received();
}

}  // namespace
}  // namespace tarnix
