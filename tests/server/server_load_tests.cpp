// The qvServer program under load: many clients asking at once are all
// answered, and a client that floods the server without reading its answers
// does not hold up another client's request.
#include "ServerStart.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <iostream>
#include <memory>

namespace tarnix {
namespace {

using namespace std::chrono_literals;
using test::ServerProcess;
using test::TestClient;
using test::waitUntil;

const std::string kRevisionGet = "/qv/about/revision ?\n";
const std::string kRevisionAnswer = "17045";

// A thousand clients need more descriptors than many shells allow by default;
// the server started afterwards inherits the raised limit.
void allowManyDescriptors() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::unique_ptr<ServerProcess> startServerForMany(uint16_t& port) {
    allowManyDescriptors();
    return test::startServer(port);
}

void stopServer(ServerProcess& server) {
    server.pressKey();
    EXPECT_EQ(server.waitForExit(60s), 0);
}

TEST(Load, AThousandClientsAskingAtOnceAreAllAnswered) {
    uint16_t port = 0;
    auto server = startServerForMany(port);
    constexpr int kClients = 1000;
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back(new TestClient(port));
        ASSERT_TRUE(clients.back()->connected()) << i;
    }
    for (auto& client : clients) ASSERT_TRUE(client->waitFor("\r\n", 30s));
    for (auto& client : clients) ASSERT_TRUE(client->send(kRevisionGet));
    int answered = 0;
    for (auto& client : clients) answered += client->waitFor(kRevisionAnswer, 30s) ? 1 : 0;
    std::cout << "Answers to " << kClients << " simultaneous gets: " << answered << "\n";
    EXPECT_EQ(answered, kClients);
    clients.clear();
    stopServer(*server);
}

TEST(Load, AFloodingClientDoesNotDelayAnotherClientsGet) {
    uint16_t port = 0;
    auto server = startServerForMany(port);
    TestClient flooder(port);
    ASSERT_TRUE(flooder.waitFor("\r\n"));
    std::string flood = "subs /qv/trees\n";
    for (int i = 0; i < 2000; ++i) flood += "/qv/about/* ?\n";
    // The flooder never reads its answers.
    ASSERT_TRUE(flooder.send(flood));

    TestClient neighbour(port);
    ASSERT_TRUE(neighbour.waitFor("\r\n"));
    std::vector<double> delaysMs;
    int unanswered = 0;
    for (int i = 0; i < 20; ++i) {
        neighbour.clear();
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(neighbour.send(kRevisionGet));
        if (!neighbour.waitFor(kRevisionAnswer, 10s)) {
            ++unanswered;
            continue;
        }
        delaysMs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    EXPECT_EQ(unanswered, 0);
    ASSERT_FALSE(delaysMs.empty());
    std::sort(delaysMs.begin(), delaysMs.end());
    const double median = delaysMs[delaysMs.size() / 2];
    std::cout << "Neighbour's get under a flood: median " << median << " ms, worst " << delaysMs.back() << " ms\n";
    EXPECT_LT(median, 100.0);
    stopServer(*server);
}

}  // namespace
}  // namespace tarnix
