// The edges of an instrument's life, end to end: the qvServer program with
// lq3sim processes, an instrument folder in every state, and what clients
// keep while instruments come and go.
#include "DeviceE2ESupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

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

    // The folder goes away and a link to itself takes its place.
    const std::string folder = server.instrumentDirectory();
    const std::string away = folder + ".away";
    ASSERT_EQ(::rename(folder.c_str(), away.c_str()), 0);
    linkToItself(folder);
    auto client = test::greetedClient(server.port());
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(test::carryOut(*client, "update\n")) << client->received();
    EXPECT_EQ(test::ask(*client, "ls /\n", "DEV8102\n"), "QV\nDEV8102\n");
    const std::string output = serverOutput(server);
    EXPECT_EQ(test::occurrences(output, "Cannot read the instrument folder"), 1u) << output;
    EXPECT_EQ(test::occurrences(output, "Error: "), 0u) << output;

    ::unlink(folder.c_str());
    ASSERT_EQ(::rename(away.c_str(), folder.c_str()), 0);
    ASSERT_TRUE(test::carryOut(*client, "update\n"));
    EXPECT_EQ(test::ask(*client, "ls /\n", "DEV8102\n"), "QV\nDEV8102\n");
    instrument.unplug();
    EXPECT_TRUE(trees->waitFor(removeLine(8102), 10s)) << trees->received();
    EXPECT_EQ(server.stop(), 0) << serverOutput(server);
}

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

}  // namespace
}  // namespace tarnix
