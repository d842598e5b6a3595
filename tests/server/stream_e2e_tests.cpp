// Streaming end to end: demodulators of a simulated instrument stream at a
// set rate to binary clients of the qvServer program; a client that reads
// gets every sample, and a client that does not read loses only its own.
#include "BinaryTestSupport.h"
#include "DeviceE2ESupport.h"
#include "groups/DemodsRate.h"
#include "support/Sanitizers.h"
#include "support/StreamClient.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <set>
#include <thread>

namespace tarnix {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kSerial = 3101;

// A binary client that subscribes and then never reads.
std::unique_ptr<test::TestClient> idleSubscriber(uint16_t port, const std::string& path) {
    auto client = test::greetedClient(port);
    EXPECT_TRUE(client->send("proto bin\n"));
    // The hello ends with the server's revision, 17045.
    EXPECT_TRUE(client->waitFor("\x95\x42")) << "no binary hello";
    const test::Bytes subscribe = test::message(wire::MSG_SUBSCRIBE, 1, test::pathBody(path));
    EXPECT_TRUE(client->send(std::string(subscribe.begin(), subscribe.end())));
    return client;
}

// The sessions that the server's output says it dropped stream messages of.
std::set<std::string> sessionsWithDrops(const std::string& output) {
    const std::string tail = " stream messages dropped; the client does not read them fast enough.";
    const std::string head = "Session ";
    std::set<std::string> sessions;
    for (std::size_t at = output.find(tail); at != std::string::npos; at = output.find(tail, at + 1)) {
        const std::size_t from = output.rfind(head, at);
        const std::size_t colon = from == std::string::npos ? std::string::npos : output.find(':', from);
        if (colon != std::string::npos && colon < at) sessions.insert(output.substr(from, colon - from));
    }
    return sessions;
}

class StreamEndToEnd : public test::DeviceServerFixture {};

TEST_F(StreamEndToEnd, AReadingClientGetsEverySampleWhileAClientThatDoesNotReadLosesOnlyItsOwn) {
    // Fast enough that the old drain of 2 MiB every 50 ms and the whole
    // bursts dropped under the 30 % rule lost samples; slower under the
    // sanitizers.
    const uint32_t demods = test::kSanitizerBuild ? 2 : 6;
    const double rate = test::kSanitizerBuild ? 115131.6 : 921052.6;
    const uint64_t step = 114 * uint64_t(DemodDividerOfRate(rate));

    auto simulator = plug(kSerial, {"--running"});
    ASSERT_TRUE(trees_->waitFor(test::addLine(kSerial), 30s)) << trees_->received();
    const std::string demodsPath = "/dev" + std::to_string(kSerial) + "/demods/";
    for (uint32_t d = 0; d < demods; ++d)
        test::ask(*probe_, demodsPath + std::to_string(d) + "/rate " + std::to_string(rate) + "\n", "/RATE: ");

    const auto slow = idleSubscriber(server_->port(), demodsPath + "*/sample");
    test::StreamClient reader(step);
    std::string why;
    ASSERT_TRUE(reader.start(server_->port(), demodsPath + "*/sample", why)) << why;
    ASSERT_TRUE(test::waitUntil([&] { return reader.counts().received > 0; }, 20s));
    // The client that does not read falls behind by more than the server keeps.
    EXPECT_TRUE(waitForOutput("stream messages dropped; the client does not read them fast enough.", 30s))
        << outputOfTest();
    // Judged in instrument time, not wall-clock time, so that a slow host
    // cannot fail it: every demodulator goes on past the time the reader had
    // reached when the other client's messages were dropped.
    const uint64_t atDrop = reader.counts().reachedByAny;
    EXPECT_TRUE(test::waitUntil(
        [&] {
            const test::StreamClient::Counts now = reader.counts();
            return now.nodes == demods && now.reachedByAll > atDrop;
        },
        20s))
        << reader.counts().nodes << " demodulators, at " << reader.counts().reachedByAll << ", not after " << atDrop;
    reader.stop();

    const test::StreamClient::Counts counts = reader.counts();
    EXPECT_EQ(counts.unexpected, 0u);
    EXPECT_EQ(counts.broken, 0u) << counts.fault;
    EXPECT_EQ(counts.nodes, demods);
    // Every sample the instrument made from the first time the reader got
    // to the last, one step apart, reached it; unless the machine starved
    // the reader or the server of CPU, and then the server said so: it
    // dropped the reader's whole messages too, or did not read the
    // instrument in time, which lost samples itself.
    if (counts.lost != 0) {
        EXPECT_TRUE(test::waitUntil(
            [&] {
                const std::string output = outputOfTest();
                return sessionsWithDrops(output).size() >= 2 ||
                       output.find("the instrument's sample FIFO overflowed") != std::string::npos;
            },
            10s))
            << counts.lost << " of " << counts.made << " samples lost on the way to the reader, and not said\n"
            << outputOfTest();
    }
    EXPECT_GT(counts.received, uint64_t(demods)) << "no more than a sample of each demodulator";

    for (uint32_t d = 0; d < demods; ++d)
        test::ask(*probe_, demodsPath + std::to_string(d) + "/rate 0\n", "/RATE: ");
}

// A text client subscribed to the demod-data-lost flag of instrument `serial`.
std::unique_ptr<test::TestClient> lossFlagSubscriber(uint16_t port, uint32_t serial) {
    auto client = test::greetedClient(port);
    EXPECT_EQ(test::ask(*client, "subs /dev" + std::to_string(serial) + "/status/flags/demodsampleloss\npwd\n", "\n"),
              "\n");
    client->clear();
    return client;
}

std::string lossFlagLine(uint32_t serial, int value) {
    return "/DEV" + std::to_string(serial) + "/STATUS/FLAGS/DEMODSAMPLELOSS: " + std::to_string(value) + "\r\n";
}

std::string overflowLine(uint32_t serial) {
    return "DEV" + std::to_string(serial) +
           ": the instrument's sample FIFO overflowed (the host did not read fast enough); "
           "samples lost since the last report: ";
}

TEST_F(StreamEndToEnd, SamplesTheInstrumentLostWhileTheHostStoodStillAreLoggedAndFlagged) {
    constexpr uint32_t serial = kSerial + 1;
    // The instrument keeps 524288 samples of a demodulator: at this rate, for
    // 0.57 s. The server stands still for longer.
    const double rate = 921052.6;
    const uint64_t step = 114 * uint64_t(DemodDividerOfRate(rate));
    auto simulator = plug(serial, {"--running"});
    ASSERT_TRUE(trees_->waitFor(test::addLine(serial), 30s)) << trees_->received();
    const auto flag = lossFlagSubscriber(server_->port(), serial);
    const std::string demodPath = "/dev" + std::to_string(serial) + "/demods/1/";
    test::ask(*probe_, demodPath + "rate " + std::to_string(rate) + "\n", "/RATE: ");
    {
        test::StreamClient reader(step);
        std::string why;
        ASSERT_TRUE(reader.start(server_->port(), demodPath + "sample", why)) << why;
        ASSERT_TRUE(test::waitUntil([&] { return reader.counts().received > 0; }, 20s));
    }

    ASSERT_EQ(::kill(server_->pid(), SIGSTOP), 0);
    std::this_thread::sleep_for(1500ms);  // the host not reading: the cause, not a wait
    ASSERT_EQ(::kill(server_->pid(), SIGCONT), 0);
    const auto start = std::chrono::steady_clock::now();
    // The subscriber hears of the loss, and the log counts it.
    EXPECT_TRUE(flag->waitFor(lossFlagLine(serial, 1), 3s)) << flag->received();
    const std::string line = overflowLine(serial);
    EXPECT_TRUE(waitForOutput(line, 20s)) << outputOfTest();
    EXPECT_TRUE(waitForOutput(" of DEMODS/1.", 1s)) << outputOfTest();
    // Once no loss follows (a slow host, under the sanitizers, goes on
    // losing at this rate), the flag is pushed clear again.
    test::ask(*probe_, demodPath + "rate 0\n", "/RATE: ");
    EXPECT_TRUE(test::waitUntil(
        [&] {
            flag->waitFor(lossFlagLine(serial, 0) + "\x01", 20ms);  // takes in what arrived meanwhile
            const std::string pushed = flag->received();
            const std::size_t on = pushed.find(lossFlagLine(serial, 1));
            return on != std::string::npos && pushed.find(lossFlagLine(serial, 0), on) != std::string::npos;
        },
        10s))
        << flag->received();
    // At most one line a second; the first one after the pause comes at once.
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LE(double(test::occurrences(outputOfTest(), line)), seconds + 1) << outputOfTest();
}

TEST_F(StreamEndToEnd, ADemodulatorSwitchedOffAndOnAgainLosesNothing) {
    constexpr uint32_t serial = kSerial + 2;
    const double rate = 230263.2;
    const uint64_t step = 114 * uint64_t(DemodDividerOfRate(rate));
    auto simulator = plug(serial, {"--running"});
    ASSERT_TRUE(trees_->waitFor(test::addLine(serial), 30s)) << trees_->received();
    const auto flag = lossFlagSubscriber(server_->port(), serial);
    const std::string demodPath = "/dev" + std::to_string(serial) + "/demods/0/";
    test::ask(*probe_, demodPath + "rate " + std::to_string(rate) + "\n", "/RATE: ");
    test::StreamClient reader(step);
    std::string why;
    ASSERT_TRUE(reader.start(server_->port(), demodPath + "sample", why)) << why;
    ASSERT_TRUE(test::waitUntil([&] { return reader.counts().received > 0; }, 20s));

    test::ask(*probe_, demodPath + "rate 0\n", "/RATE: ");
    const auto off = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(3s);  // the demodulator off: the cause, not a wait
    test::ask(*probe_, demodPath + "rate " + std::to_string(rate) + "\n", "/RATE: ");
    const double offSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - off).count();
    // On again: the reader gets a second of samples after the pause.
    const uint64_t before = reader.counts().received;
    ASSERT_TRUE(test::waitUntil([&] { return reader.counts().received > before + uint64_t(rate); }, 20s));
    // A few status blocks later the server has judged every gap.
    const std::string beat = "/STATUS/TIME: ";
    ASSERT_TRUE(flag->send("subs /dev" + std::to_string(serial) + "/status/time\n"));
    ASSERT_TRUE(flag->waitFor(beat)) << flag->received();
    const std::size_t beats = test::occurrences(flag->received(), beat);
    EXPECT_TRUE(test::waitUntil(
        [&] {
            flag->waitFor(beat + "\x01", 20ms);  // takes in what arrived meanwhile
            return test::occurrences(flag->received(), beat) >= beats + 3;
        },
        5s));
    reader.stop();
    test::ask(*probe_, demodPath + "rate 0\n", "/RATE: ");

    const test::StreamClient::Counts counts = reader.counts();
    EXPECT_EQ(counts.broken, 0u) << counts.fault;
    // The one gap the reader sees is the time the demodulator was off.
    EXPECT_GT(counts.lost, uint64_t(2.5 * rate));
    EXPECT_LT(counts.lost, uint64_t((offSeconds + 0.25) * rate)) << "off for " << offSeconds << " s";
    EXPECT_EQ(outputOfTest().find(overflowLine(serial)), std::string::npos) << outputOfTest();
    EXPECT_EQ(flag->received().find(lossFlagLine(serial, 1)), std::string::npos) << flag->received();
}

// The server's socket number for the connection of `client` (the number its
// log gives the session), found through the server's /proc entries; -1 when
// not found.
int serverSocketOf(pid_t server, uint16_t serverPort, const test::TestClient& client) {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (::getsockname(client.fd(), reinterpret_cast<sockaddr*>(&local), &size) != 0) return -1;
    const unsigned port = ntohs(local.sin_port);
    const auto portOf = [](const std::string& address) {
        const std::size_t colon = address.find(':');
        return colon == std::string::npos ? 0ul : std::stoul(address.substr(colon + 1), nullptr, 16);
    };
    // The server's end has the server's port as its local one and the
    // client's as its remote one (the table holds every connection of the
    // machine: another's may have the client's port at its other end).
    std::ifstream table("/proc/" + std::to_string(server) + "/net/tcp");
    std::string inode;
    for (std::string line; std::getline(table, line) && inode.empty();) {
        std::istringstream fields(line);
        std::string slot, localAddress, remoteAddress, state, queues, timer, retransmits, uid, timeout, node;
        fields >> slot >> localAddress >> remoteAddress >> state >> queues >> timer >> retransmits >> uid >> timeout >>
            node;
        if (portOf(localAddress) == serverPort && portOf(remoteAddress) == port) inode = node;
    }
    if (inode.empty()) return -1;
    const std::string fds = "/proc/" + std::to_string(server) + "/fd/";
    const std::string target = "socket:[" + inode + "]";
    for (int fd = 0; fd < 4096; ++fd) {
        char link[64] = {};
        const ssize_t n = ::readlink((fds + std::to_string(fd)).c_str(), link, sizeof link - 1);
        if (n > 0 && target == link) return fd;
    }
    return -1;
}

TEST_F(StreamEndToEnd, ASessionThatLeavesAProtocolIsNotToldSlowForItsStreams) {
    constexpr uint32_t serial = kSerial + 3;
    // As text, the two streams go round the text feed in about a fifth of a
    // second; slower under the sanitizers.
    const double rate = test::kSanitizerBuild ? 115131.6 : 921052.6;
    const uint64_t step = 114 * uint64_t(DemodDividerOfRate(rate));
    auto simulator = plug(serial, {"--running"});
    ASSERT_TRUE(trees_->waitFor(test::addLine(serial), 30s)) << trees_->received();
    const std::string demodsPath = "/dev" + std::to_string(serial) + "/demods/";
    for (uint32_t d = 0; d < 2; ++d)
        test::ask(*probe_, demodsPath + std::to_string(d) + "/rate " + std::to_string(rate) + "\n", "/RATE: ");
    // A text reader keeps the text feed going.
    test::StreamClient reader(step, test::StreamClient::Protocol::text);
    std::string why;
    ASSERT_TRUE(reader.start(server_->port(), demodsPath + "*/sample", why)) << why;

    auto leaving = test::greetedClient(server_->port());
    ASSERT_TRUE(leaving->send("subs " + demodsPath + "*/sample\n"));
    ASSERT_TRUE(leaving->waitFor("/SAMPLE", 20s));
    // The client stops reading, so that the server is in the middle of a
    // line to it, and then leaves the streams and the text protocol (before
    // the other reader goes round the feed). It never reads again.
    std::this_thread::sleep_for(100ms);  // not reading fills the connection: the cause, not a wait
    const std::size_t switched = outputOfTest().size();
    ASSERT_TRUE(leaving->send("unsubs " + demodsPath + "*/sample\nproto bin\n"));
    // Two seconds of the instrument's time pass.
    const uint64_t from = reader.counts().reachedByAll;
    EXPECT_TRUE(test::waitUntil([&] { return reader.counts().reachedByAll > from + 2 * 210000000ull; }, 30s));
    const int session = serverSocketOf(server_->pid(), server_->port(), *leaving);
    const test::StreamClient::Counts counts = reader.counts();
    reader.stop();
    for (uint32_t d = 0; d < 2; ++d)
        test::ask(*probe_, demodsPath + std::to_string(d) + "/rate 0\n", "/RATE: ");
    EXPECT_EQ(counts.broken, 0u) << counts.fault;
    ASSERT_GE(session, 0) << "the server's end of the connection not found";
    const std::string warned = "Session " + std::to_string(session) + ": ";
    const std::string after = outputOfTest().substr(switched);
    for (std::size_t at = after.find(warned); at != std::string::npos; at = after.find(warned, at + 1)) {
        const std::string line = after.substr(at, after.find('\n', at) - at);
        EXPECT_EQ(line.find("stream messages dropped"), std::string::npos) << line;
    }
}

}  // namespace
}  // namespace tarnix
