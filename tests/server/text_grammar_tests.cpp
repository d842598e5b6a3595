// The text protocol's scanner and grammar: which command each line becomes.
#include "TextTestSupport.h"
#include "server/text/AsciiParser.h"
#include "server/text/AsciiValue.h"

#include <gtest/gtest.h>

#include <cstring>

#include <string>
#include <vector>

namespace tarnix {
namespace {

using Calls = std::vector<std::string>;

Calls parse(const std::string& text) {
    test::RecordingHandler handler;
    AsciiParser parser(handler);
    parser.parse(text.data(), text.size());
    return handler.calls;
}

struct GrammarCase {
    const char* input;
    Calls calls;
};

void PrintTo(const GrammarCase& c, std::ostream* os) { *os << '"' << c.input << '"'; }

class GrammarTest : public ::testing::TestWithParam<GrammarCase> {};

TEST_P(GrammarTest, LineBecomesCommands) { EXPECT_EQ(parse(GetParam().input), GetParam().calls); }

INSTANTIATE_TEST_SUITE_P(
    Commands, GrammarTest,
    ::testing::Values(
        GrammarCase{"ls\n", {"ls()"}}, GrammarCase{"ls\r\n", {"ls()"}}, GrammarCase{"ls;\n", {"ls()"}},
        GrammarCase{"ls;;ls\n", {"ls()", "ls()"}}, GrammarCase{"ls /dev1234 qv\n", {"ls(/dev1234 qv)"}},
        GrammarCase{"tr\n", {"tr()"}}, GrammarCase{"tr /a/b\n", {"tr(/a/b)"}},
        GrammarCase{"cd /dev1234\n", {"select(/dev1234)"}}, GrammarCase{"sel /dev1234\n", {"select(/dev1234)"}},
        GrammarCase{"sel ?\n", {"printPath"}}, GrammarCase{"pwd\n", {"printPath"}},
        GrammarCase{"subs /qv/trees\n", {"subs(/qv/trees)"}}, GrammarCase{"subs\n", {"subs()"}},
        GrammarCase{"unsubs *\n", {"unsubs(*)"}}, GrammarCase{"unsubs\n", {"unsubs()"}},
        GrammarCase{"proto bin\n", {"proto(bin)"}}, GrammarCase{"proto BIN\n", {"proto(BIN)"}},
        GrammarCase{"update\n", {"update"}}, GrammarCase{"help\n", {"help"}}, GrammarCase{"exit\n", {"exit"}},
        GrammarCase{"\n", {}}, GrammarCase{" \t\n", {}}, GrammarCase{";;;\n", {}},
        GrammarCase{"?\n", {"get()"}}, GrammarCase{" ?\n", {"get()"}}));

INSTANTIATE_TEST_SUITE_P(
    PathsAndValues, GrammarTest,
    ::testing::Values(
        GrammarCase{"/dev1234/demods/0/rate ?\n", {"get(/dev1234/demods/0/rate)"}},
        GrammarCase{"x y ?\n", {"get(x y)"}}, GrammarCase{"x y 5\n", {"setInteger(x y|5)"}},
        GrammarCase{"../x ?\n", {"get(../x)"}}, GrammarCase{"x/.. ?\n", {"get(x/..)"}},
        GrammarCase{"x/007 ?\n", {"get(x/7)"}}, GrammarCase{"x/0x10 ?\n", {"get(x/16)"}},
        GrammarCase{"/ ?\n", {"get(/)"}}, GrammarCase{"x//y ?\n", {"get(x//y)"}},
        GrammarCase{"  x ?\n", {"get( x)"}}, GrammarCase{"dev* ?\n", {"get(dev*)"}},
        GrammarCase{"x 1 2\n", {"setInteger(x 1|2)"}},
        GrammarCase{"x 0b101\n", {"setInteger(x|5)"}}, GrammarCase{"x 0x1F\n", {"setInteger(x|31)"}},
        GrammarCase{"x 1e3\n", {"setDouble(x|1000)"}}, GrammarCase{"x 1.5\n", {"setDouble(x|1.5)"}},
        GrammarCase{"x .5\n", {"setDouble(x|0.5)"}}, GrammarCase{"x 2.5E-1\n", {"setDouble(x|0.25)"}},
        GrammarCase{"x \"a b\"\n", {"setText(x|a b)"}}, GrammarCase{"x \"a;b\"\n", {"setText(x|a;b)"}},
        GrammarCase{"x \"say \"hi\"\"\n", {"setText(x|say \"hi\")"}}, GrammarCase{"x \"\"\n", {"setText(x|)"}},
        GrammarCase{"x 1.5k\n", {"setDouble(x|1500)"}}, GrammarCase{"x 2k\n", {"setInteger(x|2000)"}},
        GrammarCase{"x 3M\n", {"setInteger(x|3000000)"}}, GrammarCase{"x 20G\n", {"setInteger(x|20000000000)"}},
        GrammarCase{"x 5m\n", {"setDouble(x|0.005)"}}, GrammarCase{"x 2u\n", {"setDouble(x|2e-06)"}},
        GrammarCase{"x 4n\n", {"setDouble(x|4e-09)"}}, GrammarCase{"x (1+2)\n", {"setDouble(x|3)"}},
        GrammarCase{"x -(4)\n", {"setInteger(x|-4)"}}, GrammarCase{"x (7/2)\n", {"setDouble(x|3.5)"}},
        GrammarCase{"x (1-3)\n", {"setDouble(x|-2)"}}, GrammarCase{"x (2*3)\n", {"syntax"}},
        GrammarCase{"x (1+2/4-1)\n", {"setDouble(x|0.5)"}}, GrammarCase{"x (1 + 2)\n", {"syntax"}},
        GrammarCase{"x +3\n", {"setInteger(x|3)"}}, GrammarCase{"x -2.5\n", {"setDouble(x|-2.5)"}},
        GrammarCase{"x (-1k)\n", {"setInteger(x|-1000)"}}, GrammarCase{"x (1/0)\n", {"setDouble(x|inf)"}},
        GrammarCase{"5\n", {"setInteger(|5)"}}, GrammarCase{"-7.25\n", {"setDouble(|-7.25)"}},
        GrammarCase{"\"text\"\n", {"setText(|text)"}}, GrammarCase{"x 12345\n", {"setInteger(x|12345)"}}));

// Blanks and tabs between a command's last token and its line end are ignored.
INSTANTIATE_TEST_SUITE_P(
    TrailingBlanks, GrammarTest,
    ::testing::Values(GrammarCase{"x ? \n", {"get(x)"}}, GrammarCase{"x ?\t \r\n", {"get(x)"}},
                      GrammarCase{"x 5 \n", {"setInteger(x|5)"}}, GrammarCase{"ls  \n", {"ls()"}},
                      GrammarCase{"ls /a \t\n", {"ls(/a)"}}, GrammarCase{"pwd ;ls\n", {"printPath", "ls()"}},
                      GrammarCase{"x \"a \" \n", {"setText(x|a )"}}, GrammarCase{"x \n", {"syntax"}},
                      GrammarCase{"x ?  y\n", {"syntax"}}));

// Path segments that start with digits and go on with letters or digits are
// words; numbers, with or without a unit letter, keep their meaning.
INSTANTIATE_TEST_SUITE_P(
    SegmentsStartingWithDigits, GrammarTest,
    ::testing::Values(
        GrammarCase{"/dev1234/stats/physical/1v2 ?\n", {"get(/dev1234/stats/physical/1v2)"}},
        GrammarCase{"/dev1234/stats/physical/5V0 ?\n", {"get(/dev1234/stats/physical/5V0)"}},
        GrammarCase{"3v3/x 2V5 ?\n", {"get(3v3/x 2V5)"}}, GrammarCase{"x/1* ?\n", {"get(x/1*)"}},
        GrammarCase{"x/12ab34 ?\n", {"get(x/12ab34)"}}, GrammarCase{"x/5kg ?\n", {"get(x/5kg)"}},
        GrammarCase{"x/0xg ?\n", {"get(x/0xg)"}}, GrammarCase{"x/1v2 3\n", {"setInteger(x/1v2|3)"}},
        GrammarCase{"x 5k\n", {"setInteger(x|5000)"}}, GrammarCase{"x 1.5k\n", {"setDouble(x|1500)"}},
        GrammarCase{"x 5m\n", {"setDouble(x|0.005)"}}, GrammarCase{"x 0x1F\n", {"setInteger(x|31)"}},
        GrammarCase{"x 0b101\n", {"setInteger(x|5)"}}, GrammarCase{"x 1e3\n", {"setDouble(x|1000)"}},
        GrammarCase{"x 2e-3\n", {"setDouble(x|0.002)"}}, GrammarCase{"x 1e3k\n", {"setDouble(x|1000000)"}},
        GrammarCase{"x 0x1Fk\n", {"setInteger(x|31000)"}}, GrammarCase{"x 0b11M\n", {"setInteger(x|3000000)"}},
        GrammarCase{"x/10 ?\n", {"get(x/10)"}}, GrammarCase{"x 1v2\n", {"syntax"}}));

INSTANTIATE_TEST_SUITE_P(
    IntegersBeyond64BitsSaturate, GrammarTest,
    ::testing::Values(GrammarCase{"x -9223372036854775808\n", {"setInteger(x|-9223372036854775807)"}},
                      GrammarCase{"x 18446744073709551615\n", {"setInteger(x|9223372036854775807)"}},
                      GrammarCase{"x 0xFFFFFFFFFFFFFFFF\n", {"setInteger(x|-1)"}},
                      GrammarCase{"x 10000000000G\n", {"setInteger(x|9223372036854775807)"}},
                      GrammarCase{"x -(-9223372036854775808)\n", {"setInteger(x|9223372036854775807)"}},
                      GrammarCase{"x (9223372036854775807+1)\n", {"setDouble(x|9.22337203685478e+18)"}}));

INSTANTIATE_TEST_SUITE_P(
    SyntaxErrorsAndRecovery, GrammarTest,
    ::testing::Values(
        GrammarCase{"CD /dev1234\n", {"syntax"}}, GrammarCase{"LS\n", {"syntax"}}, GrammarCase{"lsx\n", {"syntax"}},
        GrammarCase{"sell\n", {"syntax"}}, GrammarCase{"proto \"bin\"\n", {"syntax"}},
        GrammarCase{"cd\n", {"syntax"}}, GrammarCase{"x\n", {"syntax"}}, GrammarCase{"x \n", {"syntax"}},
        GrammarCase{"./x ?\n", {"syntax"}}, GrammarCase{"x/. ?\n", {"syntax"}}, GrammarCase{"x 1.\n", {"syntax"}},
        GrammarCase{"x_y ?\n", {"syntax"}}, GrammarCase{"x 5ms\n", {"syntax"}}, GrammarCase{"  ls\n", {"syntax"}},
        GrammarCase{"bad bad bad\nls\n", {"syntax", "ls()"}},
        GrammarCase{"bad\nbad\nbad\n", {"syntax", "syntax", "syntax"}},
        GrammarCase{"ls x;bad bad;pwd\n", {"ls(x)", "syntax", "printPath"}},
        GrammarCase{"x \"open\n", {"syntax"}}, GrammarCase{"x =5\n", {"setInteger(x|5)"}}, GrammarCase{"x_=5\n", {"syntax"}}));

INSTANTIATE_TEST_SUITE_P(
    Comments, GrammarTest,
    ::testing::Values(GrammarCase{"# note\nls\n", {"ls()"}}, GrammarCase{"ls # list\n", {"ls()"}},
                      GrammarCase{"x 5 # five\n", {"setInteger(x|5)"}}, GrammarCase{"x 5# five\n", {"setInteger(x|5)"}},
                      GrammarCase{"#\r\n", {}}, GrammarCase{"x \"#\"\n", {"setText(x|#)"}}));

std::string repeat(const std::string& text, std::size_t times) {
    std::string result;
    for (std::size_t i = 0; i < times; ++i) result += text;
    return result;
}

TEST(GrammarLimits, PathListsUpTo1023CharactersOnly) {
    std::string word1023(1023, 'a');
    EXPECT_EQ(parse(word1023 + " ?\n"), Calls{"get(" + word1023 + ")"});
    EXPECT_EQ(parse(std::string(1024, 'a') + " ?\n"), Calls{"syntax"});

    std::string segments = repeat("abc/", 255) + "abc";  // 1023 characters
    EXPECT_EQ(parse(segments + " ?\n"), Calls{"get(" + segments + ")"});
    EXPECT_EQ(parse(segments + "d ?\n"), Calls{"syntax"});
    EXPECT_EQ(parse(segments + "/d ?\nls\n"), (Calls{"syntax", "ls()"}));

    std::string paths = repeat("abc ", 255) + "abc";
    EXPECT_EQ(parse(paths + " ?\n"), Calls{"get(" + paths + ")"});
    EXPECT_EQ(parse(paths + " d 5\n"), Calls{"syntax"});
    EXPECT_EQ(parse("sel " + paths + " d\n"), Calls{"syntax"});
}

TEST(GrammarLimits, QuotedTextsUpTo1023Characters) {
    std::string text(1023, 't');
    EXPECT_EQ(parse("x \"" + text + "\"\n"), Calls{"setText(x|" + text + ")"});
    EXPECT_EQ(parse("x \"" + text + "t\"\nls\n"), (Calls{"syntax", "ls()"}));
}

TEST(GrammarLimits, DeepNestingGrowsTheStackUpToItsLimit) {
    EXPECT_EQ(parse("x " + repeat("(", 300) + "1" + repeat(")", 300) + "\n"), Calls{"setInteger(x|1)"});
    // Beyond the parser's 10,000 states the line is refused, the next one runs.
    test::RecordingHandler handler;
    AsciiParser parser(handler);
    std::string deep = "x " + repeat("(", 12000) + "1" + repeat(")", 12000) + "\n";
    parser.parse(deep.data(), deep.size());
    parser.parse("ls\n", 3);
    EXPECT_EQ(handler.calls, (Calls{"syntax", "ls()"}));
}

TEST(GrammarInput, ArbitraryBytesNeverRunGarbageAsCommands) {
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        if (i != '#') bytes.push_back(char(i));
    bytes += "\n";
    Calls calls = parse(bytes);
    for (const std::string& call : calls) EXPECT_EQ(call, "syntax");
    EXPECT_EQ(parse(std::string("ls\0x\n", 5)), Calls{"syntax"});
    EXPECT_EQ(parse(std::string("\0ls\n", 4)), Calls{"ls()"});
}

TEST(GrammarInput, ClosedHandlerTakesNoFurtherCommands) {
    test::RecordingHandler handler;
    handler.closeAfterExit = true;
    AsciiParser parser(handler);
    std::string text = "exit;ls\nbad bad\npwd\n";
    parser.parse(text.data(), text.size());
    EXPECT_EQ(handler.calls, Calls{"exit"});
}

TEST(GrammarValues, IntegersThatLeave64BitsSaturateInsteadOfWrapping) {
    using namespace impl;
    EXPECT_EQ(asciiNegate(asciiInteger(INT64_MIN)).integer, INT64_MAX);
    EXPECT_EQ(asciiNegate(asciiInteger(5)).integer, -5);
    EXPECT_EQ(asciiScale(asciiInteger(INT64_MAX), 'k').integer, INT64_MAX);
    EXPECT_EQ(asciiScale(asciiInteger(-20000000000), 'G').integer, INT64_MIN);
    EXPECT_EQ(asciiScale(asciiInteger(3), 'k').integer, 3000);
    EXPECT_EQ(asciiScale(asciiInteger(3), 'm').kind, AsciiValueKind::Double);
    EXPECT_DOUBLE_EQ(asciiScale(asciiDouble(1.5), 'G').real, 1.5e9);
    EXPECT_DOUBLE_EQ(asciiAdd(asciiInteger(INT64_MAX), asciiInteger(INT64_MAX)).real, 2.0 * double(INT64_MAX));
    EXPECT_DOUBLE_EQ(asciiSubtract(asciiInteger(INT64_MIN), asciiInteger(1)).real, double(INT64_MIN) - 1.0);
    const struct {
        const char* digits;
        unsigned base;
        int64_t value;
    } literals[] = {
        {"18446744073709551617", 10, INT64_MAX},  // 2^64 + 1 would be 1
        {"18446744073709551615", 10, INT64_MAX},  // 2^64 - 1 would be -1
        {"9223372036854775808", 10, INT64_MAX},
        {"9223372036854775807", 10, INT64_MAX},
        {"4294967297", 10, 4294967297},
        {"ffffffffffffffff1", 16, INT64_MAX},
        {"ffffffffffffffff", 16, -1},
        {"80000000", 16, 0x80000000},
    };
    for (const auto& literal : literals) {
        SCOPED_TRACE(literal.digits);
        EXPECT_EQ(asciiParseUnsigned(literal.digits, std::strlen(literal.digits), literal.base), literal.value);
    }
}

}  // namespace
}  // namespace tarnix
