// The family end to end: qvServer with an lq3sim instrument, whose scope sends
// waves while its trigger is not off and whose status block comes with the
// heartbeat.
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
    EXPECT_EQ(read("/dev1600/sigouts/1/range"), "/DEV1600/SIGOUTS/1/RANGE: 0.01\r\n");

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

}  // namespace
}  // namespace tarnix
