// The text protocol end to end with simulated instruments: a command that
// fails says so in one error line, one that succeeds prints what it always
// did, and a session whose working node went away never runs a relative
// command on another instrument.
#include "DeviceE2ESupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tarnix {
namespace {

using namespace std::chrono_literals;
using test::addLine;
using test::ask;
using test::removeLine;

constexpr uint32_t kFirst = 1234;
constexpr uint32_t kSecond = 5678;
// Its configuration never finishes: it is never announced, so no path names it.
constexpr uint32_t kUnready = 999;

class TextFailureEndToEnd : public test::DeviceServerFixture {
protected:
    void SetUp() override {
        DeviceServerFixture::SetUp();
        for (uint32_t serial : {kFirst, kSecond}) {
            instruments_.push_back(plug(serial, {"--running"}));
            ASSERT_TRUE(trees_->waitFor(addLine(serial), 15s)) << trees_->received();
        }
        instruments_.push_back(plug(kUnready, {"--no-done"}));
        ASSERT_TRUE(waitForOutput("Got QVSerial: 999", 15s)) << outputOfTest();
    }
    void TearDown() override {
        for (auto& instrument : instruments_) {
            if (!instrument) continue;
            instrument->unplug();
            instrument.reset();
        }
        EXPECT_TRUE(test::waitUntil([&] { return !listed(kFirst) && !listed(kSecond) && !listed(kUnready); }, 10s))
            << roots();
    }

    std::vector<std::unique_ptr<test::Simulator>> instruments_;
};

struct TextCase {
    const char* command;
    const char* answer;
};

TEST_F(TextFailureEndToEnd, EveryFailedCommandPrintsOneErrorLineAndSuccessesPrintWhatTheyDid) {
    const TextCase cases[] = {
        // Failures found by the node (bad value text, read-only node, a node
        // that cannot be read) come back from the node's owner.
        {"/dev1234/demods/0/rate \"abc\"\n", "ERROR: Command failed\n"},
        {"/dev1234/features/serial 5\n", "ERROR: Command failed\n"},
        {"/qv/trees ?\n", "ERROR: Command failed\n"},
        {"/qv/config/port \"x\"\n", "ERROR: Command failed\n"},
        // Paths that name nothing.
        {"subs /NOSUCHNODE\n", "ERROR: Invalid Path\n"},
        {"unsubs /NOSUCHNODE\n", "ERROR: Invalid Path\n"},
        {"/NOSUCHNODE 5\n", "ERROR: No Node to write to\n"},
        {"/NOSUCHNODE ?\n", "ERROR: No Node to read from\n"},
        {"ls /NOSUCHNODE\n", "ERROR: Invalid Path\n"},
        {"/dev999/clockbase ?\n", "ERROR: No Node to read from\n"},
        // Successes print what they always printed.
        {"/dev1234/features/serial ?\n", "/DEV1234/FEATURES/SERIAL: 1234\n"},
        {"/dev5678/features/serial ?\n", "/DEV5678/FEATURES/SERIAL: 5678\n"},
        {"subs /qv/trees\npwd\n", "\n"},
        {"unsubs /qv/trees\npwd\n", "\n"},
        {"cd /dev1234/demods\n", "/DEV1234/DEMODS\n"},
        {"cd /\n", "/\n"},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(ask(*probe_, c.command, c.answer), c.answer);
    }
}

TEST_F(TextFailureEndToEnd, ARelativeCommandOfASessionWhoseWorkingNodeWentAwayNamesNothing) {
    const std::string rate = "/dev5678/demods/0/rate ?\n";
    const std::string before = ask(*probe_, rate, "\r\n");
    auto relative = test::greetedClient(server_->port());
    auto absolute = test::greetedClient(server_->port());
    for (auto* client : {relative.get(), absolute.get()})
        ASSERT_EQ(ask(*client, "cd /dev1234\n", "/DEV1234\n"), "/DEV1234\n");

    instruments_[0]->unplug();
    instruments_[0].reset();
    ASSERT_TRUE(trees_->waitFor(removeLine(kFirst), 10s)) << trees_->received();

    const std::string notice = "The working node /DEV1234 went away; the working path is now /\n";
    // From the root, "*" would be DEV5678.
    const std::string set = "*/demods/0/rate 55\n";
    EXPECT_EQ(ask(*relative, set, "ERROR"), notice + "ERROR: No Node to write to\n");
    // The commands after it run from the root.
    EXPECT_EQ(ask(*relative, "pwd\n", "/\n"), "/\n");
    EXPECT_EQ(ask(*relative, "dev5678/features/serial ?\n", "5678\n"), "/DEV5678/FEATURES/SERIAL: 5678\n");
    // Absolute paths keep working, right after the loss too.
    const std::string after = ask(*absolute, rate, "\r\n");
    EXPECT_EQ(after, notice + before);
    EXPECT_EQ(ask(*probe_, rate, "\r\n"), before) << "DEV5678 was set";
}

}  // namespace
}  // namespace tarnix
