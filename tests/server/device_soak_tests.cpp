// Soak: one simulated instrument plugged in and pulled out 50 times while
// another client keeps listing and reading. The server must stay up, every
// cycle must reach the subscribers of /QV/TREES, and the server must end in
// order (under AddressSanitizer: without a leak report). A cycle takes about
// a second, nearly all of it for the instrument's feature list to be read:
// the update requests at plug and unplug spare the waits for the server's
// once-a-second pass.
#include "DeviceE2ESupport.h"
#include "support/Sanitizers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

namespace tarnix {
namespace {

using namespace std::chrono_literals;
using test::addLine;
using test::removeLine;

constexpr int kCycles = 50;
constexpr uint32_t kSerial = 4321;

class DeviceSoak : public test::DeviceServerFixture {};

// Lists the root and reads a statistic of the instrument, over and over.
class BusyReader {
public:
    explicit BusyReader(uint16_t port) : client_(test::greetedClient(port)), thread_([this] { loop(); }) {}
    ~BusyReader() {
        stop_.store(true);
        thread_.join();
    }
    int rounds() const { return rounds_.load(); }
    bool failed() const { return failed_.load(); }

private:
    void loop() {
        while (!stop_.load()) {
            client_->clear();
            if (!client_->send("ls /\n/dev" + std::to_string(kSerial) + "/stats/bytesreceived ?\npwd\n") ||
                !client_->waitFor("QV\n", 2s)) {
                failed_.store(true);
                return;
            }
            client_->waitFor("\x01 nothing more", 20ms);
            ++rounds_;
        }
    }

    std::unique_ptr<test::TestClient> client_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> failed_{false};
    std::atomic<int> rounds_{0};
    std::thread thread_;
};

TEST_F(DeviceSoak, FiftyPlugCyclesWhileAClientKeepsListingAndReading) {
    BusyReader reader(server_->port());
    const auto start = std::chrono::steady_clock::now();
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE(cycle);
        trees_->clear();
        const std::size_t cycleMark = output().size();
        auto instrument = plug(kSerial, {"--running"});
        ASSERT_TRUE(probe_->send("update\n"));
        ASSERT_TRUE(trees_->waitFor(addLine(kSerial), 15s)) << trees_->received();
        instrument->unplug();
        // Asking for updates drops the ended device as soon as the server has let it go.
        const bool removed = test::waitUntil(
            [&] {
                probe_->send("update\n");
                return trees_->waitFor(removeLine(kSerial), 100ms);
            },
            15s);
        ASSERT_TRUE(removed)
            << trees_->received() << "\nserver output of this cycle:\n"
            << output().substr(std::min(cycleMark, output().size()));
        EXPECT_EQ(test::occurrences(trees_->received(), "/QV/TREES:"), 2u) << trees_->received();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    RecordProperty("cycle_seconds", std::to_string(seconds / kCycles));
    EXPECT_FALSE(reader.failed()) << "the reading client lost the server";
    EXPECT_GT(reader.rounds(), kCycles);
    EXPECT_EQ(roots(), "QV\n");
}

// VmRSS of a process in KiB.
long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
    return -1;
}

TEST_F(DeviceSoak, MemoryComesBackAfterConnectionAndPlugCycles) {
    if (test::kSanitizerBuild) GTEST_SKIP() << "a sanitizer's allocator keeps freed memory on purpose";
    const long start = residentKiB(server_->pid());
    ASSERT_GT(start, 0);
    // Each session had a 4 MiB write FIFO and each instrument 9 MiB of FIFOs
    // that the C library's pools kept: 2,000 cycles left some 350 MiB.
    std::vector<std::thread> clients;
    std::atomic<int> next{0}, failed{0};
    for (int c = 0; c < 4; ++c)
        clients.emplace_back([&] {
            while (next++ < 2000 && failed == 0) {
                test::TestClient client(server_->port());
                if (!client.connected() || !client.send("ls /\n") || !client.waitFor("QV\n", 5s)) ++failed;
            }
        });
    for (std::thread& c : clients) c.join();
    EXPECT_EQ(failed.load(), 0);
    for (int round = 0; round < 2; ++round) {
        std::vector<std::unique_ptr<test::Simulator>> plugged;
        for (uint32_t i = 0; i < 10; ++i) plugged.push_back(plug(5000 + i, {"--running"}));
        // The client's buffer keeps every line, so the order they come in does not matter.
        for (uint32_t i = 0; i < 10; ++i) ASSERT_TRUE(trees_->waitFor(addLine(5000 + i), 15s)) << trees_->received();
        plugged.clear();
        for (uint32_t i = 0; i < 10; ++i)
            ASSERT_TRUE(trees_->waitFor(removeLine(5000 + i), 15s)) << trees_->received();
        trees_->clear();
    }
    // The server returns freed memory in its once-a-second pass.
    long now = 0;
    EXPECT_TRUE(test::waitUntil([&] { return (now = residentKiB(server_->pid())) < start + 30 * 1024; }, 5s))
        << "resident " << now / 1024 << " MiB, at start " << start / 1024 << " MiB";
}

}  // namespace
}  // namespace tarnix
