// The family end to end: qvServer with lq3sim instruments of the models that
// reach the groups' paths (one and two CPUs, amplifiers on the KCtrl ports or
// none), over the text protocol.
#include "server/DeviceE2ESupport.h"

#include <gtest/gtest.h>

namespace tarnix {
namespace {

using namespace std::chrono_literals;
using test::addLine;
using test::removeLine;

class SystemEndToEnd : public test::DeviceServerFixture {
protected:
    std::string read(const std::string& path) { return test::ask(*probe_, path + " ?\n", "\n"); }
    std::string set(const std::string& path, const std::string& value) {
        return test::ask(*probe_, path + " " + value + "\n", "\n");
    }
    std::string writeThenRead(const std::string& path, const std::string& value) {
        return test::writeThenRead(*probe_, path, value);
    }
};

TEST_F(SystemEndToEnd, SystemNodesAndAProgramThatPrints) {
    auto instrument = plug(1700, {"--running", "--board-word", "0x1D"});
    ASSERT_TRUE(trees_->waitFor(addLine(1700), 15s)) << trees_->received() << output();

    EXPECT_EQ(read("/dev1700/system/hwrevision"), "/DEV1700/SYSTEM/HWREVISION: 5\r\n");
    EXPECT_EQ(set("/dev1700/system/extclk", "1"), "/DEV1700/SYSTEM/EXTCLK: 1\r\n");
    EXPECT_EQ(read("/dev1700/system/extclk"), "/DEV1700/SYSTEM/EXTCLK: 1\r\n");
    EXPECT_EQ(set("/dev1700/cpus/0/userregs/63", "4294967295"), "/DEV1700/CPUS/0/USERREGS/63: 4294967295\r\n");
    // A number wider than the register is refused, not cut.
    EXPECT_EQ(writeThenRead("/dev1700/cpus/0/userregs/63", "4294967301"),
              "/DEV1700/CPUS/0/USERREGS/63: 4294967295\r\n");

    // Uploading holds the CPU, writes the image and releases it; the restarted
    // program's first line reaches the subscribers of OUTPUT.
    auto subscriber = test::greetedClient(server_->port());
    ASSERT_TRUE(test::carryOut(*subscriber, "subs /dev1700/cpus/0/output\n"));
    EXPECT_EQ(set("/dev1700/cpus/0/program", "\"0123456789\""), "/DEV1700/CPUS/0/PROGRAM: 10\r\n");
    EXPECT_TRUE(subscriber->waitFor("/DEV1700/CPUS/0/OUTPUT: user program started\n", 5s)) << subscriber->received();
    EXPECT_EQ(test::occurrences(outputOfTest(), "There is an old bitstream running!"), 0u);

    instrument->unplug();
    EXPECT_TRUE(trees_->waitFor(removeLine(1700), 10s)) << trees_->received();
}

// The single-input model carries a transimpedance amplifier on KCtrl port 0 and
// a current amplifier on port 1.
TEST_F(SystemEndToEnd, AmplifiersOnTheKCtrlPortsGetTheirNodes) {
    auto instrument = plug(1701, {"--running", "--model", "single-input"});
    ASSERT_TRUE(trees_->waitFor(addLine(1701), 15s)) << trees_->received() << output();

    EXPECT_EQ(test::ask(*probe_, "ls /dev1701/kctrls\n", "CAMP1\n"), "TAMP0\nCAMP1\n");
    EXPECT_EQ(set("/dev1701/kctrls/camp1/r", "700"), "/DEV1701/KCTRLS/CAMP1/R: 1000\r\n");
    EXPECT_EQ(read("/dev1701/kctrls/camp1/r"), "/DEV1701/KCTRLS/CAMP1/R: 1000\r\n");
    EXPECT_EQ(set("/dev1701/kctrls/tamp0/1/currentgain", "6000"), "/DEV1701/KCTRLS/TAMP0/1/CURRENTGAIN: 10000\r\n");
    EXPECT_EQ(read("/dev1701/kctrls/tamp0/0/voltagegain"), "/DEV1701/KCTRLS/TAMP0/0/VOLTAGEGAIN: 1\r\n");
    // A voltage that is not a number (0/0) is refused and keeps the setting.
    const std::string bias = set("/dev1701/kctrls/tamp0/biasout", "5");
    EXPECT_EQ(writeThenRead("/dev1701/kctrls/tamp0/biasout", "(0/0)"), bias);
    EXPECT_EQ(read("/dev1701/kctrls/tamp0/biasout"), bias);

    instrument->unplug();
    EXPECT_TRUE(trees_->waitFor(removeLine(1701), 10s)) << trees_->received();
}

// Two CPUs, each with its own status block: each reports its own workload and
// prints to its own OUTPUT.
TEST_F(SystemEndToEnd, EachOfTwoCpusReportsToItsOwnNodes) {
    auto instrument = plug(1702, {"--running", "--model", "multi-cpu"});
    ASSERT_TRUE(trees_->waitFor(addLine(1702), 15s)) << trees_->received() << output();

    EXPECT_EQ(test::ask(*probe_, "ls /dev1702/cpus\n", "1\n"), "0\n1\n");
    EXPECT_EQ(read("/dev1702/cpus/0/workload"), "/DEV1702/CPUS/0/WORKLOAD: 0.250\r\n");
    auto output0 = test::greetedClient(server_->port());
    auto output1 = test::greetedClient(server_->port());
    EXPECT_EQ(test::ask(*output0, "subs /dev1702/cpus/0/output\npwd\n", "\n"), "\n");
    EXPECT_EQ(test::ask(*output1, "subs /dev1702/cpus/1/output\npwd\n", "\n"), "\n");
    output0->clear();
    output1->clear();

    EXPECT_EQ(set("/dev1702/cpus/0/program", "\"0123\""), "/DEV1702/CPUS/0/PROGRAM: 4\r\n");
    EXPECT_TRUE(output0->waitFor("/DEV1702/CPUS/0/OUTPUT: user program started\n", 5s)) << output0->received();
    EXPECT_EQ(set("/dev1702/cpus/1/program", "\"4567\""), "/DEV1702/CPUS/1/PROGRAM: 4\r\n");
    EXPECT_TRUE(output1->waitFor("/DEV1702/CPUS/1/OUTPUT: user program started\n", 5s)) << output1->received();
    const std::string halfLoad = "/DEV1702/CPUS/1/WORKLOAD: 0.500\r\n";
    EXPECT_TRUE(test::waitUntil([&] { return read("/dev1702/cpus/1/workload") == halfLoad; }, 5s));
    EXPECT_EQ(read("/dev1702/cpus/0/workload"), "/DEV1702/CPUS/0/WORKLOAD: 0.250\r\n");
    EXPECT_EQ(test::occurrences(output0->received(), "OUTPUT"), 1u) << output0->received();
    EXPECT_EQ(test::occurrences(output1->received(), "OUTPUT"), 1u) << output1->received();

    instrument->unplug();
    EXPECT_TRUE(trees_->waitFor(removeLine(1702), 10s)) << trees_->received();
}

}  // namespace
}  // namespace tarnix
