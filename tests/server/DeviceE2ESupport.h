#pragma once
// The qvServer program with simulated instruments (lq3sim processes in the
// server's instrument directory), a text client subscribed to /QV/TREES and
// the server's console output, for the end-to-end tests of instruments coming
// and going.
#include "ServerTestSupport.h"
#include "TextServerProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tarnix {
namespace test {

using namespace std::chrono_literals;

inline std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

// One lq3sim process, plugged in once its socket exists.
class Simulator {
public:
    Simulator(const std::string& instrumentDir, const std::string& logDir, uint32_t serial,
              std::vector<std::string> options = {})
        : socket_(instrumentDir + "/lq3-" + std::to_string(serial) + ".sock") {
        std::vector<std::string> arguments{buildDirectory() + "/sim/lq3sim", "--dir", instrumentDir, "--serial",
                                           std::to_string(serial)};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const std::string output = logDir + "/lq3sim-" + std::to_string(serial) + ".out";
        started_ = process_.start(arguments, {}, output) &&
                   waitUntil([&] { return ::access(socket_.c_str(), F_OK) == 0; }, 10s);
    }
    ~Simulator() { unplug(); }
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    bool plugged() const { return started_; }
    // Ends the simulator the orderly way: it removes its socket first.
    void unplug() {
        resume();
        if (process_.started()) process_.stop(false, SIGTERM);
    }
    // Stops the process where it is (a hung instrument) and lets it go on.
    bool pause() { return process_.signal(SIGSTOP); }
    bool resume() { return process_.signal(SIGCONT); }
    const std::string& socketPath() const { return socket_; }
    // Ends it at once, in the middle of whatever it does.
    void kill() {
        if (process_.started()) process_.stop(false, SIGKILL);
        ::unlink(socket_.c_str());
    }

private:
    std::string socket_;
    ChildProcess process_;
    bool started_ = false;
};

// A text-protocol client that has read the greeting.
inline std::unique_ptr<TestClient> greetedClient(uint16_t port) {
    auto client = std::make_unique<TestClient>(port);
    EXPECT_TRUE(client->connected());
    EXPECT_TRUE(client->waitFor("\r\n")) << client->received();
    client->clear();
    return client;
}

// Sends command lines and waits until the session has carried them out: it
// answers the "pwd" sent behind them only after them.
inline bool carryOut(TestClient& client, const std::string& lines) {
    client.clear();
    return client.send(lines + "pwd\n") && client.waitFor("\n");
}

// Sends a command and returns what arrives until `expected` has arrived and
// the connection has then been quiet for a moment.
inline std::string ask(TestClient& client, const std::string& command, const std::string& expected) {
    client.clear();
    EXPECT_TRUE(client.send(command));
    EXPECT_TRUE(client.waitFor(expected)) << command << " got: " << client.received();
    client.waitFor("\x01 nothing more", 60ms);
    return client.received();
}

// A write and a read of the same leaf behind it: the value lines that come,
// without error lines.
inline std::string writeThenRead(TestClient& client, const std::string& path, const std::string& value) {
    const std::string got = ask(client, path + " " + value + "\n" + path + " ?\n", "\n");
    std::string lines;
    for (std::size_t at = 0, end; at < got.size(); at = end + 1) {
        end = got.find('\n', at);
        if (end == std::string::npos) end = got.size() - 1;
        if (got.compare(at, 6, "ERROR:") != 0) lines += got.substr(at, end + 1 - at);
    }
    return lines;
}

inline std::string addLine(uint32_t serial) { return "/QV/TREES: add DEV" + std::to_string(serial) + "\r\n"; }
inline std::string removeLine(uint32_t serial) { return "/QV/TREES: remove DEV" + std::to_string(serial) + "\r\n"; }

// The server for a whole test suite, a client subscribed to its tree changes
// and a second one for listings.
class DeviceServerFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = std::make_unique<ServerProcess>(); }
    static void TearDownTestSuite() {
        if (server_ && server_->running()) {
            EXPECT_EQ(server_->stop(), 0) << "qvServer did not end in order:\n" << output();
        }
        server_.reset();
    }

    void SetUp() override {
        ASSERT_TRUE(server_ && server_->running()) << "qvServer did not start (QV_BUILD_DIR=" << buildDirectory()
                                                   << ")";
        trees_ = greetedClient(server_->port());
        EXPECT_EQ(ask(*trees_, "subs /qv/trees\npwd\n", "\n"), "\n");
        trees_->clear();
        probe_ = greetedClient(server_->port());
        outputMark_ = output().size();
    }

    std::unique_ptr<Simulator> plug(uint32_t serial, std::vector<std::string> options = {}) {
        auto simulator = std::make_unique<Simulator>(server_->instrumentDirectory(), server_->workDirectory(),
                                                     serial, std::move(options));
        EXPECT_TRUE(simulator->plugged()) << "lq3sim " << serial << " did not plug in";
        return simulator;
    }

    // The server's console output, whole or since this test began.
    static std::string output() { return fileText(server_->workDirectory() + "/server.out"); }
    std::string outputOfTest() const {
        const std::string all = output();
        return all.size() > outputMark_ ? all.substr(outputMark_) : std::string();
    }
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
        return waitUntil([&] { return outputOfTest().find(text) != std::string::npos; }, timeout);
    }

    std::string roots() { return ask(*probe_, "ls /\n", "QV\n"); }
    bool listed(uint32_t serial) { return roots().find("DEV" + std::to_string(serial) + "\n") != std::string::npos; }

    static inline std::unique_ptr<ServerProcess> server_;
    std::unique_ptr<TestClient> trees_;
    std::unique_ptr<TestClient> probe_;
    std::size_t outputMark_ = 0;
};

}  // namespace test
}  // namespace tarnix
