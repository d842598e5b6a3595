// Clients that try to exhaust the qvServer program, end to end with one
// simulated instrument: a storm of short connections at a low descriptor
// limit, the server out of descriptors, clients that announce large messages
// and send nothing more, and a burst of connections. None of them may cost
// another client its service. The server's descriptor limit is lowered from
// outside (prlimit) where a case needs it. Fewer clients under the
// sanitizers, whose threads cost more.
#include "BinaryTestSupport.h"
#include "DeviceE2ESupport.h"
#include "support/Sanitizers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <memory>
#include <thread>
#include <vector>

namespace tarnix {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kSerial = 3400;
const std::string kGet = "/dev3400/oscs/0/freq ?\n";
const std::string kAnswer = "/DEV3400/OSCS/0/FREQ: ";
// What a served get takes at most, in milliseconds (median of a client's gets).
constexpr double kServedGetMs = test::kSanitizerBuild ? 250.0 : 50.0;

const char* const kFailedAccept = "Socket can't accept";
const char* const kFolderUnreadable = "Cannot read the instrument folder";
const char* const kFolderShortage = "no file descriptor left to look at the instrument folder";

// The clients of these tests need more descriptors than many shells allow.
void raiseOwnDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

bool setDescriptorLimit(pid_t pid, rlim_t soft) {
    rlimit limit{};
    if (::prlimit(pid, RLIMIT_NOFILE, nullptr, &limit) != 0) return false;
    limit.rlim_cur = std::min(soft, limit.rlim_max);
    return ::prlimit(pid, RLIMIT_NOFILE, &limit, nullptr) == 0;
}

int openDescriptors(pid_t pid) {
    int count = 0;
    if (DIR* dir = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        ::closedir(dir);
    }
    return count;
}

// The number the process's next descriptor gets: a limit of that number
// leaves it none.
int lowestFreeDescriptor(pid_t pid) {
    std::vector<int> used;
    if (DIR* dir = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.') used.push_back(std::atoi(entry->d_name));
        ::closedir(dir);
    }
    std::sort(used.begin(), used.end());
    int free = 0;
    for (int number : used) {
        if (number != free) break;
        ++free;
    }
    return free;
}

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, 6, "VmRSS:") == 0) return std::stol(line.substr(6));
    return -1;
}

int systemBacklogLimit() {
    std::ifstream in("/proc/sys/net/core/somaxconn");
    int value = -1;
    in >> value;
    return value;
}

// A client that connected and read its greeting, or null.
std::unique_ptr<test::TestClient> greeted(uint16_t port, std::chrono::milliseconds wait) {
    auto client = std::make_unique<test::TestClient>(port);
    if (!client->connected() || !client->waitFor("\r\n", wait)) return nullptr;
    client->clear();
    return client;
}

// The median of five gets on the client, in milliseconds; a get that is not
// answered within a second counts as a second. The client thinks a moment
// before each get, as a user's program does: a session looks for the next
// request of a client that asks in a tight loop, which would hide a session
// that is not woken by its answers.
double medianGetMs(test::TestClient& client) {
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(2ms);
        client.clear();
        const auto start = Clock::now();
        const bool answered = client.send(kGet) && client.waitFor(kAnswer, 1s) && client.waitFor("\n", 1s);
        times.push_back(answered ? std::chrono::duration<double, std::milli>(Clock::now() - start).count() : 1000.0);
    }
    std::sort(times.begin(), times.end());
    return times[2];
}

class Exhaustion : public ::testing::Test {
protected:
    void SetUp() override {
        raiseOwnDescriptorLimit();
        server_ = std::make_unique<test::ServerProcess>();
        ASSERT_TRUE(server_->running()) << "qvServer did not start (QV_BUILD_DIR=" << test::buildDirectory() << ")";
        simulator_ = std::make_unique<test::Simulator>(server_->instrumentDirectory(), server_->workDirectory(),
                                                       kSerial);
        ASSERT_TRUE(simulator_->plugged());
        ASSERT_TRUE(test::waitUntil(
            [&] {
                auto client = greeted(server_->port(), 2s);
                return client && client->send(kGet) && client->waitFor(kAnswer, 500ms);
            },
            30s))
            << log();
    }

    void TearDown() override {
        if (HasFailure()) std::cout << "qvServer output:\n" << log().substr(0, 20000);
        simulator_.reset();
        if (server_ && server_->running()) {
            EXPECT_EQ(server_->stop(), 0);
        }
    }

    std::string log() const { return test::fileText(server_->workDirectory() + "/server.out"); }
    pid_t pid() const { return server_->pid(); }
    uint16_t port() const { return server_->port(); }

    // The descriptors of a server without clients: the count once it has
    // stopped falling (sessions of the set-up ending).
    int restingDescriptors() {
        int last = openDescriptors(pid());
        test::waitUntil(
            [&] {
                std::this_thread::sleep_for(100ms);
                const int now = openDescriptors(pid());
                const bool steady = now == last;
                last = now;
                return steady;
            },
            5s);
        return last;
    }

    std::unique_ptr<test::ServerProcess> server_;
    std::unique_ptr<test::Simulator> simulator_;
};

// Connects and goes again at once: by closing (FIN), by resetting (RST), or
// after reading the greeting.
void shortConnection(uint16_t port, int kind) {
    test::TestClient client(port);
    if (!client.connected()) return;
    if (kind == 1) {
        linger reset{1, 0};
        ::setsockopt(client.fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    } else if (kind == 2) {
        client.waitFor("\r\n", 2s);
    }
}

TEST_F(Exhaustion, AStormOfShortConnectionsAtALowLimitCostsNobodyItsService) {
    ASSERT_TRUE(setDescriptorLimit(pid(), 1024));
    const int resting = restingDescriptors();
    const int total = test::kSanitizerBuild ? 2000 : 20000;
    constexpr int kThreads = 16;
    // Bounded in time also on a slow machine.
    const auto stormEnd = Clock::now() + (test::kSanitizerBuild ? 60s : 40s);
    std::atomic<int> next{0};
    std::atomic<bool> stormOver{false};
    std::vector<std::thread> storm;
    for (int t = 0; t < kThreads; ++t) {
        storm.emplace_back([&] {
            for (int n = next++; n < total && Clock::now() < stormEnd; n = next++) shortConnection(port(), n % 3);
        });
    }
    std::vector<double> probes;
    int unserved = 0;
    int mostDescriptors = resting;
    std::thread prober([&] {
        while (!stormOver.load()) {
            const auto due = Clock::now() + 500ms;
            mostDescriptors = std::max(mostDescriptors, openDescriptors(pid()));
            auto client = greeted(port(), 2s);
            if (client)
                probes.push_back(medianGetMs(*client));
            else
                ++unserved;
            client.reset();
            while (!stormOver.load() && Clock::now() < due) std::this_thread::sleep_for(10ms);
        }
    });
    for (std::thread& thread : storm) thread.join();
    const int done = std::min(next.load(), total);
    stormOver.store(true);
    prober.join();

    std::cout << done << " short connections, at most " << mostDescriptors << " descriptors seen ("
              << resting << " at rest); probe medians (ms):";
    for (double ms : probes) std::cout << ' ' << ms;
    std::cout << '\n';
    EXPECT_EQ(done, total) << "the storm did not finish in time";
    EXPECT_EQ(unserved, 0) << "probe clients not greeted";
    ASSERT_FALSE(probes.empty());
    for (double ms : probes) EXPECT_LT(ms, kServedGetMs);
    EXPECT_TRUE(test::waitUntil([&] { return openDescriptors(pid()) <= resting; }, 5s))
        << openDescriptors(pid()) << " descriptors open, " << resting << " before the storm";
    const std::string text = log();
    EXPECT_EQ(text.find(kFailedAccept), std::string::npos);
    EXPECT_EQ(text.find(kFolderUnreadable), std::string::npos);
    EXPECT_EQ(text.find(kFolderShortage), std::string::npos);
}

// Spare descriptors beyond whole sessions when the limit is reached: none,
// one (the last session's socket only) or two (socket and wake descriptor).
class OutOfDescriptors : public Exhaustion, public ::testing::WithParamInterface<int> {};

TEST_P(OutOfDescriptors, AClientIsRefusedOrServedAndTheInstrumentStays) {
    if (test::kAddressSanitizerBuild)
        GTEST_SKIP() << "the sanitizer's own checks need descriptors; the plain and thread sanitizer builds run this";
    constexpr int kSessions = 8;
    ASSERT_TRUE(setDescriptorLimit(pid(), rlim_t(restingDescriptors() + 3 * kSessions + GetParam())));
    // Clients until one is not greeted: the server is out of descriptors.
    std::vector<std::unique_ptr<test::TestClient>> held;
    std::unique_ptr<test::TestClient> extra;
    for (int i = 0; i < 4 * kSessions && !extra; ++i) {
        auto client = std::make_unique<test::TestClient>(port());
        ASSERT_TRUE(client->connected());
        if (client->waitFor("\r\n", 1s)) {
            client->clear();
            held.push_back(std::move(client));
        } else {
            extra = std::move(client);
        }
    }
    ASSERT_TRUE(extra) << "the server never ran out of descriptors";
    std::cout << held.size() << " sessions served, then one client not greeted\n";
    // Every session the server kept is served in full.
    for (std::size_t i = 0; i < held.size(); ++i)
        EXPECT_LT(medianGetMs(*held[i]), kServedGetMs)
            << "session " << i << " of " << held.size();
    // With not one descriptor to spare, a look at the instrument folder
    // changes nothing, and says so. The server's own looks open descriptors
    // for a moment: the limit is set again until one such moment is missed.
    bool shortageSeen = false;
    for (int round = 0; round < 10 && !shortageSeen; ++round) {
        ASSERT_TRUE(setDescriptorLimit(pid(), rlim_t(lowestFreeDescriptor(pid()))));
        std::ofstream(server_->instrumentDirectory() + "/look-again-" + std::to_string(round)) << "x";
        shortageSeen = test::waitUntil([&] { return log().find(kFolderShortage) != std::string::npos; }, 1s);
    }
    EXPECT_TRUE(shortageSeen);
    ASSERT_TRUE(setDescriptorLimit(pid(), 1024));

    held.clear();
    // The extra client is refused (closed) or served once descriptors are back.
    if (extra->waitFor("\r\n", 5s)) {
        extra->clear();
        EXPECT_LT(medianGetMs(*extra), kServedGetMs);
    } else {
        EXPECT_TRUE(extra->waitForClose(1s)) << "the extra client is neither served nor refused";
    }
    auto after = greeted(port(), 5s);
    ASSERT_TRUE(after) << "no client served after the shortage";
    EXPECT_LT(medianGetMs(*after), kServedGetMs);
    EXPECT_EQ(log().find(kFolderUnreadable), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(SpareDescriptors, OutOfDescriptors, ::testing::Values(0, 1, 2));

TEST_F(Exhaustion, ClientsAnnouncingLargeMessagesCostOnlyWhatTheySend) {
    const int clients = test::kSanitizerBuild ? 200 : 1000;
    ASSERT_TRUE(setDescriptorLimit(pid(), 8192));
    const long before = residentKiB(pid());
    std::vector<std::unique_ptr<test::TestClient>> announcing;
    // The header of a 1 MiB get; its body never comes.
    const test::Bytes header =
        test::message(wire::MSG_GET_VALUE, 1, test::pathBody("/dev3400/oscs/0/freq"), 1 << 20);
    const std::string headerText(header.begin(), header.begin() + wire::kHeaderSize);
    for (int i = 0; i < clients; ++i) {
        auto client = greeted(port(), 5s);
        ASSERT_TRUE(client) << "client " << i;
        ASSERT_TRUE(client->send("proto bin\n"));
        ASSERT_TRUE(client->waitFor(std::string("\x95\x42", 2), 5s)) << "client " << i;
        announcing.push_back(std::move(client));
    }
    const long sessions = residentKiB(pid());
    for (auto& client : announcing) ASSERT_TRUE(client->send(headerText));
    // The server takes each header as it comes; the most it holds within a
    // second after the last one.
    long most = residentKiB(pid());
    for (const auto end = Clock::now() + 1s; Clock::now() < end;) {
        std::this_thread::sleep_for(50ms);
        most = std::max(most, residentKiB(pid()));
    }
    std::cout << clients << " clients announcing 1 MiB: resident " << before << " KiB, " << sessions
              << " KiB with their sessions, " << most << " KiB after the headers\n";
    // A sanitizer's threads cost more than a session's whole budget: there
    // only the headers are judged.
    EXPECT_LT(most - (test::kSanitizerBuild ? sessions : before), 64L * 1024);
    // The server still serves.
    auto other = greeted(port(), 5s);
    ASSERT_TRUE(other);
    EXPECT_LT(medianGetMs(*other), kServedGetMs);
}

TEST_F(Exhaustion, ABurstOfConnectionsIsGreetedWithinTenSeconds) {
    const int clients = test::kSanitizerBuild ? 500 : 2000;
    const int systemLimit = systemBacklogLimit();
    std::cout << "net.core.somaxconn of this machine: " << systemLimit << "\n";
    if (systemLimit < clients) GTEST_SKIP() << "the system caps every listen backlog at " << systemLimit;
    ASSERT_TRUE(setDescriptorLimit(pid(), rlim_t(4 * clients + 1024)));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<platform::Socket> sockets;
    const auto start = Clock::now();
    for (int i = 0; i < clients; ++i) {
        platform::Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        ASSERT_TRUE(socket.valid()) << std::strerror(errno);
        const int result = ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
        ASSERT_TRUE(result == 0 || errno == EINPROGRESS) << std::strerror(errno);
        sockets.push_back(std::move(socket));
    }
    std::vector<pollfd> waiting;
    for (const platform::Socket& socket : sockets) waiting.push_back(pollfd{socket.get(), POLLIN, 0});
    int greetedCount = 0;
    const auto end = start + 10s;
    while (!waiting.empty() && Clock::now() < end) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (::poll(waiting.data(), waiting.size(), int(std::max<long long>(left, 0))) <= 0) continue;
        std::vector<pollfd> still;
        for (const pollfd& entry : waiting) {
            if (entry.revents == 0) {
                still.push_back(entry);
                continue;
            }
            char buffer[256];
            const ssize_t got = ::recv(entry.fd, buffer, sizeof buffer, 0);
            if (got > 0 && std::memchr(buffer, '\n', size_t(got)))
                ++greetedCount;
            else if (got > 0 || (got < 0 && errno == EAGAIN))
                still.push_back(entry);
        }
        waiting.swap(still);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::cout << greetedCount << " of " << clients << " greeted after " << seconds << " s\n";
    EXPECT_EQ(greetedCount, clients);
}

}  // namespace
}  // namespace tarnix
