// Feature discovery end to end: qvServer builds an lq3sim instrument's tree
// from its feature list, announces it once complete, rebuilds on a pushed list
// and survives a bad one.
#include "DeviceE2ESupport.h"

#include "FeatureListImage.h"
#include "platform/endian/ByteOrder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace tarnix {
namespace {

using namespace std::chrono_literals;
using test::addLine;
using test::removeLine;

const char* const kFullListing =
    "CLOCKBASE\nSYSTEM\nFEATURES\nSTATUS\nSTATS\nDEMODS\nOSCS\nMODS\nPLLS\nPIDS\nSIGINS\nSIGOUTS\nSCOPES\nDIOS\n"
    "AUXINS\nAUXOUTS\nCPUS\nKCTRLS\n";

std::string changeLine(uint32_t serial) { return "/QV/TREES: change DEV" + std::to_string(serial) + "\r\n"; }

// lq3sim started here, so that the test can signal it (SIGUSR1 pushes its list).
class SignalledSimulator {
public:
    SignalledSimulator(const std::string& instrumentDir, const std::string& outputFile, uint32_t serial,
                       const std::vector<std::string>& options) {
        std::vector<std::string> arguments{test::buildDirectory() + "/sim/lq3sim", "--dir", instrumentDir, "--serial",
                                           std::to_string(serial)};
        arguments.insert(arguments.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& a : arguments) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        const std::string socket = instrumentDir + "/lq3-" + std::to_string(serial) + ".sock";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        plugged_ = pid_ > 0 && test::waitUntil([&] { return ::access(socket.c_str(), F_OK) == 0; }, 10s);
    }
    ~SignalledSimulator() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    bool plugged() const { return plugged_; }
    void signal(int number) const { ::kill(pid_, number); }

private:
    pid_t pid_ = -1;
    bool plugged_ = false;
};

class FeaturesEndToEnd : public test::DeviceServerFixture {
protected:
    // Writes feature records into a file of the server's work directory.
    std::string listFile(const std::string& name, const std::vector<uint8_t>& records) {
        const std::string path = server_->workDirectory() + "/" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(records.data()), records.size());
        return path;
    }
    std::string read(const std::string& path) { return test::ask(*probe_, path + " ?\n", "\n"); }
};

TEST_F(FeaturesEndToEnd, TheTreeIsBuiltFromTheListAndAnnouncedComplete) {
    auto instrument = plug(1234, {"--options-mask", "0x69"});
    ASSERT_TRUE(trees_->waitFor(addLine(1234), 15s)) << trees_->received() << output();
    // Announced only once every value it asked for has arrived.
    EXPECT_EQ(read("/dev1234/features/options"), "/DEV1234/FEATURES/OPTIONS: MDL\nRTC\nXDM\n");
    EXPECT_EQ(read("/dev1234/features/devtype"), "/DEV1234/FEATURES/DEVTYPE: LQ3LI\n");
    EXPECT_EQ(read("/dev1234/features/serial"), "/DEV1234/FEATURES/SERIAL: 1234\n");
    EXPECT_EQ(test::ask(*probe_, "ls /dev1234\n", "KCTRLS\n"), kFullListing) << "RAW stays hidden";
    EXPECT_EQ(test::occurrences(trees_->received(), "DEV1234"), 1u);
    instrument->unplug();
    EXPECT_TRUE(trees_->waitFor(removeLine(1234), 10s)) << trees_->received();
}

TEST_F(FeaturesEndToEnd, APushedListRebuildsAndReportsAChange) {
    // The same instrument with one more KCtrl port reported.
    std::vector<uint8_t> changed = sim::defaultFeatureRecords();
    const std::string marker = "KCTRLS  ";
    const auto at = std::search(changed.begin(), changed.end(), marker.begin(), marker.end());
    ASSERT_NE(at, changed.end());
    le::put32(&*(at + 8 + 12), 3);  // the block's instance count
    SignalledSimulator instrument(server_->instrumentDirectory(), server_->workDirectory() + "/lq3sim-1240.out", 1240,
                                  {"--push-list", listFile("push.bin", changed)});
    ASSERT_TRUE(instrument.plugged());
    ASSERT_TRUE(trees_->waitFor(addLine(1240), 15s)) << trees_->received();
    trees_->clear();
    instrument.signal(SIGUSR1);
    ASSERT_TRUE(trees_->waitFor(changeLine(1240), 10s)) << trees_->received() << outputOfTest();
    EXPECT_EQ(trees_->received(), changeLine(1240));
    EXPECT_EQ(test::ask(*probe_, "ls /dev1240\n", "KCTRLS\n"), kFullListing);
}

TEST_F(FeaturesEndToEnd, ABadListLeavesTheServerServingTheOthers) {
    // A DEMODS record with three blocks fails its group's check every time the
    // list is read; a record length below the header spoils the list itself.
    sim::FeatureListWriter badGroup;
    badGroup.record(sim::FEATURE_SYSTEM, "SYSTEM", {{sim::layout::kSystem, 0, 0x10, 1}})
        .record(sim::FEATURE_DEMODS, "DEMODS",
                {{0x01002000, 0, 0x40, 6}, {0x01002400, 0, 0x40, 12}, {0x01002800, 0, 4, 1}});
    std::vector<uint8_t> shortRecord = sim::defaultFeatureRecords();
    const std::vector<uint8_t> broken = {7, 0, 1, 0, 8, 0, 0, 0, 'B', 'A', 'D', 'L', 'E', 'N', ' ', ' '};
    shortRecord.insert(shortRecord.end(), broken.begin(), broken.end());

    auto good = plug(1301);
    auto failingGroup = plug(1302, {"--feature-list", listFile("group.bin", badGroup.bytes())});
    auto brokenList = plug(1303, {"--feature-list", listFile("broken.bin", shortRecord)});
    ASSERT_TRUE(trees_->waitFor(addLine(1301), 15s)) << trees_->received();
    ASSERT_TRUE(waitForOutput("Length in feature header is shorter than the header: 8 < 16.", 10s)) << outputOfTest();
    ASSERT_TRUE(waitForOutput("Error in ", 10s)) << outputOfTest();
    // A few rounds of re-requests, each failing again, and still no announcement.
    EXPECT_TRUE(test::waitUntil(
        [&] {
            const std::string out = outputOfTest();
            return test::occurrences(out, "Length in feature header is shorter than the header") >= 3 &&
                   test::occurrences(out, "Error in ") >= 3;
        },
        15s))
        << outputOfTest();
    EXPECT_EQ(test::occurrences(trees_->received(), "add"), 1u) << "bad lists are never announced";
    EXPECT_EQ(read("/dev1301/features/serial"), "/DEV1301/FEATURES/SERIAL: 1301\n");
    EXPECT_EQ(test::ask(*probe_, "ls /dev1301\n", "KCTRLS\n"), kFullListing);

    failingGroup->unplug();
    brokenList->unplug();
    trees_->clear();
    good->unplug();
    EXPECT_TRUE(trees_->waitFor(removeLine(1301), 10s)) << trees_->received();
    EXPECT_TRUE(test::waitUntil([&] { return roots() == "QV\n"; }, 10s)) << roots();
}

}  // namespace
}  // namespace tarnix
