// The text protocol end to end: a client on TCP against the qvServer program
// and its own tree "QV".
#include "ServerTestSupport.h"
#include "TextServerProcess.h"
#include "server/server/ServerContext.h"
#include "server/server/ServerStrings.h"
#include "server/session/ProtocolTable.h"
#include "server/text/AsciiHelpText.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace tarnix {
namespace {

using namespace std::chrono_literals;

std::string banner() {
    return getServerString(SERVER_STRING_BANNER) + ", " + getServerString(SERVER_STRING_COPYRIGHT);
}

class TextEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = std::make_unique<test::ServerProcess>(); }
    static void TearDownTestSuite() {
        if (server_) {
            EXPECT_EQ(server_->stop(), 0);
        }
        server_.reset();
    }

    void SetUp() override {
        ASSERT_TRUE(server_ && server_->running()) << "qvServer did not start (QV_BUILD_DIR=" << test::buildDirectory()
                                                   << ")";
        client_ = connect();
    }

    std::unique_ptr<test::TestClient> connect() {
        auto client = std::make_unique<test::TestClient>(server_->port());
        EXPECT_TRUE(client->connected());
        EXPECT_TRUE(client->waitFor("\r\n")) << client->received();
        EXPECT_EQ(client->received(), banner() + "\r\n");
        client->clear();
        return client;
    }

    // Sends a command and returns everything that arrives until `expected`
    // has arrived (an empty text: nothing is expected) and the connection has
    // then been quiet for a moment.
    static std::string ask(test::TestClient& client, const std::string& command, const std::string& expected) {
        client.clear();
        EXPECT_TRUE(client.send(command));
        if (!expected.empty()) {
            EXPECT_TRUE(client.waitFor(expected)) << command << " got: " << client.received();
        }
        client.waitFor("\x01 nothing more", expected.empty() ? 150ms : 60ms);
        return client.received();
    }
    std::string ask(const std::string& command, const std::string& expected) {
        return ask(*client_, command, expected);
    }

    static std::unique_ptr<test::ServerProcess> server_;
    std::unique_ptr<test::TestClient> client_;
};

std::unique_ptr<test::ServerProcess> TextEndToEnd::server_;

TEST_F(TextEndToEnd, HelpShowsTheExactPage) {
    std::string page(asciiHelpText());
    std::string expected = "\n" + banner() + "\n\n" + page;
    EXPECT_EQ(ask("help\n", page), expected);
}

TEST_F(TextEndToEnd, ListingsOfTheServerTree) {
    EXPECT_EQ(ask("ls\n", "QV\n"), "QV\n");
    EXPECT_EQ(ask("ls /qv\n", "CLOCKBASE\n"), "ABOUT\nCONFIG\nTREES\nCLOCKBASE\n");
    const std::string tree = "ABOUT\n  VERSION\n  REVISION\n  FWREVISION\n  COPYRIGHT\nCONFIG\n  PORT\n  OPEN\n"
                             "TREES\nCLOCKBASE\n";
    EXPECT_EQ(ask("tr /qv\n", "CLOCKBASE\n"), tree);
    EXPECT_EQ(ask("ls /qv/clockbase\n", "ERROR"), "ERROR: Invalid Path\n");
}

TEST_F(TextEndToEnd, CurrentPathFollowsSelect) {
    EXPECT_EQ(ask("pwd\n", "\n"), "\n");
    EXPECT_EQ(ask("cd /qv/about\n", "\n"), "/QV/ABOUT\n");
    EXPECT_EQ(ask("sel ?\n", "\n"), "/QV/ABOUT\n");
    EXPECT_EQ(ask("revision ?\n", "\r\n"), "/QV/ABOUT/REVISION: 17045\r\n");
    EXPECT_EQ(ask("cd ..\n", "\n"), "/QV\n");
    EXPECT_EQ(ask("ls\n", "CLOCKBASE\n"), "ABOUT\nCONFIG\nTREES\nCLOCKBASE\n");
    EXPECT_EQ(ask("cd /nothing\n", "\n"), "ERROR: Internal\n");
    EXPECT_EQ(ask("pwd\n", "\n"), "/QV\n");
    EXPECT_EQ(ask("sel /\n", "\n"), "/\n");
}

TEST_F(TextEndToEnd, GetsAndSetsAnswerWithValueLines) {
    EXPECT_EQ(ask("/qv/clockbase ?\n", "\r\n"), "/QV/CLOCKBASE: 10\r\n");
    // A blank typed after the "?" is no syntax error.
    EXPECT_EQ(ask("/qv/clockbase ? \n", "\r\n"), "/QV/CLOCKBASE: 10\r\n");
    EXPECT_EQ(ask("/QV/ABOUT/VERSION ?\n", "\n"), "/QV/ABOUT/VERSION: 12.08\n");
    EXPECT_EQ(ask("/qv/config/port ?\n", "\r\n"),
              "/QV/CONFIG/PORT: " + std::to_string(server_->port()) + "\r\n");
    EXPECT_EQ(ask("/qv/config/open 0\n", "\r\n"), "/QV/CONFIG/OPEN: 0\r\n");
    EXPECT_EQ(ask("/qv/config/open /qv/clockbase ?\n", "CLOCKBASE: 10\r\n").size(),
              std::string("/QV/CONFIG/OPEN: 0\r\n/QV/CLOCKBASE: 10\r\n").size());
}

TEST_F(TextEndToEnd, AnswersOfTheServerTreeKeepTheOrderOfTheRequests) {
    // Reads of the server's tree are answered at once, but never before the
    // answer of an earlier write of the same session.
    const std::string answers = ask("/qv/debug/level 2\n/qv/debug/level ?\n/qv/about/revision ?\n/qv/debug/level 3\n"
                                    "/qv/debug/level ?\n",
                                    "/QV/DEBUG/LEVEL: 3\r\n/QV/DEBUG/LEVEL: 3\r\n");
    EXPECT_EQ(answers, "/QV/DEBUG/LEVEL: 2\r\n/QV/DEBUG/LEVEL: 2\r\n/QV/ABOUT/REVISION: 17045\r\n"
                       "/QV/DEBUG/LEVEL: 3\r\n/QV/DEBUG/LEVEL: 3\r\n");
}

TEST_F(TextEndToEnd, ErrorTexts) {
    const std::pair<const char*, const char*> cases[] = {
        {"/qv ?\n", "ERROR: No Node to read from\n"},
        {"/nothing ?\n", "ERROR: No Node to read from\n"},
        {"/qv 5\n", "ERROR: No Node to write to\n"},
        {"/qv 5.5\n", "ERROR: Invalid Path\n"},
        {"/qv \"text\"\n", "ERROR: Invalid Path\n"},
        {"bad bad bad\n", "Syntax Error\n"},
        {"CD /qv\n", "Syntax Error\n"},
        {"proto \"bin\"\n", "Syntax Error\n"},
        {"proto foo\n", "ERROR: Unknown protocol\n"},
        {"/qv/clockbase 5ms\n", "Syntax Error\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(ask(c.first, c.second), c.second) << c.first;
    EXPECT_EQ(ask("# a comment\nls\n", "QV\n"), "QV\n");
    EXPECT_EQ(ask("update\nls\n", "QV\n"), "QV\n");
}

TEST_F(TextEndToEnd, CommandSplitAcrossReadsRunsWhole) {
    client_->clear();
    // The pauses space the pieces so that the server reads them apart; a part
    // of a command has no answer to wait for instead.
    ASSERT_TRUE(client_->send("/qv/about/rev"));
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(client_->send("ision ?"));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(ask("\r\n", "\r\n"), "/QV/ABOUT/REVISION: 17045\r\n");
}

TEST_F(TextEndToEnd, SubscribersSeeOtherSessionsChanges) {
    auto other = connect();
    // The reply to pwd shows that the session has carried out the line before.
    EXPECT_EQ(ask("subs /qv/debug\npwd\n", "\n"), "\n");
    EXPECT_EQ(ask(*other, "/qv/debug/level 4\n", "\r\n"), "/QV/DEBUG/LEVEL: 4\r\n");
    EXPECT_TRUE(client_->waitFor("/QV/DEBUG/LEVEL: 4\r\n")) << client_->received();
    EXPECT_EQ(ask("unsubs /qv\npwd\n", "\n"), "\n");
    EXPECT_EQ(ask(*other, "/qv/debug/level 3\n", "\r\n"), "/QV/DEBUG/LEVEL: 3\r\n");
    // Subscribed again, the session sees the next change; a notice of the
    // change before, had there been one, would have come ahead of it.
    EXPECT_EQ(ask("subs /qv/debug\npwd\n", "\n"), "\n");
    EXPECT_EQ(ask(*other, "/qv/debug/level 4\n", "\r\n"), "/QV/DEBUG/LEVEL: 4\r\n");
    EXPECT_TRUE(client_->waitFor("/QV/DEBUG/LEVEL: 4\r\n")) << client_->received();
    EXPECT_EQ(client_->received().find("LEVEL: 3"), std::string::npos) << client_->received();
    EXPECT_EQ(ask("unsubs /qv\npwd\n", "\n"), "\n");
    EXPECT_EQ(ask(*other, "/qv/debug/level 3\n", "\r\n"), "/QV/DEBUG/LEVEL: 3\r\n");
}

TEST_F(TextEndToEnd, TreeChangesOfASimulatedInstrument) {
    const std::string simulator = test::buildDirectory() + "/sim/lq3sim";
    if (::access(simulator.c_str(), X_OK) != 0) GTEST_SKIP() << "lq3sim is not built";
    EXPECT_EQ(ask("subs /qv/trees\npwd\n", "\n"), "\n");
    client_->clear();
    test::ChildProcess instrument;
    ASSERT_TRUE(instrument.start({simulator, "--dir", server_->instrumentDirectory(), "--serial", "1234"}, {},
                                 server_->workDirectory() + "/lq3sim.out"));
    if (!client_->waitFor("/QV/TREES: add DEV1234\r\n", 15s)) {
        auto probe = connect();
        const std::string roots = ask(*probe, "ls /\n", "\n");
        instrument.stop(false, SIGTERM);
        FAIL() << "no tree-change line; the roots are:\n" << roots << "received: " << client_->received();
    }
    const std::string received = client_->received();
    const auto added = received.find("/QV/TREES: add DEV1234\r\n");
    // Only line ends of earlier answers may come before the tree-change line.
    EXPECT_EQ(received.find_first_not_of("\r\n"), added) << received;
    // A node whose name starts with digits is reached by its name.
    auto probe = connect();
    const std::string supply = ask(*probe, "/dev1234/stats/physical/1v2 ?\n", "\n");
    EXPECT_EQ(supply.rfind("/DEV1234/STATS/PHYSICAL/1V2: ", 0), 0u) << supply;
    client_->clear();
    instrument.stop(false, SIGTERM);
    EXPECT_TRUE(client_->waitFor("/QV/TREES: remove DEV1234\r\n", 10s)) << client_->received();
}

TEST_F(TextEndToEnd, ProtoBinAnswersTheBinaryHello) {
    ServerContext context;
    registerServerProtocols(context.protocols());
    ASSERT_NE(getProtocolHooks(context.protocols(), INTERFACE_BINARY), nullptr);
    const std::string hello("\x01\x00\x00\x00\x12\x00\x00\x00\x00\x00\x00\x00\x0C\x00\x08\x00\x95\x42", 18);
    client_->clear();
    ASSERT_TRUE(client_->send("proto bin\nls\n"));
    EXPECT_TRUE(client_->waitFor(hello)) << client_->received();
    // A bounded window: "ls" has become the first bytes of a binary message
    // that never completes, so no later answer can show it went unanswered.
    client_->waitFor("\x01 nothing more", 100ms);
    EXPECT_EQ(client_->received(), hello);
}

TEST_F(TextEndToEnd, ExitClosesTheConnection) {
    client_->clear();
    ASSERT_TRUE(client_->send("exit\nls\n"));
    EXPECT_TRUE(client_->waitForClose());
    EXPECT_EQ(client_->received(), "");
}

TEST_F(TextEndToEnd, PendingLineRunsWhenTheClientShutsDownSending) {
    client_->clear();
    ASSERT_TRUE(client_->send("/qv/about/revision ?"));
    ::shutdown(client_->fd(), SHUT_WR);
    EXPECT_TRUE(client_->waitFor("/QV/ABOUT/REVISION: 17045\r\n")) << client_->received();
}

}  // namespace
}  // namespace tarnix
