// The family end to end: qvServer with lq3sim instruments, over the text protocol.
#include "server/DeviceE2ESupport.h"

#include "FeatureListImage.h"
#include "core/ByteOrder.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tarnix {
namespace {

using namespace std::chrono_literals;
using test::addLine;
using test::removeLine;

constexpr uint16_t kKCtrlCode = 14;
constexpr std::size_t kRecordHeaderBytes = 16;
constexpr std::size_t kPortTypesOffset = 16;

class SystemEndToEnd : public test::DeviceServerFixture {
protected:
    std::string read(const std::string& path) { return test::ask(*probe_, path + " ?\n", "\n"); }
    std::string set(const std::string& path, const std::string& value) {
        return test::ask(*probe_, path + " " + value + "\n", "\n");
    }
};

// The built-in list with amplifiers plugged into the KCtrl ports.
std::vector<uint8_t> recordsWithAmplifiers(uint32_t port0, uint32_t port1) {
    std::vector<uint8_t> records = sim::defaultFeatureRecords();
    for (std::size_t at = 0; at + kRecordHeaderBytes <= records.size(); at += le::get32(records.data() + at + 4)) {
        if (le::get16(records.data() + at) != kKCtrlCode) continue;
        le::put32(records.data() + at + kRecordHeaderBytes + kPortTypesOffset, port0);
        le::put32(records.data() + at + kRecordHeaderBytes + kPortTypesOffset + 4, port1);
    }
    return records;
}

TEST_F(SystemEndToEnd, SystemNodesAndAProgramThatPrints) {
    auto instrument = plug(1700, {"--running", "--board-word", "0x1D"});
    ASSERT_TRUE(trees_->waitFor(addLine(1700), 15s)) << trees_->received() << output();

    EXPECT_EQ(read("/dev1700/system/hwrevision"), "/DEV1700/SYSTEM/HWREVISION: 5\r\n");
    EXPECT_EQ(set("/dev1700/system/extclk", "1"), "/DEV1700/SYSTEM/EXTCLK: 1\r\n");
    EXPECT_EQ(read("/dev1700/system/extclk"), "/DEV1700/SYSTEM/EXTCLK: 1\r\n");
    EXPECT_EQ(set("/dev1700/cpus/0/userregs/63", "4294967301"), "/DEV1700/CPUS/0/USERREGS/63: 5\r\n");

    // Uploading holds the CPU, writes the image and releases it; the restarted
    // program's first line reaches the subscribers of OUTPUT.
    auto subscriber = test::greetedClient(server_->port());
    ASSERT_TRUE(subscriber->send("subs /dev1700/cpus/0/output\n"));
    subscriber->waitFor("\x01 nothing more", 100ms);
    EXPECT_EQ(set("/dev1700/cpus/0/program", "\"0123456789\""), "/DEV1700/CPUS/0/PROGRAM: 10\r\n");
    EXPECT_TRUE(subscriber->waitFor("/DEV1700/CPUS/0/OUTPUT: user program started\n", 5s)) << subscriber->received();
    EXPECT_EQ(test::occurrences(outputOfTest(), "There is an old bitstream running!"), 0u);

    instrument->unplug();
    EXPECT_TRUE(trees_->waitFor(removeLine(1700), 10s)) << trees_->received();
}

TEST_F(SystemEndToEnd, AmplifiersOnTheKCtrlPortsGetTheirNodes) {
    const std::string list = server_->workDirectory() + "/amplifiers.list";
    {
        const std::vector<uint8_t> records = recordsWithAmplifiers(0x81, 0x82);
        std::ofstream out(list, std::ios::binary);
        out.write(reinterpret_cast<const char*>(records.data()), std::streamsize(records.size()));
    }
    auto instrument = plug(1701, {"--running", "--feature-list", list});
    ASSERT_TRUE(trees_->waitFor(addLine(1701), 15s)) << trees_->received() << output();

    const std::string listing = test::ask(*probe_, "ls /dev1701/kctrls\n", "TAMP1");
    EXPECT_LT(listing.find("CAMP0"), listing.find("TAMP1")) << listing;
    EXPECT_EQ(set("/dev1701/kctrls/camp0/r", "700"), "/DEV1701/KCTRLS/CAMP0/R: 1000\r\n");
    EXPECT_EQ(read("/dev1701/kctrls/camp0/r"), "/DEV1701/KCTRLS/CAMP0/R: 1000\r\n");
    EXPECT_EQ(set("/dev1701/kctrls/tamp1/1/currentgain", "6000"), "/DEV1701/KCTRLS/TAMP1/1/CURRENTGAIN: 10000\r\n");
    EXPECT_EQ(read("/dev1701/kctrls/tamp1/0/voltagegain"), "/DEV1701/KCTRLS/TAMP1/0/VOLTAGEGAIN: 1\r\n");

    instrument->unplug();
    EXPECT_TRUE(trees_->waitFor(removeLine(1701), 10s)) << trees_->received();
}

}  // namespace
}  // namespace tarnix
