// The qvServer program itself: command line, exit codes, the single
// instance, the QV tree over TCP in the text protocol, and a load test.
#include "ServerStart.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <iostream>
#include <memory>

namespace tarnix {
namespace {

using namespace std::chrono_literals;
using test::ServerProcess;
using test::TestClient;
using test::waitUntil;
using test::startServer;

const std::string kVersionLine = "qvServer V12.08 revision 17045/Linux\n";
const std::string kStars = "**********************************************";

bool portFree(uint16_t port) {
    platform::Socket probe = platform::createTcpSocket();
    platform::setReuseAddress(probe.get(), true);
    return platform::bindIPv4(probe.get(), port, false);
}

// Standard output without the line about the log directory.
std::string programOutput(const ServerProcess& server) {
    std::string out = server.out();
    if (out.rfind("Will log to directory '", 0) == 0) out.erase(0, out.find('\n') + 1);
    return out;
}

TEST(Program, HelpPrintsTheVersionAndTheTableAndStartsNothing) {
    const uint16_t port = test::freePort();
    ServerProcess server({"-h", "-p", std::to_string(port)});
    EXPECT_EQ(server.waitForExit(), 0) << server.err();
    const std::string out = programOutput(server);
    EXPECT_EQ(out.rfind(kVersionLine + "Options:\n", 0), 0u) << out;
    EXPECT_NE(out.find("Produce help message"), std::string::npos);
    EXPECT_NE(server.err().find("[status] Started qvServer V12.08 revision 17045/Linux"), std::string::npos);
    EXPECT_TRUE(portFree(port));
}

TEST(Program, VersionPrintsTheLineTwiceAndAKeyStopsTheServerInOrder) {
    uint16_t port = 0;
    auto server = startServer(port, {"-v"});
    TestClient client(port);
    EXPECT_TRUE(client.waitFor("qvServer V12.08 revision 17045/Linux, "));
    server->pressKey();
    EXPECT_EQ(server->waitForExit(), 0);
    EXPECT_EQ(programOutput(*server), kVersionLine + kVersionLine);
    EXPECT_TRUE(client.waitForClose());
    EXPECT_EQ(server->err().find(kStars), std::string::npos) << server->err();
}

TEST(Program, WhileEndlessAKeyDoesNothing) {
    const uint16_t port = test::freePort();
    ServerProcess server({"-p", std::to_string(port)});
    ASSERT_TRUE(waitUntil([&] { return test::listensOn(server.pid(), port); }, 10s));
    server.pressKey();
    // A bounded window, as nothing shows from outside that the endless main
    // loop has gone past the key: it looks once a second and says nothing.
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(server.running());
}

TEST(Program, ASecondInstanceOnlyReportsTheFirst) {
    uint16_t port = 0;
    auto first = startServer(port);
    ServerProcess second({"-h", "-p", "1"}, first->instance());
    EXPECT_EQ(second.waitForExit(), 0);
    EXPECT_EQ(programOutput(second), kVersionLine);
    EXPECT_NE(second.err().find("[status] There is already an instance of this application running!"),
              std::string::npos);
    EXPECT_TRUE(first->running());
    first->pressKey();
    EXPECT_EQ(first->waitForExit(), 0);
}

TEST(Program, BadCommandLinesEndWithOneLineNamingTheOptionAndExitCodeTwo) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"-p", "70000"}, "qvServer: the argument ('70000') for option '--port' is invalid"},
        {{"-p", "0"}, "qvServer: the argument ('0') for option '--port' is invalid"},
        {{"-p", "word"}, "qvServer: the argument ('word') for option '--port' is invalid"},
        {{"--unknown-option"}, "qvServer: unrecognised option '--unknown-option'"},
        {{"--endless", "perhaps"}, "qvServer: the argument ('perhaps') for option '--endless' is invalid"}};
    for (const auto& [args, line] : cases) {
        ServerProcess server(args);
        EXPECT_EQ(server.waitForExit(), 2) << args[0];
        const std::string err = server.err();
        // One line: the option library's text (which may go on, e.g. with the
        // valid choices), then the pointer to the help.
        const size_t at = err.find(line);
        ASSERT_NE(at, std::string::npos) << err;
        const std::string whole = err.substr(at, err.find('\n', at) - at);
        ASSERT_GE(whole.size(), 34u) << whole;
        EXPECT_EQ(whole.substr(whole.size() - 34), "; see qvServer -h for the options.") << whole;
        EXPECT_EQ(err.find(kStars), std::string::npos) << err;
        EXPECT_EQ(err.find("Throw location"), std::string::npos) << err;
        EXPECT_EQ(programOutput(server), kVersionLine);
    }
}

TEST(Program, APortAbove32767IsTaken) {
    const uint16_t port = test::freePort(40000, 20000);
    ServerProcess server({"-p", std::to_string(port), "--endless", "false"});
    EXPECT_TRUE(waitUntil([&] { return TestClient(port).waitFor("\r\n", 200ms) || !server.running(); }, 10s));
    EXPECT_TRUE(server.running()) << server.err();
    server.pressKey();
    EXPECT_EQ(server.waitForExit(), 0) << server.err();
}

TEST(Program, APortInUseAtStartEndsTheServerWithExitCodeOne) {
    platform::Socket holder = platform::createTcpSocket();
    const uint16_t port = test::freePort();
    ASSERT_TRUE(platform::bindIPv4(holder.get(), port, false));
    ASSERT_TRUE(platform::listenOn(holder.get(), 1));
    ServerProcess server({"-p", std::to_string(port)});
    EXPECT_EQ(server.waitForExit(), 1);
    EXPECT_NE(server.err().find("QVSocketException: bind to 127.0.0.1:" + std::to_string(port) + " failed"),
              std::string::npos)
        << server.err();
}

TEST(Program, ProgAlwaysAndOpenOverrideAreAnnouncedInOrder) {
    uint16_t port = 0;
    auto server = startServer(port, {"--prog-always", "true", "--open-override"});
    EXPECT_TRUE(test::anyAddressHeld(port));
    server->pressKey();
    EXPECT_EQ(server->waitForExit(), 0);
    EXPECT_EQ(programOutput(*server), kVersionLine + "Prog-always option set.\nOpen-override option set.\n");
}

TEST(Program, TheDebugOptionSetsTheLogThreshold) {
    // 9 becomes 6: only "status" records; -1 stays -1: every record.
    for (const char* debug : {"9", "-1"}) {
        uint16_t port = 0;
        auto server = startServer(port, {"--debug", debug});
        TestClient client(port);
        ASSERT_TRUE(client.waitFor("\r\n"));
        client.send("/qv/trees ?\n/qv/debug/level 2\n");
        EXPECT_TRUE(client.waitFor("/QV/DEBUG/LEVEL: 2\r\n"));
        server->pressKey();
        EXPECT_EQ(server->waitForExit(), 0);
        const bool everything = std::string(debug) == "-1";
        const std::string err = server->err();
        EXPECT_EQ(err.find("[error] DATATYPE_GETVALUE: Unknown node.") != std::string::npos, everything) << debug;
        EXPECT_EQ(err.find("[debug] Changing debug level to 2.") != std::string::npos, everything) << debug;
        EXPECT_NE(err.find("[status] Started "), std::string::npos);
    }
}

class QvTree : public ::testing::Test {
protected:
    void SetUp() override {
        server = startServer(port);
        client = std::make_unique<TestClient>(port);
        ASSERT_TRUE(client->waitFor("\r\n"));
    }
    void TearDown() override {
        server->pressKey();
        EXPECT_EQ(server->waitForExit(), 0);
    }
    void expect(const std::string& command, const std::string& answer) {
        client->clear();
        client->send(command + "\n");
        EXPECT_TRUE(client->waitFor(answer)) << command << " -> " << client->received();
    }
    bool errContains(const std::string& text) const { return server->err().find(text) != std::string::npos; }

    uint16_t port = 0;
    std::unique_ptr<ServerProcess> server;
    std::unique_ptr<TestClient> client;
};

TEST_F(QvTree, EveryNodeReadsItsValue) {
    expect("ls /qv", "ABOUT\nCONFIG\nTREES\nCLOCKBASE\n");
    expect("/qv/about/version ?", "/QV/ABOUT/VERSION: 12.08\n");
    expect("/qv/about/revision ?", "/QV/ABOUT/REVISION: 17045\r\n");
    expect("/qv/about/fwrevision ?", "/QV/ABOUT/FWREVISION: 14939\r\n");
    expect("/qv/about/copyright ?", "/QV/ABOUT/COPYRIGHT: Copyright (C) The LQ3 host software authors\n");
    expect("/qv/config/port ?", "/QV/CONFIG/PORT: " + std::to_string(port) + "\r\n");
    expect("/qv/config/open ?", "/QV/CONFIG/OPEN: 0\r\n");
    expect("/qv/clockbase ?", "/QV/CLOCKBASE: 10");
    expect("/qv/debug/level ?", "/QV/DEBUG/LEVEL: 3\r\n");
}

TEST_F(QvTree, PortAndOpenMoveTheListeningSocket) {
    const uint16_t moved = test::freePort();
    expect("/qv/config/port " + std::to_string(moved), "/QV/CONFIG/PORT: " + std::to_string(moved) + "\r\n");
    EXPECT_TRUE(TestClient(moved).waitFor("\r\n"));
    EXPECT_FALSE(TestClient(port).connected());

    expect("/qv/config/open 2", "/QV/CONFIG/OPEN: 1\r\n");
    EXPECT_TRUE(test::anyAddressHeld(moved));
    expect("/qv/config/open 0", "/QV/CONFIG/OPEN: 0\r\n");
    EXPECT_FALSE(test::anyAddressHeld(moved));

    // A port another program holds: the server stays and says where it is.
    platform::Socket holder = platform::createTcpSocket();
    const uint16_t taken = test::freePort();
    ASSERT_TRUE(platform::bindIPv4(holder.get(), taken, false));
    ASSERT_TRUE(platform::listenOn(holder.get(), 1));
    expect("/qv/config/port " + std::to_string(taken), "/QV/CONFIG/PORT: " + std::to_string(moved) + "\r\n");
    // The listener logs this where it keeps its socket instead of failing.
    EXPECT_TRUE(waitUntil([&] { return errContains("Listener could not open 127.0.0.1:" + std::to_string(taken)); }))
        << server->err();
    EXPECT_TRUE(server->running());
    EXPECT_TRUE(TestClient(moved).waitFor("\r\n"));
}

TEST_F(QvTree, LevelSetsTheThresholdAndCarriesControlCodes) {
    expect("/qv/debug/level 9", "/QV/DEBUG/LEVEL: 6\r\n");
    expect("/qv/debug/level -99", "/QV/DEBUG/LEVEL: 6\r\n");
    EXPECT_TRUE(waitUntil([&] { return errContains("-- Class Log Data Start -----------------------------"); }, 3s));
    EXPECT_TRUE(waitUntil([&] { return errContains("Class name:    Dispatcher"); }, 1s));
    expect("/qv/debug/level -97", "/QV/DEBUG/LEVEL: 6\r\n");
    EXPECT_TRUE(waitUntil([&] { return errContains("Loop statistic of Listener enabled."); }, 3s));
    // The change to 0 is logged while the threshold is still 6, so it stays
    // hidden; the next change is logged at the new threshold.
    expect("/qv/debug/level 0", "/QV/DEBUG/LEVEL: 0\r\n");
    expect("/qv/debug/level 1", "/QV/DEBUG/LEVEL: 1\r\n");
    EXPECT_TRUE(waitUntil([&] { return errContains("[debug] Changing debug level to 1."); }, 2s));
    EXPECT_FALSE(errContains("Changing debug level to 0."));
}

TEST(Load, FiftyClientsAtOnceAndAThousandCyclesLeaveNothingBehind) {
    uint16_t port = 0;
    auto server = startServer(port);
    // The server's own threads and descriptors once the session of the
    // start-up check has gone: its thread has ended and its socket is closed.
    ASSERT_TRUE(waitUntil([&] { return server->threadsNamed("Session") == 0 && test::openConnectionsOnPort(port) == 0; },
                          10s))
        << "the session of the start-up check stays";
    const int threads = server->threads();
    const int descriptors = server->descriptors();

    const auto start = std::chrono::steady_clock::now();
    {
        std::vector<std::unique_ptr<TestClient>> clients;
        for (int i = 0; i < 50; ++i) clients.emplace_back(new TestClient(port));
        for (auto& c : clients) ASSERT_TRUE(c->waitFor("\r\n", 5s));
        EXPECT_EQ(server->threads(), threads + 50);
    }
    for (int i = 0; i < 1000; ++i) {
        TestClient client(port);
        ASSERT_TRUE(client.waitFor("\r\n", 5s)) << i;
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, 60s);
    std::cout << "50 clients and 1000 cycles: "
              << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";
    EXPECT_TRUE(waitUntil([&] { return server->threads() == threads; }, 10s)) << server->threads();
    EXPECT_TRUE(waitUntil([&] { return server->descriptors() == descriptors; }, 10s)) << server->descriptors();

    server->pressKey();
    EXPECT_EQ(server->waitForExit(30s), 0);
    EXPECT_EQ(server->err().find("LeakSanitizer"), std::string::npos) << server->err();
    EXPECT_EQ(server->err().find("AddressSanitizer"), std::string::npos);
    EXPECT_EQ(server->err().find("ThreadSanitizer"), std::string::npos);
}

}  // namespace
}  // namespace tarnix
