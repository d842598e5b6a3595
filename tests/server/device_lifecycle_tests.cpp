// The edges of an instrument's life, end to end: the qvServer program with
// lq3sim processes, an instrument folder in every state, and what clients
// keep while instruments come and go.
#include "DeviceE2ESupport.h"
#include "platform/usb/SocketDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tarnix {
namespace {

using namespace std::chrono_literals;
using test::addLine;
using test::removeLine;

std::string serverOutput(const test::ServerProcess& server) {
    return test::fileText(server.workDirectory() + "/server.out");
}

// --- the instrument folder ---------------------------------------------------

void leaveMissing(const std::string&) {}
void makeFolder(const std::string& path) { ::mkdir(path.c_str(), 0700); }
void putFile(const std::string& path) { std::ofstream(path) << "not a folder\n"; }
void linkToItself(const std::string& path) { EXPECT_EQ(::symlink(path.c_str(), path.c_str()), 0); }
void replaceByFolder(const std::string& path) {
    ::unlink(path.c_str());
    makeFolder(path);
}
void makeUnreadable(const std::string& path) {
    makeFolder(path);
    ::chmod(path.c_str(), 0);
}
void makeReadable(const std::string& path) { ::chmod(path.c_str(), 0700); }

struct FolderState {
    const char* name;
    void (*spoil)(const std::string& path);
    void (*mend)(const std::string& path);
    bool reported;          // the server says once that it cannot read it
    bool needsPermissions;  // the superuser reads any folder
};

const FolderState kFolderStates[] = {
    {"Missing", leaveMissing, makeFolder, false, false},
    {"AFileInItsPlace", putFile, replaceByFolder, false, false},
    {"ALinkToItself", linkToItself, replaceByFolder, true, false},
    {"NotReadable", makeUnreadable, makeReadable, true, true},
};

void PrintTo(const FolderState& state, std::ostream* out) { *out << state.name; }

class InstrumentFolder : public ::testing::TestWithParam<FolderState> {};

TEST_P(InstrumentFolder, TheServerServesWithoutItAndFindsItsInstrumentsOnceItCanBeRead) {
    const FolderState& state = GetParam();
    if (state.needsPermissions && ::geteuid() == 0)
        GTEST_SKIP() << "run as root: permissions do not keep the server from reading the folder";
    test::ServerProcess server(state.spoil);
    ASSERT_TRUE(server.running()) << "qvServer did not start:\n" << serverOutput(server);
    auto client = test::greetedClient(server.port());
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(test::carryOut(*client, "update\n")) << client->received();
    EXPECT_EQ(test::ask(*client, "ls /\n", "QV\n"), "QV\n");
    std::string output = serverOutput(server);
    EXPECT_EQ(test::occurrences(output, "Cannot read the instrument folder " + server.instrumentDirectory() +
                                            "; no instrument is found there until it can be read."),
              state.reported ? 1u : 0u)
        << output;
    EXPECT_EQ(test::occurrences(output, "Error: "), 0u) << output;

    state.mend(server.instrumentDirectory());
    auto trees = test::greetedClient(server.port());
    ASSERT_EQ(test::ask(*trees, "subs /qv/trees\npwd\n", "\n"), "\n");
    trees->clear();
    {
        test::Simulator instrument(server.instrumentDirectory(), server.workDirectory(), 8101);
        ASSERT_TRUE(instrument.plugged());
        EXPECT_TRUE(trees->waitFor(addLine(8101), 15s)) << trees->received();
    }
    EXPECT_TRUE(trees->waitFor(removeLine(8101), 10s)) << trees->received();
    EXPECT_EQ(server.stop(), 0) << serverOutput(server);
}

INSTANTIATE_TEST_SUITE_P(States, InstrumentFolder, ::testing::ValuesIn(kFolderStates),
                         [](const ::testing::TestParamInfo<FolderState>& info) { return info.param.name; });

TEST(InstrumentFolderLater, AFolderThatCannotBeReadAnyMoreIsReportedOnceAndKeepsTheRunningInstrument) {
    test::ServerProcess server;
    ASSERT_TRUE(server.running());
    auto trees = test::greetedClient(server.port());
    ASSERT_EQ(test::ask(*trees, "subs /qv/trees\npwd\n", "\n"), "\n");
    trees->clear();
    test::Simulator instrument(server.instrumentDirectory(), server.workDirectory(), 8102);
    ASSERT_TRUE(trees->waitFor(addLine(8102), 15s)) << trees->received();

    // A link to itself takes the folder's place in one step (a folder that is
    // gone, even for a moment, has pulled its instruments out).
    const std::string folder = server.instrumentDirectory();
    const std::string away = folder + ".away";
    ASSERT_EQ(::symlink(folder.c_str(), away.c_str()), 0);
    ASSERT_EQ(::renameat2(AT_FDCWD, away.c_str(), AT_FDCWD, folder.c_str(), RENAME_EXCHANGE), 0);
    auto client = test::greetedClient(server.port());
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(test::carryOut(*client, "update\n")) << client->received();
    EXPECT_EQ(test::ask(*client, "ls /\n", "DEV8102\n"), "QV\nDEV8102\n");
    const std::string output = serverOutput(server);
    EXPECT_EQ(test::occurrences(output, "Cannot read the instrument folder"), 1u) << output;
    EXPECT_EQ(test::occurrences(output, "Error: "), 0u) << output;

    ASSERT_EQ(::renameat2(AT_FDCWD, away.c_str(), AT_FDCWD, folder.c_str(), RENAME_EXCHANGE), 0);
    ::unlink(away.c_str());
    ASSERT_TRUE(test::carryOut(*client, "update\n"));
    EXPECT_EQ(test::ask(*client, "ls /\n", "DEV8102\n"), "QV\nDEV8102\n");
    instrument.unplug();
    EXPECT_TRUE(trees->waitFor(removeLine(8102), 10s)) << trees->received();
    EXPECT_EQ(server.stop(), 0) << serverOutput(server);
}

// A socket in the instrument folder that is no instrument: it answers every
// read with a line of text.
class Stranger {
public:
    explicit Stranger(const std::string& path) : path_(path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        listening_ = ::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                     ::listen(listener_, 16) == 0 && ::pipe2(stop_, O_CLOEXEC) == 0;
        if (listening_) thread_ = std::thread([this] { serve(); });
    }
    ~Stranger() {
        if (thread_.joinable()) {
            (void)!::write(stop_[1], "x", 1);
            thread_.join();
        }
        for (int fd : {listener_, stop_[0], stop_[1]})
            if (fd >= 0) ::close(fd);
        ::unlink(path_.c_str());
    }
    bool listening() const { return listening_; }
    int connections() const { return connections_.load(); }

private:
    void serve() {
        std::vector<int> peers;
        for (bool running = true; running;) {
            std::vector<pollfd> watched{{stop_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
            for (int peer : peers) watched.push_back({peer, POLLIN, 0});
            if (::poll(watched.data(), watched.size(), -1) <= 0) continue;
            running = !(watched[0].revents & POLLIN);
            if (watched[1].revents & POLLIN) {
                const int peer = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                if (peer >= 0) peers.push_back(peer), ++connections_;
            }
            for (std::size_t i = 2; i < watched.size(); ++i) {
                if (!watched[i].revents) continue;
                char bytes[4096];
                if (::recv(watched[i].fd, bytes, sizeof bytes, 0) > 0 &&
                    ::send(watched[i].fd, "garbage\n", 8, MSG_NOSIGNAL) == 8)
                    continue;
                ::close(watched[i].fd);
                peers.erase(std::find(peers.begin(), peers.end(), watched[i].fd));
            }
        }
        for (int peer : peers) ::close(peer);
    }

    std::string path_;
    int listener_ = -1;
    int stop_[2] = {-1, -1};
    bool listening_ = false;
    std::atomic<int> connections_{0};
    std::thread thread_;
};

// --- what clients keep while instruments come and go ------------------------

class InstrumentLife : public test::DeviceServerFixture {};

TEST_F(InstrumentLife, ATextSessionWhoseWorkingNodeWentAwayIsAtTheRootAgainAndIsToldOnce) {
    auto instrument = plug(8300);
    ASSERT_TRUE(trees_->waitFor(addLine(8300), 15s)) << trees_->received();
    auto session = test::greetedClient(server_->port());
    auto other = test::greetedClient(server_->port());
    EXPECT_EQ(test::ask(*session, "cd /DEV8300/DEMODS\n", "\n"), "/DEV8300/DEMODS\n");
    EXPECT_EQ(test::ask(*other, "cd /dev8300/demods/0\n", "\n"), "/DEV8300/DEMODS/0\n");
    instrument->unplug();
    ASSERT_TRUE(trees_->waitFor(removeLine(8300), 10s)) << trees_->received();

    const std::string notice = "The working node /DEV8300/DEMODS went away; the working path is now /\n";
    const std::string level = test::ask(*session, "/qv/debug/level ?\n", "/QV/DEBUG/LEVEL: ");
    EXPECT_EQ(level.substr(0, notice.size()), notice) << level;
    EXPECT_EQ(test::occurrences(level, "\n"), 2u) << level;
    EXPECT_EQ(test::ask(*session, "ls /\n", "QV\n"), "QV\n");
    EXPECT_EQ(test::ask(*session, "cd /\n", "/\n"), "/\n");
    EXPECT_EQ(test::ask(*session, "pwd\n", "/\n"), "/\n");

    EXPECT_EQ(test::ask(*other, "pwd\n", "/\n"),
              "The working node /DEV8300/DEMODS/0 went away; the working path is now /\n/\n");
    EXPECT_EQ(test::ask(*other, "cd ..\n", "ERROR: Internal\n"), "ERROR: Internal\n");
    EXPECT_EQ(test::ask(*other, "ls\n", "QV\n"), "QV\n");
}

TEST_F(InstrumentLife, AWriteAcceptedAsSoonAsANewInstrumentsNodeExistsIsKept) {
    // The node exists once the instrument's groups are built; its start-up
    // values arrive a moment later. Writes sent as fast as a client can meet
    // that moment on every plug-in.
    for (uint32_t serial : {8201u, 8202u, 8203u}) {
        SCOPED_TRACE(serial);
        const std::string device = "/DEV" + std::to_string(serial);
        const std::string rate = device + "/DEMODS/0/RATE";
        auto writer = test::greetedClient(server_->port());
        auto instrument = plug(serial);
        std::string reply;
        ASSERT_TRUE(test::waitUntil(
            [&] {
                writer->clear();
                if (!writer->send(rate + " 1000\n") || !writer->waitFor("\n", 2s)) return false;
                reply = writer->received();
                return reply.rfind(rate + ": ", 0) == 0;
            },
            15s))
            << writer->received();
        EXPECT_EQ(reply, rate + ": 899.465461\r\n");
        ASSERT_TRUE(trees_->waitFor(addLine(serial), 15s)) << trees_->received();
        EXPECT_EQ(test::ask(*writer, rate + " ?\n", "\r\n"), reply);
        const std::string samples = device + "/DEMODS/0/SAMPLE:\r\nTS=";
        EXPECT_TRUE(writer->send("subs " + device + "/demods/0/sample\n") && writer->waitFor(samples, 5s))
            << writer->received().substr(0, 500);
        instrument->unplug();
        ASSERT_TRUE(trees_->waitFor(removeLine(serial), 10s)) << trees_->received();
    }
}

TEST_F(InstrumentLife, AStrangerSocketAndALinkToAnInstrumentKeepNoUpdateWaitingLong) {
    auto instrument = plug(8400);
    ASSERT_TRUE(trees_->waitFor(addLine(8400), 15s)) << trees_->received();
    Stranger stranger(server_->instrumentDirectory() + "/stranger.sock");
    ASSERT_TRUE(stranger.listening());
    const std::string link = server_->instrumentDirectory() + "/link.sock";
    ASSERT_EQ(::symlink(instrument->socketPath().c_str(), link.c_str()), 0);

    // Every update probes the stranger again: at most a control request's
    // time-out each, and the server thread's own update may come first.
    using platform::usb::SocketDevice;
    const auto limit =
        std::chrono::milliseconds(2 * (SocketDevice::kControlTimeoutMs + SocketDevice::kCancelGraceMs) + 500);
    for (int i = 0; i < 3; ++i) {
        const auto asked = std::chrono::steady_clock::now();
        ASSERT_TRUE(test::carryOut(*probe_, "update\n")) << probe_->received();
        EXPECT_LT(std::chrono::steady_clock::now() - asked, limit);
    }
    EXPECT_GE(stranger.connections(), 3);
    EXPECT_EQ(roots(), "QV\nDEV8400\n");
    const std::string output = outputOfTest();
    EXPECT_EQ(test::occurrences(output, "Serious fail"), 0u) << output;
    EXPECT_LE(test::occurrences(output, "Could not access control pipe of the device."), 1u) << output;

    ::unlink(link.c_str());
    instrument->unplug();
    EXPECT_TRUE(trees_->waitFor(removeLine(8400), 10s)) << trees_->received();
}

TEST_F(InstrumentLife, ARefusedInstrumentIsReportedOncePerPlugInHoweverOftenClientsAskForUpdates) {
    const std::string refusal = "Illegal hardware driver version 7436.";
    for (int plugIn = 1; plugIn <= 2; ++plugIn) {
        auto refused = plug(8500, {"--old-driver"});
        ASSERT_TRUE(test::waitUntil(
            [&] { return test::occurrences(outputOfTest(), refusal) >= std::size_t(plugIn); }, 10s))
            << outputOfTest();
        std::string updates;
        for (int i = 0; i < 200; ++i) updates += "update\n";
        ASSERT_TRUE(test::carryOut(*probe_, updates)) << probe_->received();
        EXPECT_EQ(roots(), "QV\n");
        EXPECT_EQ(test::occurrences(outputOfTest(), refusal), std::size_t(plugIn)) << outputOfTest();
        refused->unplug();
        ASSERT_TRUE(test::carryOut(*probe_, "update\n"));
    }
}

}  // namespace
}  // namespace tarnix
