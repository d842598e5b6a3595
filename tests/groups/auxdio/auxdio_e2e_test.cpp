// The family end to end: qvServer with lq3sim instruments whose DIO port reads
// back its own output bits and whose aux inputs report fixed levels, with two
// signal inputs and with one (the aux inputs then come right after it).
#include "server/DeviceE2ESupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace tarnix {
namespace {

using namespace std::chrono_literals;
using test::addLine;
using test::removeLine;

class AuxDioEndToEnd : public test::DeviceServerFixture, public ::testing::WithParamInterface<const char*> {
protected:
    std::string read(const std::string& path) { return test::ask(*probe_, path + " ?\n", "\n"); }
};

TEST_P(AuxDioEndToEnd, SettingsReachTheInstrumentAndItsSamplesStreamBack) {
    auto instrument = plug(1500, {"--aux-dio-hz", "200", "--model", GetParam()});
    ASSERT_TRUE(trees_->waitFor(addLine(1500), 15s)) << trees_->received() << output();

    // The start values the server asked of the instrument: its power-on settings.
    EXPECT_EQ(read("/dev1500/dios/0/drive"), "/DEV1500/DIOS/0/DRIVE: 0\r\n");
    EXPECT_EQ(read("/dev1500/auxins/0/averaging"), "/DEV1500/AUXINS/0/AVERAGING: 256\r\n");
    EXPECT_NE(read("/dev1500/auxouts/3/value").find("/DEV1500/AUXOUTS/3/VALUE: -10"), std::string::npos);

    // OUTPUT is written to the port's register; the port reads it back into
    // its input stream.
    test::ask(*probe_, "/dev1500/dios/0/output 74565\n", "\n");
    EXPECT_EQ(read("/dev1500/dios/0/output"), "/DEV1500/DIOS/0/OUTPUT: 9029\r\n");
    auto subscriber = test::greetedClient(server_->port());
    ASSERT_TRUE(subscriber->send("subs /dev1500/dios/0/input\nsubs /dev1500/auxins/0/sample\n"));
    EXPECT_TRUE(subscriber->waitFor("Val=9029\r\n", 5s)) << subscriber->received();
    EXPECT_TRUE(subscriber->waitFor("Ch0=1.0000", 5s)) << subscriber->received();
    EXPECT_NE(subscriber->received().find("Ch1=-1.0000"), std::string::npos) << subscriber->received();
    ASSERT_TRUE(subscriber->send("unsubs /dev1500\n"));

    // An aux output's offset is limited, rounded and read back as stored.
    test::ask(*probe_, "/dev1500/auxouts/1/offset 3000\n", "\n");
    EXPECT_NE(read("/dev1500/auxouts/1/offset").find("/DEV1500/AUXOUTS/1/OFFSET: 2560"), std::string::npos);

    instrument->unplug();
    EXPECT_TRUE(trees_->waitFor(removeLine(1500), 10s)) << trees_->received();
}

INSTANTIATE_TEST_SUITE_P(Models, AuxDioEndToEnd, ::testing::Values("standard", "single-input"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
}  // namespace tarnix
