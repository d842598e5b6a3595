#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "ClientFixture.h"
#include "wire/BinaryWire.h"

using namespace clienttest;
namespace wire = tarnix::wire;

namespace {

TEST(ClientConnection, HandshakeConnectsAndHandleReconnects) {
    std::atomic<int> handshakes{0};
    FakeServer server(
        [&](FakeConnection& c) {
            if (c.handshake()) ++handshakes;
        },
        2);
    Client client;
    ASSERT_EQ(client.connect(server), QV_NO_ERROR);
    EXPECT_EQ(qvAPIDisconnect(client), QV_NO_ERROR);
    EXPECT_EQ(qvAPISubscribe(client, "/qv/trees"), QV_CONNECTION_INVALID);
    ASSERT_EQ(client.connect(server), QV_NO_ERROR);
    EXPECT_EQ(qvAPIDisconnect(client), QV_NO_ERROR);
    ASSERT_TRUE(server.waitServed(2)) << "the fake server did not see both connections end";
    EXPECT_EQ(handshakes.load(), 2);
}

struct HandshakeCase {
    const char* name;
    FakeServer::Script script;
    QV_STATUS expected;
    bool serverCloses = false;
};

class ClientHandshake : public ::testing::TestWithParam<HandshakeCase> {};

TEST_P(ClientHandshake, ConnectResult) {
    std::atomic<bool> clientClosed{false};
    FakeServer server([&](FakeConnection& c) {
        GetParam().script(c);
        if (!c.closed()) clientClosed = c.waitClosed(2000);
    });
    Client client;
    EXPECT_EQ(client.connect(server), GetParam().expected);
    if (GetParam().expected != QV_NO_ERROR) {
        // A failed connect closes its socket at once.
        EXPECT_EQ(qvAPISubscribe(client, "/qv"), QV_CONNECTION_INVALID);
        ASSERT_TRUE(server.waitServed(1)) << "the fake server did not see the connection end";
        EXPECT_TRUE(clientClosed || GetParam().serverCloses);
    }
}

bool greetAndReadSwitch(FakeConnection& c) {
    std::string line;
    return c.send(std::string("qvServer, test\r\n")) && c.readLine(line) && line == "proto bin\n";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ClientHandshake,
    ::testing::Values(
        HandshakeCase{"FirstMessageNotHello",
                      [](FakeConnection& c) {
                          if (greetAndReadSwitch(c)) c.send(countReply(wire::MSG_SUBSCRIBE_REPLY, 0, 0));
                      },
                      QV_CONNECTION_INVALID},
        HandshakeCase{"HelloTooShort",
                      [](FakeConnection& c) {
                          if (greetAndReadSwitch(c)) c.send(message(wire::MSG_HELLO, 0));
                      },
                      QV_CONNECTION_INVALID},
        HandshakeCase{"ClosedAfterGreeting",
                      [](FakeConnection& c) {
                          if (greetAndReadSwitch(c)) c.close();
                      },
                      QV_CONNECTION_INVALID, true},
        HandshakeCase{"FrameShorterThanHeader",
                      [](FakeConnection& c) {
                          if (greetAndReadSwitch(c)) {
                              Bytes bad(12, 0);
                              wire::encodeHeader(bad.data(), wire::MSG_HELLO, 11, 0);
                              c.send(bad);
                          }
                      },
                      QV_CONNECTION_INVALID},
        HandshakeCase{"GreetingInPieces",
                      [](FakeConnection& c) {
                          c.send(std::string("qvServer, "));
                          // Spaces the pieces so that the client reads them apart.
                          std::this_thread::sleep_for(std::chrono::milliseconds(20));
                          c.handshake();
                      },
                      QV_NO_ERROR}),
    [](const ::testing::TestParamInfo<HandshakeCase>& info) { return std::string(info.param.name); });

TEST(ClientConnection, SilentServerTimesOut) {
    FakeServer server([](FakeConnection& c) { c.waitClosed(); });
    Client client;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.connect(server), QV_COMMAND_TIMEOUT);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(4900));
    EXPECT_LT(waited, std::chrono::milliseconds(8000));
}

TEST(ClientConnection, SocketLevelFailures) {
    Client client;
    EXPECT_EQ(qvAPIConnect(client, "127.0.0.1", closedPort()), QV_SOCKET_CONNECT_FAILED);
    const std::string longLabel(70, 'x');
    EXPECT_EQ(qvAPIConnect(client, (longLabel + ".invalid").c_str(), 8005), QV_HOST_NOT_FOUND);
}

TEST(ClientConnection, ConnectOnConnectedHandleClosesTheOldConnection) {
    std::atomic<bool> firstClosedBeforeSecond{false};
    std::atomic<int> index{0};
    FakeServer server(
        [&](FakeConnection& c) {
            int mine = index++;
            if (!c.handshake()) return;
            if (mine == 0) firstClosedBeforeSecond = c.waitClosed(3000);
        },
        2);
    Client client;
    ASSERT_EQ(client.connect(server), QV_NO_ERROR);
    ASSERT_EQ(client.connect(server), QV_NO_ERROR);
    EXPECT_TRUE(firstClosedBeforeSecond.load());
}

TEST(ClientConnection, InvalidHandlesAreRefused) {
    EXPECT_EQ(qvAPIInit(nullptr), QV_CONNECTION_INVALID);
    alignas(16) static uint8_t notAHandle[4096] = {};
    QvHandle* fake = reinterpret_cast<QvHandle*>(notAHandle);
    for (QvHandle* h : {static_cast<QvHandle*>(nullptr), fake}) {
        double d = 0;
        EXPECT_EQ(qvAPIDestroy(h), QV_CONNECTION_INVALID);
        EXPECT_EQ(qvAPIConnect(h, nullptr, 0), QV_CONNECTION_INVALID);
        EXPECT_EQ(qvAPIDisconnect(h), QV_CONNECTION_INVALID);
        EXPECT_EQ(qvAPIGetValueD(h, "/qv/version", &d), QV_CONNECTION_INVALID);
        EXPECT_EQ(qvAPISetValueB(h, "/x", nullptr, 0), QV_CONNECTION_INVALID);
        EXPECT_EQ(qvAPIPollData(h, nullptr, 0), QV_CONNECTION_INVALID);
        EXPECT_EQ(qvAPIUpdateDevices(h), QV_CONNECTION_INVALID);
    }
}

TEST(ClientConnection, UnconnectedHandleRefusesRequests) {
    Client client;
    double d = 0;
    uint8_t byte = 1;
    char text[16];
    EXPECT_EQ(qvAPIGetValueD(client, "/qv/version", &d), QV_CONNECTION_INVALID);
    EXPECT_EQ(qvAPIListNodes(client, "/", text, sizeof text, 0), QV_CONNECTION_INVALID);
    EXPECT_EQ(qvAPIUpdateDevices(client), QV_CONNECTION_INVALID);
    EXPECT_EQ(qvAPISetValueB(client, "/x", &byte, 0), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(qvAPISetValueB(client, "/x", &byte, 1), QV_CONNECTION_INVALID);
    EXPECT_EQ(qvAPIDisconnect(client), QV_NO_ERROR);
}

}  // namespace

namespace {

// Handles are independent: several threads, each with its own handle and
// server, work at the same time.
TEST(ClientConnection, HandlesWorkInParallelThreads) {
    constexpr int kThreads = 8;
    constexpr int kRequests = 200;
    std::atomic<int> succeeded{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&succeeded, t] {
            FakeServer server(serveRequests([t](FakeConnection& c, const Request& r) {
                c.send(concat({countReply(wire::MSG_GET_VALUE_REPLY, r.sequenceId, 1),
                               doubleEvent(r.sequenceId, r.path, double(t))}));
            }));
            Client client;
            if (client.connect(server) != QV_NO_ERROR) return;
            for (int i = 0; i < kRequests; ++i) {
                double d = -1;
                if (qvAPIGetValueD(client, "/v", &d) == QV_NO_ERROR && d == double(t)) ++succeeded;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(succeeded.load(), kThreads * kRequests);
}

}  // namespace
