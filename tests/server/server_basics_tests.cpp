// Session ids, the server texts and the command line.
#include "core/QVException.h"
#include "server/program/CommandLine.h"
#include "server/server/ServerContext.h"
#include "server/server/ServerStrings.h"
#include "server/session/SessionIds.h"

#include <boost/program_options/errors.hpp>
#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <vector>

namespace tarnix {
namespace {

TEST(SessionIds, SkipZeroTheUnsolicitedTagAndIdsInUse) {
    SessionIds ids;
    std::vector<uint16_t> taken;
    uint16_t id = 0;
    const uint32_t before = ids.inUse();
    while (ids.acquire(id)) {
        ASSERT_NE(id, 0);
        ASSERT_NE(id, 0xFFFF);
        taken.push_back(id);
    }
    EXPECT_EQ(taken.size() + before, 65534u);

    // A freed id is handed out again only after the counter has come round.
    ids.release(taken[10]);
    ASSERT_TRUE(ids.acquire(id));
    EXPECT_EQ(id, taken[10]);
    for (uint16_t t : taken) ids.release(t);
    EXPECT_EQ(ids.inUse(), before);

    uint16_t a = 0, b = 0;
    ASSERT_TRUE(ids.acquire(a));
    ids.release(a);
    ASSERT_TRUE(ids.acquire(b));
    EXPECT_NE(a, b) << "a closed session's id must not come back at once";
    ids.release(b);
}

TEST(ServerContext, TwoServersShareNeitherProtocolsNorSessionIds) {
    ServerContext first, second;
    registerServerProtocols(first.protocols());
    EXPECT_NE(getProtocolHooks(first.protocols(), INTERFACE_TEXT), nullptr);
    EXPECT_EQ(getProtocolHooks(second.protocols(), INTERFACE_TEXT), nullptr);

    uint16_t a = 0, b = 0;
    ASSERT_TRUE(first.sessionIds().acquire(a));
    ASSERT_TRUE(second.sessionIds().acquire(b));
    EXPECT_EQ(a, b) << "each server counts its own ids";
    EXPECT_EQ(first.sessionIds().inUse(), 1u);
    second.sessionIds().release(b);
    EXPECT_EQ(first.sessionIds().inUse(), 1u);
    EXPECT_EQ(second.sessionIds().inUse(), 0u);
    EXPECT_NE(&first.treeRegistry(), &second.treeRegistry());
}

TEST(ServerStrings, TextsByIdAndTheBanner) {
    EXPECT_EQ(getServerString(0), "12.08");
    EXPECT_EQ(getServerString(1), "revision 17045");
    EXPECT_EQ(getServerString(2), "qvServer V12.08 revision 17045/Linux");
    EXPECT_FALSE(getServerString(3).empty());
    for (int bad : {4, -1}) {
        try {
            getServerString(bad);
            FAIL() << bad;
        } catch (const QVException& e) {
            EXPECT_STREQ(e.what(), "Illegal string id.");
        }
    }
}

ServerOptions parse(std::vector<const char*> args) {
    args.insert(args.begin(), "qvServer");
    return parseServerOptions(int(args.size()), args.data(), serverOptionTable());
}

TEST(CommandLine, DefaultsAndEveryOption) {
    ServerOptions d = parse({});
    EXPECT_FALSE(d.help || d.version || d.progAlways || d.openOverride);
    EXPECT_EQ(d.port, 8005);
    EXPECT_TRUE(d.endless);
    EXPECT_EQ(d.debug, 3);

    ServerOptions all = parse({"-h", "-v", "--prog-always", "true", "--open-override", "-p", "32767", "--endless=0",
                               "--debug", "-1"});
    EXPECT_TRUE(all.help && all.version && all.progAlways && all.openOverride);
    EXPECT_EQ(all.port, 32767);
    EXPECT_FALSE(all.endless);
    EXPECT_EQ(all.debug, -1);
}

TEST(CommandLine, ThePortIsATcpPort) {
    const std::vector<std::pair<const char*, uint16_t>> good{{"1", 1}, {"8005", 8005}, {"41000", 41000},
                                                              {"65535", 65535}, {"00080", 80}};
    for (const auto& [text, port] : good) EXPECT_EQ(parse({"-p", text}).port, port) << text;
    for (const char* text : {"0", "65536", "99999", "-2", "+5", "1e3", "", " 80", "word"}) {
        try {
            parse({"--port", text});
            ADD_FAILURE() << "took '" << text << "'";
        } catch (const boost::program_options::error& e) {
            // The option library leaves an empty value out of its text.
            const std::string value = *text ? std::string("('") + text + "') " : "";
            EXPECT_EQ(std::string(e.what()), "the argument " + value + "for option '--port' is invalid");
        }
    }
}

TEST(CommandLine, BadArgumentsThrow) {
    const std::vector<std::vector<const char*>> bad{{"-p", "70000"}, {"--port=-2"}, {"-p", "word"},
                                                    {"--unknown"},   {"--prog-always"}, {"--endless", "maybe"},
                                                    {"-h", "x", "-q"}};
    for (const auto& args : bad) EXPECT_THROW(parse(args), boost::program_options::error) << args[0];
}

TEST(CommandLine, TheTableListsTheOptionsInOrder) {
    std::ostringstream text;
    text << serverOptionTable();
    const std::string table = text.str();
    EXPECT_EQ(table.rfind("Options:", 0), 0u);
    size_t at = 0;
    for (const char* name : {"--help", "--version", "--prog-always", "--open-override", "--port", "--endless",
                             "--debug"}) {
        size_t found = table.find(name, at);
        ASSERT_NE(found, std::string::npos) << name;
        at = found;
    }
    // The library wraps long help texts; compare with the blanks folded.
    std::string folded;
    for (char ch : table)
        if (!(std::isspace(static_cast<unsigned char>(ch)) && !folded.empty() && folded.back() == ' '))
            folded += std::isspace(static_cast<unsigned char>(ch)) ? ' ' : ch;
    EXPECT_NE(folded.find("Set the debug level (trace:0, info:1, debug:2, warning:3, error:4, fatal:5, status:6)"),
              std::string::npos);
}

}  // namespace
}  // namespace tarnix
