// The text protocol on a session: line assembly, replies and the requests it
// posts into a device tree.
#include "TextTestSupport.h"
#include "platform/endian/ByteOrder.h"
#include "core/tree/TreeTestSupport.h"
#include "server/server/ServerStrings.h"
#include "server/text/AsciiHelpText.h"
#include "server/text/IFaceDataAscii.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace tarnix {
namespace {

constexpr uint32_t kSerial = 4711;

// The demo device plus HIDE, whose two children are hidden from listings; the
// first of them has a visible child.
void buildDevice(const DispatcherTreeLock& lock) {
    test::buildDemoDevice(lock);
    TreeNode::Ptr hide = test::addNode(lock.getNode(), "HIDE", 9);
    for (const char* name : {"A", "B"}) test::addNode(hide, name)->properties()["nolist"] = true;
    test::addNode(hide->childAt(0), "C");
}

class TextSessionTest : public ::testing::Test {
protected:
    TextSessionTest() : tree_(context.treeRegistry(), TreeId::device(kSerial), buildDevice), text_(session_) {
        text_.greet().ignore();
    }

    // Feeds the text as one chunk and returns what the protocol wrote.
    std::string send(const std::string& text) {
        session_.take();
        text_.input(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
        return session_.take();
    }

    std::vector<std::vector<uint8_t>> requests() { return test::drainRecords(tree_.requests()); }

    ServerContext context;
    test::ScopedTree tree_;
    test::FakeSession session_{context};
    IFaceDataAscii text_;
};

std::string greeting() {
    return getServerString(SERVER_STRING_BANNER) + ", " + getServerString(SERVER_STRING_COPYRIGHT) + "\r\n";
}

TEST_F(TextSessionTest, GreetsWithBannerAndCopyright) {
    test::FakeSession session{context};
    IFaceDataAscii text(session);
    EXPECT_EQ(AsciiGreeting(text), QV_NO_ERROR);
    EXPECT_EQ(session.take(), greeting());
    EXPECT_EQ(session.classes, std::vector<int32_t>{WRITE_CLASS_TEXT});
}

TEST_F(TextSessionTest, GetPostsOneReadRequestPerEndpoint) {
    EXPECT_EQ(send("/dev4711/demods/0/rate ?\n"), "");
    auto records = requests();
    ASSERT_EQ(records.size(), 1u);
    ASSERT_EQ(records[0].size(), 12u);
    EXPECT_EQ(le::get16(&records[0][0]), 0);   // sequence tag
    EXPECT_EQ(le::get16(&records[0][2]), 77);  // session tag
    EXPECT_EQ(le::get16(&records[0][8]), DATATYPE_GETVALUE);

    EXPECT_EQ(send("/dev4711/demods/*/rate /4711/demods/1/RATE ?\n"), "");
    EXPECT_EQ(requests().size(), 4u);
}

TEST_F(TextSessionTest, NodesWithoutEndpointAnswerTheirErrors) {
    const std::pair<const char*, const char*> cases[] = {
        {"/dev4711/demods ?\n", "ERROR: No Node to read from\n"},
        {"/nothing ?\n", "ERROR: No Node to read from\n"},
        {"/dev4711/demods 5\n", "ERROR: No Node to write to\n"},
        {"/dev4711/demods 5.5\n", "ERROR: Invalid Path\n"},
        {"/dev4711/demods \"abc\"\n", "ERROR: Invalid Path\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(send(c.first), c.second) << c.first;
    EXPECT_TRUE(requests().empty());
}

TEST_F(TextSessionTest, SetsPostRecordsOfTheValueKind) {
    EXPECT_EQ(send("/dev4711/sigins/0/range 4294967297\n"
                   "/dev4711/sigins/0/range -5\n"
                   "/dev4711/sigins/0/range 1.5k\n"
                   "/dev4711/sigins/0/range \"abc\"\n"),
              "");
    auto records = requests();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(le::get16(&records[0][8]), DATATYPE_INTEGER);
    EXPECT_EQ(int64_t(le::get64(&records[0][12])), 4294967297);  // whole: the node decides
    EXPECT_EQ(int64_t(le::get64(&records[1][12])), -5);
    EXPECT_EQ(le::get16(&records[2][8]), DATATYPE_DOUBLE);
    EXPECT_EQ(le::getDouble(&records[2][12]), 1500.0);
    ASSERT_EQ(records[3].size(), 19u);
    EXPECT_EQ(le::get16(&records[3][8]), DATATYPE_BYTEARRAY);
    EXPECT_EQ(le::get32(&records[3][12]), 3u);
    EXPECT_EQ(std::string(records[3].begin() + 16, records[3].end()), "abc");
}

int64_t singleIntegerSet(const std::vector<std::vector<uint8_t>>& records) {
    EXPECT_EQ(records.size(), 1u);
    return records.empty() ? 0 : int64_t(le::get64(&records[0][12]));
}

TEST_F(TextSessionTest, LineSplitAcrossReadsRunsOnceWhole) {
    EXPECT_EQ(send("/dev4711/sigins/0/range 12"), "");
    EXPECT_TRUE(requests().empty());
    EXPECT_EQ(send("345\n"), "");
    EXPECT_EQ(singleIntegerSet(requests()), 12345);

    // One byte at a time, with a carriage return and newline.
    for (char c : std::string("/dev4711/sigins/0/range 678\r\n")) send(std::string(1, c));
    EXPECT_EQ(singleIntegerSet(requests()), 678);
}

TEST_F(TextSessionTest, PendingLineRunsWhenTheClientStopsSending) {
    send("/dev4711/sigins/0/range 7");
    EXPECT_TRUE(requests().empty());
    text_.input(nullptr, 0);
    EXPECT_EQ(singleIntegerSet(requests()), 7);
    text_.input(nullptr, 0);
    EXPECT_TRUE(requests().empty());
}

TEST_F(TextSessionTest, OverlongLineIsRefusedOnceAndDropped) {
    const std::string chunk(16384, 'a');
    std::string replies;
    for (int i = 0; i < 8; ++i) replies += send(chunk);  // 128 KiB without a line end
    EXPECT_EQ(replies, "Syntax Error\n");
    EXPECT_EQ(send("/dev4711/sigins/0/range 9\nls /dev4711\n"), "DEMODS\nSIGINS\nHIDE\n");
    EXPECT_TRUE(requests().empty());  // the rest of the long line was dropped with it
    EXPECT_EQ(send(std::string(70000, 'b') + "\nls /dev4711\n"), "Syntax Error\nDEMODS\nSIGINS\nHIDE\n");
    // Within the limit, a huge word or string reaches the grammar, which refuses it.
    EXPECT_EQ(send(std::string(65000, 'w') + " ?\n"), "Syntax Error\n");
    EXPECT_EQ(send("x \"" + std::string(65000, 's') + "\"\n"), "Syntax Error\n");
}

// Lines as the assembler hands them on, "|" after each; "!" for a refused line.
struct AssemblyCase {
    std::vector<std::string> chunks;
    const char* lines;
};

class LineCollector : public AsciiLineAssembler::Consumer {
public:
    bool line(const char* text, std::size_t length) override {
        out.append(text, length).append("|");
        return std::string(text, length).find("stop") == std::string::npos;
    }
    void overlong() override { out += "!"; }
    std::string out;
};

TEST(AsciiLineAssembler, CutsChunksIntoWholeLines) {
    const AssemblyCase cases[] = {
        {{"ls\n"}, "ls\n|"},
        {{"a\rb\r\n"}, "a\r|b\r|\n|"},
        {{"x 12", "34", "5\n"}, "x 12345\n|"},
        {{"a;b", "\n"}, "a;b\n|"},
        {{"12345678\n"}, "12345678\n|"},
        {{"123456789\nok\n"}, "!ok\n|"},
        {{"12345", "6789", "more", "\nok\n"}, "!ok\n|"},
        {{"stop\nls\n", "ls\n"}, "stop\n|ls\n|"},
        {{"one\nstop\ntwo\nthr", "ee\n"}, "one\n|stop\n|ee\n|"},
    };
    for (const AssemblyCase& c : cases) {
        AsciiLineAssembler lines(8);
        LineCollector collector;
        for (const std::string& chunk : c.chunks) lines.feed(chunk.data(), chunk.size(), collector);
        EXPECT_EQ(collector.out, c.lines) << c.chunks[0];
        EXPECT_LE(lines.pendingLength(), 8u);
    }
}

TEST(AsciiLineAssembler, FinishRunsThePendingLineOnce) {
    AsciiLineAssembler lines(8);
    LineCollector collector;
    lines.feed("ls\nx 5", 6, collector);
    lines.finish(collector);
    lines.finish(collector);
    EXPECT_EQ(collector.out, "ls\n|x 5\n|");
}

TEST_F(TextSessionTest, SelectSetsTheBaseOfRelativePaths) {
    EXPECT_EQ(send("pwd\n"), "\n");
    EXPECT_EQ(send("cd /dev4711/demods\n"), "/DEV4711/DEMODS\n");
    EXPECT_EQ(send("sel ?\n"), "/DEV4711/DEMODS\n");
    EXPECT_EQ(send("0/rate ?\n"), "");
    EXPECT_EQ(requests().size(), 1u);
    EXPECT_EQ(send("cd ..\n"), "/DEV4711\n");
    EXPECT_EQ(send("cd /nothing\n"), "ERROR: Internal\n");
    EXPECT_EQ(send("pwd\n"), "/DEV4711\n");
    EXPECT_EQ(send("sigins/0/range 3\n"), "");
    EXPECT_EQ(singleIntegerSet(requests()), 3);
    std::string wildcard = send("sel /dev4711/demods/*\n");
    EXPECT_TRUE(wildcard.rfind("/DEV4711/DEMODS/", 0) == 0) << wildcard;
    EXPECT_EQ(send("cd /\n"), "/\n");
    EXPECT_EQ(text_.currentPath(), "/");
}

TEST_F(TextSessionTest, ListingsAndTheirErrors) {
    const std::pair<const char*, const char*> cases[] = {
        {"ls /dev4711\n", "DEMODS\nSIGINS\nHIDE\n"},
        {"ls /dev4711/sigins /dev4711/sigins\n", "0\n"},
        {"tr /dev4711/sigins\n", "0\n  RANGE\n"},
        {"ls /dev4711/sigins/0/range\n", "ERROR: Invalid Path\n"},
        {"ls /nothing\n", "ERROR: Invalid Path\n"},
        {"ls /dev4711/hide\n", ""},
        {"tr /dev4711/hide\n", "  C\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(send(c.first), c.second) << c.first;
    send("cd /dev4711/sigins\n");
    EXPECT_EQ(send("tr\n"), "0\n  RANGE\n");
    EXPECT_EQ(send("# note\nls\n"), "0\n");
}

TEST_F(TextSessionTest, SubscribeAndUnsubscribeQuietly) {
    const auto& range = tree_.root()->childAt(1)->childAt(0)->childAt(0)->endpoint();
    ASSERT_TRUE(range);
    EXPECT_EQ(send("subs /dev4711/sigins\n"), "");
    EXPECT_EQ(range->subscribers, std::list<SessionClient*>{&session_.client});
    EXPECT_EQ(send("unsubs /dev4711\n"), "");
    EXPECT_TRUE(range->subscribers.empty());
}

TEST_F(TextSessionTest, ProtocolSwitchDropsTheRestOfTheInput) {
    EXPECT_EQ(send("proto foo\n"), "ERROR: Unknown protocol\n");
    EXPECT_EQ(send("proto ascii\nls /dev4711\n"), "DEMODS\nSIGINS\nHIDE\n");
    EXPECT_EQ(send("proto BIN\nls /dev4711\n/dev4711/sigins/0/range 1\n"), "");
    EXPECT_EQ(session_.requested, (std::vector<InterfaceType>{INTERFACE_TEXT, INTERFACE_BINARY}));
    EXPECT_EQ(send("ls /dev4711\n"), "");
    EXPECT_TRUE(requests().empty());
}

TEST_F(TextSessionTest, ExitClosesAndRunsNothingAfter) {
    EXPECT_EQ(send("exit\n/dev4711/sigins/0/range 5\n"), "");
    EXPECT_EQ(session_.closeCalls, 1);
    EXPECT_TRUE(requests().empty());
}

TEST_F(TextSessionTest, HelpIsHeaderAndPageInTwoWrites) {
    session_.classes.clear();
    std::string page(asciiHelpText());
    EXPECT_EQ(page.size(), 1074u);
    EXPECT_EQ(send("help\n"), "\n" + getServerString(SERVER_STRING_BANNER) + ", " +
                                  getServerString(SERVER_STRING_COPYRIGHT) + "\n\n" + page);
    EXPECT_EQ(session_.classes, (std::vector<int32_t>{WRITE_CLASS_TEXT, WRITE_CLASS_TEXT}));
    EXPECT_EQ(page.substr(page.size() - 22), "help\t\tShows this page\n");
}

}  // namespace
}  // namespace tarnix
