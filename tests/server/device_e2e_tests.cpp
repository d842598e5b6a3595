// Instruments coming and going, end to end: the qvServer program with lq3sim
// processes, seen by text clients and through the client library.
#include "BinaryTestSupport.h"
#include "DeviceE2ESupport.h"
#include "support/Sanitizers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace tarnix {
namespace {

using namespace std::chrono_literals;
using test::addLine;
using test::removeLine;

constexpr const char* kWrongDigest = "000102030405060708090a0b0c0d0e0f";

class DeviceEndToEnd : public test::DeviceServerFixture {};

// Ways for an instrument's entry to leave the instrument folder while its
// simulator runs on.
void removeSocket(const std::string&, const std::string& socket) { ::unlink(socket.c_str()); }
void deleteAndRemakeFolder(const std::string& folder, const std::string&) {
    std::vector<std::string> entries;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
                entries.push_back(folder + "/" + entry->d_name);
        ::closedir(dir);
    }
    for (const std::string& entry : entries) ::unlink(entry.c_str());
    EXPECT_EQ(::rmdir(folder.c_str()), 0);
    EXPECT_EQ(::mkdir(folder.c_str(), 0700), 0);
}

struct EntryLoss {
    const char* name;
    void (*remove)(const std::string& folder, const std::string& socket);
    uint32_t serial;
};

const EntryLoss kEntryLosses[] = {
    {"socket removed", removeSocket, 91},
    {"folder deleted and made again", deleteAndRemakeFolder, 92},
};

// Lists `/` (and the session's directory, an empty line, to know the list
// is whole) until it shows the device; false when it does not within `limit`.
bool pollUntilListed(test::TestClient& client, uint32_t serial, std::chrono::milliseconds limit) {
    const std::string name = "\nDEV" + std::to_string(serial) + "\n";
    for (const auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
        client.clear();
        if (!client.send("ls /\npwd\n") || !client.waitFor("\n\n", 5s)) return false;
        if (client.received().find(name) != std::string::npos) return true;
    }
    return false;
}

TEST_F(DeviceEndToEnd, PluggingInShowsTheTreeUnpluggingRemovesItAndReplugBringsItBack) {
    auto instrument = plug(1234);
    ASSERT_TRUE(trees_->waitFor(addLine(1234), 15s)) << trees_->received();
    EXPECT_EQ(trees_->received(), addLine(1234));
    EXPECT_TRUE(listed(1234));

    trees_->clear();
    instrument->unplug();
    ASSERT_TRUE(trees_->waitFor(removeLine(1234), 10s)) << trees_->received();
    EXPECT_EQ(roots(), "QV\n");

    trees_->clear();
    instrument = plug(1234);
    EXPECT_TRUE(trees_->waitFor(addLine(1234), 15s)) << trees_->received();
    EXPECT_TRUE(listed(1234));
    instrument->unplug();
    EXPECT_TRUE(trees_->waitFor(removeLine(1234), 10s)) << trees_->received();
}

TEST_F(DeviceEndToEnd, TwoSimulatorsGiveExactlyTwoDevices) {
    auto first = plug(11);
    auto second = plug(12);
    ASSERT_TRUE(trees_->waitFor(addLine(11), 15s)) << trees_->received();
    ASSERT_TRUE(trees_->waitFor(addLine(12), 15s)) << trees_->received();
    EXPECT_EQ(roots(), "QV\nDEV11\nDEV12\n");
    EXPECT_EQ(test::occurrences(trees_->received(), "add"), 2u);
    first->unplug();
    second->unplug();
    EXPECT_TRUE(trees_->waitFor(removeLine(11), 10s)) << trees_->received();
    EXPECT_TRUE(trees_->waitFor(removeLine(12), 10s)) << trees_->received();
}

TEST_F(DeviceEndToEnd, UpdateRequestsFindANewInstrumentAtOnce) {
    // An instrument is listed once announced: with its design running that
    // takes a few hundred milliseconds after it was found.
    const auto soon = test::kSanitizerBuild ? 2400ms : 1000ms;
    // Right after the server's own once-a-second update.
    auto before = plug(20, {"--running"});
    ASSERT_TRUE(trees_->waitFor(addLine(20), 5s)) << trees_->received();

    auto textFound = plug(21, {"--running"});
    probe_->clear();
    ASSERT_TRUE(probe_->send("update\n"));
    EXPECT_TRUE(trees_->waitFor(addLine(21), soon)) << "text update";
    EXPECT_TRUE(listed(21));

    // The binary request (type 17) is answered once the update has run.
    auto binary = test::greetedClient(server_->port());
    ASSERT_TRUE(binary->send("proto bin\n"));
    ASSERT_TRUE(binary->waitFor(std::string(1, '\x95') + "\x42")) << test::hex(binary->received());
    binary->clear();
    auto binaryFound = plug(22, {"--running"});
    const test::Bytes request = test::message(wire::MSG_UPDATE_DEVICES, 7, {});
    ASSERT_TRUE(binary->send(std::string(request.begin(), request.end())));
    ASSERT_TRUE(test::waitUntil(
        [&] {
            binary->waitFor("\x01 nothing more", 10ms);
            return binary->received().size() >= wire::kHeaderSize;
        },
        5s));
    const wire::BinaryMessageHeader reply =
        wire::decodeHeader(reinterpret_cast<const uint8_t*>(binary->received().data()));
    EXPECT_EQ(reply.type, wire::MSG_UPDATE_DEVICES_REPLY);
    EXPECT_EQ(reply.sequenceId, 7);
    EXPECT_TRUE(trees_->waitFor(addLine(22), soon)) << "binary update";
    EXPECT_TRUE(listed(22));
}

TEST_F(DeviceEndToEnd, APluggedInstrumentIsAnnouncedWellWithinTwoSecondsWithoutBeingAskedFor) {
    // Seen in its folder at once and set up without waiting out read phases;
    // a scan once a second and a 200 ms wait per discovery step took 2 s.
    // Under a sanitizer the feature list is parsed and built at a fraction of the speed.
    const double limit = test::kSanitizerBuild ? 2.4 : 1.2;
    for (uint32_t serial : {70u, 71u}) {
        const auto start = std::chrono::steady_clock::now();
        auto instrument = plug(serial, {"--running"});
        ASSERT_TRUE(trees_->waitFor(addLine(serial), 10s)) << trees_->received();
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), limit) << serial;
        instrument->unplug();
        EXPECT_TRUE(trees_->waitFor(removeLine(serial), 10s)) << trees_->received();
    }
}

TEST_F(DeviceEndToEnd, ASilentInstrumentIsDeclaredDeadAfterAboutElevenSeconds) {
    // Never announced, so never listed: its device object starts when the
    // serial number is read.
    auto silent = plug(31, {"--silent"});
    ASSERT_TRUE(waitForOutput("Got QVSerial: 31\n", 5s)) << outputOfTest();
    const auto appeared = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitForOutput("Warning: Clearing bulk pipes ... (51)", 25s)) << outputOfTest();
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - appeared).count();
    EXPECT_GT(seconds, 10.0);
    EXPECT_LT(seconds, 16.0);
    const std::string log = outputOfTest();
    EXPECT_EQ(test::occurrences(log.substr(0, log.find("Clearing bulk pipes")),
                                "Warning: Incrementing aliveCounter_i ..."),
              51u);
    EXPECT_TRUE(waitForOutput("Device does no more receive write data.", 5s));
    silent->unplug();
}

TEST_F(DeviceEndToEnd, AStalledOutPipeEndsTheDeviceAfterTheWriteTimeOut) {
    // The running design answers the start step's probe; the next write stalls.
    auto stalled = plug(41, {"--running", "--stall-out=1"});
    ASSERT_TRUE(waitForOutput("Got QVSerial: 41\n", 5s)) << outputOfTest();
    const auto appeared = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitForOutput("Warning: Clearing bulk pipes ...\n", 10s)) << outputOfTest();
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - appeared).count();
    EXPECT_GT(seconds, 1.8);
    EXPECT_LT(seconds, 5.0);
    EXPECT_TRUE(waitForOutput("Device does no more receive write data.", 5s));
    stalled->unplug();
    EXPECT_TRUE(test::waitUntil([&] { return !listed(41); }, 10s));
}

TEST_F(DeviceEndToEnd, AMessageAtTheInvalidAddressRestartsDiscovery) {
    auto instrument = plug(51, {"--invalid-address"});
    ASSERT_TRUE(waitForOutput("Got invalid address 0x14000000.", 10s)) << outputOfTest();
    EXPECT_TRUE(waitForOutput("Resetting FX2 controller.", 1s));
    EXPECT_TRUE(trees_->waitFor(addLine(51), 15s)) << trees_->received();
    instrument->unplug();
    EXPECT_TRUE(trees_->waitFor(removeLine(51), 10s)) << trees_->received();
}

TEST_F(DeviceEndToEnd, AnInstrumentStreamingToTheInvalidAddressLogsUnderAMegabyteAMinute) {
    auto instrument = plug(52, {"--stream-address", "0x14000000", "--stream-bytes", "4096", "--stream-count", "0"});
    ASSERT_TRUE(waitForOutput("Got invalid address 0x14000000.", 10s)) << outputOfTest();
    const double before = double(outputOfTest().size());
    const auto start = std::chrono::steady_clock::now();
    // Thousands of invalid messages a second arrive; each second of them ends
    // in one suppression line for each of the two lines they log.
    EXPECT_TRUE(test::waitUntil(
        [&] { return test::occurrences(outputOfTest(), "Suppressed ") >= 6; }, 15s))
        << outputOfTest();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string log = outputOfTest();
    EXPECT_LT((double(log.size()) - before) * 60.0 / seconds, 1e6);
    EXPECT_NE(log.find("Suppressed "), std::string::npos);
    EXPECT_NE(log.find("Resetting FX2 controller."), std::string::npos);
    instrument->unplug();
}

TEST_F(DeviceEndToEnd, AnFpgaWithoutDesignIsProgrammedAndARunningDesignIsKept) {
    auto running = plug(61, {"--running"});
    ASSERT_TRUE(trees_->waitFor(addLine(61), 15s)) << trees_->received();
    EXPECT_EQ(outputOfTest().find("Program bitstream."), std::string::npos);
    running->unplug();
    ASSERT_TRUE(trees_->waitFor(removeLine(61), 10s)) << trees_->received();

    auto blank = plug(62);
    ASSERT_TRUE(trees_->waitFor(addLine(62), 15s)) << trees_->received();
    const std::string log = outputOfTest();
    EXPECT_NE(log.find("Program bitstream."), std::string::npos) << log;
    EXPECT_NE(log.find("EncFX2Configure done with PIC flags 0x88"), std::string::npos) << log;
    blank->unplug();
    EXPECT_TRUE(trees_->waitFor(removeLine(62), 10s)) << trees_->received();
}

TEST_F(DeviceEndToEnd, AStaleDesignIsReplacedOnceItsHashHasBeenChecked) {
    auto instrument = plug(71, {"--running", "--design-digest", kWrongDigest});
    ASSERT_TRUE(waitForOutput("There is an old bitstream running!", 15s)) << outputOfTest();
    EXPECT_TRUE(waitForOutput("Program bitstream.", 10s)) << outputOfTest();
    // The device made again with programming forced runs the embedded design.
    EXPECT_TRUE(trees_->waitFor(addLine(71), 15s)) << trees_->received();
    const std::string log = outputOfTest();
    // On a busy machine the first look for a running design may time out and
    // program at once; the design that stays is programmed after the check,
    // by the device made again. The check's failure is logged by another
    // thread, so its line may come after that device's first lines.
    EXPECT_GE(test::occurrences(log, "Got QVSerial: 71"), 2u) << log;
    EXPECT_LT(log.rfind("Got QVSerial: 71"), log.rfind("Program bitstream.")) << log;
    EXPECT_EQ(test::occurrences(log, "There is an old bitstream running!"), 1u) << log;
    instrument->unplug();
    EXPECT_TRUE(trees_->waitFor(removeLine(71), 10s)) << trees_->received();
}

TEST_F(DeviceEndToEnd, SubscribedSessionsClosingWhileSamplesStreamLeaveTheServerServing) {
    // Sessions leave the dispatcher's lists while it is delivering to them.
    auto instrument = plug(82, {"--running", "--aux-dio-hz", "1000"});
    ASSERT_TRUE(trees_->waitFor(addLine(82), 15s)) << trees_->received();
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        std::vector<std::unique_ptr<test::TestClient>> subscribers;
        for (int i = 0; i < 4; ++i) {
            subscribers.push_back(test::greetedClient(server_->port()));
            ASSERT_TRUE(subscribers.back()->send("subs /dev82/auxins/0/sample\nsubs /dev82/dios/0/input\n"));
        }
        for (auto& subscriber : subscribers)
            ASSERT_TRUE(subscriber->waitFor("/DEV82/AUXINS/0/SAMPLE", 5s)) << subscriber->received();
        // Gone without a word: the connections close while samples are on their way.
    }
    EXPECT_EQ(roots(), "QV\nDEV82\n");
    instrument->unplug();
    EXPECT_TRUE(trees_->waitFor(removeLine(82), 10s)) << trees_->received();
}

TEST_F(DeviceEndToEnd, KillingAnInstrumentInTheMiddleOfATransferEndsOnlyItsDevice) {
    auto other = plug(80);
    auto streaming = plug(81, {"--running", "--stream-address", "15728640", "--stream-bytes", "4096",
                               "--stream-count", "0"});
    ASSERT_TRUE(trees_->waitFor(addLine(80), 15s)) << trees_->received();
    ASSERT_TRUE(trees_->waitFor(addLine(81), 15s)) << trees_->received();
    // One session sees the removal and the data in the order the server sent them.
    auto subscriber = test::greetedClient(server_->port());
    ASSERT_TRUE(subscriber->send("subs /dev81/stats/bytesreceived\nsubs /qv/trees\n"));
    ASSERT_TRUE(subscriber->waitFor("/DEV81/STATS/BYTESRECEIVED", 5s)) << subscriber->received();

    streaming->kill();
    ASSERT_TRUE(subscriber->waitFor(removeLine(81), 10s)) << subscriber->received();
    EXPECT_EQ(roots(), "QV\nDEV80\n");
    EXPECT_EQ(trees_->received().find(removeLine(80)), std::string::npos);
    other->unplug();
    EXPECT_TRUE(trees_->waitFor(removeLine(80), 10s)) << trees_->received();
    // The later removal comes the same way as the data did: data of the
    // removed tree, had it come after its removal, would be ahead of it.
    EXPECT_TRUE(subscriber->waitFor(removeLine(80), 10s)) << subscriber->received();
    const std::string received = subscriber->received();
    EXPECT_EQ(received.find("DEV81", received.find(removeLine(81)) + removeLine(81).size()), std::string::npos)
        << "data of a removed tree: " << received;
}

// Connects to a Unix socket without waiting; -1 when it is not taken at once.
int connectAtOnce(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
    if (fd >= 0) ::close(fd);
    return -1;
}

TEST_F(DeviceEndToEnd, AHungInstrumentIsDroppedAndKeepsNoOtherFromBeingFound) {
    auto hung = plug(60);
    ASSERT_TRUE(trees_->waitFor(addLine(60), 15s)) << trees_->received();
    ASSERT_TRUE(hung->pause());
    // Fill its accept queue at once, as the server's own probes would within
    // some seconds: from then on a blocking connect to it never returns.
    std::vector<int> queued;
    for (int fd; queued.size() < 256 && (fd = connectAtOnce(hung->socketPath())) >= 0;) queued.push_back(fd);
    EXPECT_LT(queued.size(), 256u) << "the accept queue did not fill";

    // It stops answering its device loop: dropped like a pulled cable.
    EXPECT_TRUE(trees_->waitFor(removeLine(60), 10s)) << trees_->received();
    auto good = plug(61);
    EXPECT_TRUE(trees_->waitFor(addLine(61), 10s)) << trees_->received();
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(ask(*probe_, "update\nls /\n", "QV\n"), "QV\nDEV61\n");
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count(), 2.0);

    for (int fd : queued) ::close(fd);
    hung->unplug();
    good->unplug();
    EXPECT_TRUE(trees_->waitFor(removeLine(61), 10s)) << trees_->received();
}

TEST_F(DeviceEndToEnd, AnInstrumentThatCannotBeOpenedDoesNotKeepAnotherFromStarting) {
    // Path order puts the failing one first.
    auto failing = plug(90, {"--old-driver"});
    auto good = plug(91);
    ASSERT_TRUE(trees_->waitFor(addLine(91), 15s)) << trees_->received();
    EXPECT_EQ(roots(), "QV\nDEV91\n");
    EXPECT_NE(outputOfTest().find("Illegal hardware driver version 7436."), std::string::npos);
    good->unplug();
    EXPECT_TRUE(trees_->waitFor(removeLine(91), 10s)) << trees_->received();
}

TEST_F(DeviceEndToEnd, AnInstrumentWhoseFolderEntryGoesIsPulledOutAndANewOneAtItsPlaceIsFound) {
    const auto soon = test::kSanitizerBuild ? 3000ms : 1500ms;
    for (const EntryLoss& loss : kEntryLosses) {
        SCOPED_TRACE(loss.name);
        const std::string serial = std::to_string(loss.serial);
        const std::string sigins = "ls /dev" + serial + "/sigins\n";
        auto old = plug(loss.serial, {"--running"});  // two signal inputs
        ASSERT_TRUE(trees_->waitFor(addLine(loss.serial), 15s)) << trees_->received();
        EXPECT_EQ(test::ask(*probe_, sigins, "1\n"), "0\n1\n");

        trees_->clear();
        const auto pulled = std::chrono::steady_clock::now();
        loss.remove(server_->instrumentDirectory(), old->socketPath());
        ASSERT_TRUE(trees_->waitFor(removeLine(loss.serial), 10s)) << trees_->received() << outputOfTest();
        EXPECT_LT(std::chrono::steady_clock::now() - pulled, soon);
        EXPECT_TRUE(waitForOutput("The device with S/N " + serial + " was pulled out: " + old->socketPath() +
                                      " is gone.",
                                  1s))
            << outputOfTest();
        EXPECT_FALSE(listed(loss.serial));

        // The old simulator still runs; another one plugged in at the same
        // place, with the same serial number, is the instrument now.
        trees_->clear();
        auto fresh = plug(loss.serial, {"--running", "--model", "single-input"});
        ASSERT_TRUE(trees_->waitFor(addLine(loss.serial), 15s)) << trees_->received() << outputOfTest();
        EXPECT_EQ(test::ask(*probe_, sigins, "0\n"), "0\n");
        fresh->unplug();
        EXPECT_TRUE(trees_->waitFor(removeLine(loss.serial), 10s)) << trees_->received();
        old->unplug();
    }
}

TEST_F(DeviceEndToEnd, AClientThatSeesAnInstrumentListedWritesToItAtOnce) {
    // Without a running design the instrument is programmed first: a long
    // start in which nothing of it may be listed before its nodes answer.
    for (uint32_t serial : {95u, 96u}) {
        SCOPED_TRACE(serial);
        trees_->clear();
        auto instrument = plug(serial);
        ASSERT_TRUE(pollUntilListed(*probe_, serial, 15s)) << probe_->received();
        const std::string node = "/DEV" + std::to_string(serial) + "/DEMODS/0/HARMONIC";
        EXPECT_EQ(test::ask(*probe_, node + " 2\n", "\n"), node + ": 2\r\n");
        // Listed and announced together.
        EXPECT_TRUE(trees_->waitFor(addLine(serial), 1s)) << trees_->received();
        instrument->unplug();
        EXPECT_TRUE(trees_->waitFor(removeLine(serial), 10s)) << trees_->received();
    }
}

}  // namespace
}  // namespace tarnix
