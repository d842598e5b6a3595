#include "SystemGroupFixture.h"

#include "core/LogCapture.h"
#include "groups/CPUsPrintf.h"
#include "groups/data/GroupFamilyData.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tarnix {
namespace {

using test::blocks;
using test::words;

constexpr uint32_t kStatus = 0x02200000;
constexpr uint32_t kStatusStride = 1024;
constexpr uint32_t kPrintWindow = kStatus + kStatusStride - 256;

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A text as the CPU packs it: whole words, each in the CPU's byte order.
Bytes packed(const std::string& text) {
    Bytes bytes(text.begin(), text.end());
    bytes.resize((bytes.size() + 3) / 4 * 4, '_');
    swapBytes32(bytes.data(), bytes.size());
    return bytes;
}
Bytes message(uint32_t type, const Bytes& payload = {}, uint32_t address = kPrintWindow) {
    return words({address, type}) + payload;
}
Bytes textCount(uint32_t n) { return message(RTKPRINTF_TEXT_COUNT, words({n})); }
Bytes textPart(const std::string& text) {
    return message(RTKPRINTF_TEXT_PART, words({uint32_t(text.size())}) + packed(text));
}
Bytes format(uint32_t arguments, const std::string& text) {
    return message(RTKPRINTF_FORMAT, words({arguments, uint32_t(text.size())}) + packed(text));
}
Bytes integer(int32_t v) { return message(RTKPRINTF_ARG_INTEGER, words({uint32_t(v)})); }
Bytes real(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    return message(RTKPRINTF_ARG_DOUBLE, words({uint32_t(bits >> 32), uint32_t(bits)}));
}
Bytes text(const std::string& t) { return message(RTKPRINTF_ARG_TEXT, words({uint32_t(t.size())}) + packed(t)); }

class PrintTest : public test::SystemGroupTest {
protected:
    void SetUp() override {
        test::SystemGroupTest::SetUp();
        ASSERT_EQ(build(13, blocks({{0x02000000, 0, 16, 1}, {0x02100000, 0, 0x1000, 1}, {kStatus, 0, kStatusStride, 1}})),
                  QV_NO_ERROR);
        dev.takeOutput();
    }
    RTKPrintfDecoder& decoder() { return familyDataOf(state()).system.printDecoders.at(0); }
    QV_STATUS send(const Bytes& m) { return RTKPrintfHandleMessage(dev, m.data(), uint32_t(m.size()), decoder(), kPrintWindow); }
    // The lines pushed to CPUS/0/OUTPUT.
    std::vector<std::string> lines() {
        std::vector<std::string> out;
        for (const test::OutputRecord& r : dev.takeOutput()) {
            EXPECT_EQ(r.header.endpointId, uint32_t(idOf("CPUS/0/OUTPUT")));
            EXPECT_EQ(r.header.kind, DATATYPE_BYTEARRAY);
            EXPECT_EQ(r.header.flags, VALUE_FLAG_CHANGED);
            EXPECT_EQ(r.header.sessionTag, kUnsolicitedSessionTag);
            out.push_back(r.asText());
        }
        return out;
    }
};

struct PrintCase {
    const char* what;
    std::vector<Bytes> messages;
    std::vector<QV_STATUS> statuses;
    std::vector<std::string> lines;
    RTKPrintfDecoder::State finalState;
};

class PrintSequenceTest : public PrintTest, public testing::WithParamInterface<PrintCase> {};

TEST_P(PrintSequenceTest, PrintsWhatTheMessagesSay) {
    const PrintCase& c = GetParam();
    std::vector<QV_STATUS> statuses;
    for (const Bytes& m : c.messages) statuses.push_back(send(m));
    EXPECT_EQ(statuses, c.statuses);
    EXPECT_EQ(lines(), c.lines);
    EXPECT_EQ(decoder().state, c.finalState);
}

constexpr QV_STATUS OK = QV_NO_ERROR;
constexpr QV_STATUS REFUSED = QV_BUFFER_TOO_SMALL;
constexpr RTKPrintfDecoder::State IDLE = RTKPrintfDecoder::State::Idle;

INSTANTIATE_TEST_SUITE_P(
    Messages, PrintSequenceTest,
    testing::Values(
        PrintCase{"two text parts", {textCount(2), textPart("Hello"), textPart("World")}, {OK, OK, OK}, {"Hello", "World"}, IDLE},
        PrintCase{"integer and double",
                  {format(2, "x=%d y=%5.2f"), integer(7), real(1.5)}, {OK, OK, OK}, {"x=7 y= 1.50"}, IDLE},
        PrintCase{"negative and hexadecimal",
                  {format(2, "%i/%x"), integer(-3), integer(255)}, {OK, OK, OK}, {"-3/ff"}, IDLE},
        PrintCase{"percent sign after the last conversion", {format(1, "load %u%%"), integer(42)}, {OK, OK}, {"load 42%"}, IDLE},
        PrintCase{"percent sign before a conversion", {format(1, "100%% of %d"), integer(5)}, {OK, OK}, {"100% of 5"}, IDLE},
        PrintCase{"%n is removed", {format(1, "a%nb%d"), integer(1)}, {OK, OK}, {"ab1"}, IDLE},
        PrintCase{"a percent sign in a text argument is no conversion",
                  {format(2, "%s and %d"), text("50%"), integer(3)}, {OK, OK, OK}, {"50% and 3"}, IDLE},
        PrintCase{"more arguments declared than conversions", {format(2, "%d"), integer(1)}, {REFUSED, REFUSED}, {}, IDLE},
        PrintCase{"a double for an integer conversion", {format(1, "%d"), real(1.0), integer(1)}, {OK, REFUSED, REFUSED}, {}, IDLE},
        PrintCase{"a count without payload", {message(RTKPRINTF_TEXT_COUNT)}, {REFUSED}, {}, IDLE},
        PrintCase{"a text part while idle", {textPart("x")}, {REFUSED}, {}, IDLE},
        PrintCase{"a new format while arguments are expected",
                  {format(1, "%d"), format(1, "%d"), integer(2)}, {OK, REFUSED, REFUSED}, {}, IDLE},
        PrintCase{"a text longer than its payload", {message(RTKPRINTF_TEXT_COUNT, words({1})),
                                                     message(RTKPRINTF_TEXT_PART, words({9}) + packed("abcd"))},
                  {OK, REFUSED}, {}, IDLE},
        PrintCase{"a block that is not at its own address is ignored",
                  {textCount(2), textPart("a"), message(RTKPRINTF_TEXT_PART, words({1}) + packed("x"), 0x1234),
                   textPart("b")},
                  {OK, OK, OK, OK}, {"a", "b"}, IDLE},
        PrintCase{"a format without conversions is printed at once",
                  {format(0, "plain 100%%"), textCount(1), textPart("next")}, {OK, OK, OK},
                  {"plain 100%", "next"}, IDLE},
        PrintCase{"an argument after a format without conversions is refused",
                  {format(0, "plain"), integer(1)}, {OK, REFUSED}, {"plain"}, IDLE},
        PrintCase{"characters", {format(3, "%c%3c%c"), integer('A'), integer('B'), integer(0x141)}, {OK, OK, OK, OK},
                  {"A  BA"}, IDLE},
        PrintCase{"a count of zero", {textCount(0)}, {OK}, {}, IDLE},
        PrintCase{"a refused directive", {format(1, "x%|d"), integer(1)}, {OK, REFUSED},
                  {"[qvRTKPrintf format error]"}, IDLE}));

TEST_F(PrintTest, TextWordsAreByteReversed) {
    ASSERT_EQ(send(textCount(1)), QV_NO_ERROR);
    const Bytes part = message(RTKPRINTF_TEXT_PART, words({5}) + Bytes{'l', 'l', 'e', 'H', '-', '-', '-', 'o'});
    ASSERT_EQ(send(part), QV_NO_ERROR);
    EXPECT_EQ(lines(), (std::vector<std::string>{"Hello"}));
}

TEST_F(PrintTest, LinesAreLoggedAndWithoutAnOutputNodeOnlyLogged) {
    test::LogCapture log;
    ASSERT_EQ(send(textCount(1)), QV_NO_ERROR);
    ASSERT_EQ(send(textPart("Hello")), QV_NO_ERROR);
    EXPECT_TRUE(log.contains("STDOUT: \"Hello\""));
    EXPECT_EQ(lines().size(), 1u);

    decoder().outputEndpoint = -1;
    ASSERT_EQ(send(textCount(1)), QV_NO_ERROR);
    ASSERT_EQ(send(textPart("quiet")), QV_NO_ERROR);
    EXPECT_TRUE(log.contains("STDOUT: \"quiet\""));
    EXPECT_TRUE(dev.takeOutput().empty());
}

TEST_F(PrintTest, ARefusedDirectiveIsReported) {
    test::LogCapture log;
    EXPECT_EQ(send(format(1, "x%|d")), QV_NO_ERROR);
    EXPECT_EQ(send(integer(1)), REFUSED);
    EXPECT_TRUE(log.contains("format error in printf"));
    EXPECT_TRUE(log.contains("error in string \"x%|d\" at \"%|d\""));
}

TEST_F(PrintTest, TheStatusBlockHandsItsPrintWindowToTheDecoder) {
    for (const Bytes& m : {textCount(1), textPart("via the status block")})
        ASSERT_EQ(DeviceStateHandleData(dev, kPrintWindow, uint32_t(m.size()), m.data()), QV_NO_ERROR);
    EXPECT_EQ(lines(), (std::vector<std::string>{"via the status block"}));
    const Bytes refused = textPart("idle");
    EXPECT_EQ(DeviceStateHandleData(dev, kPrintWindow, uint32_t(refused.size()), refused.data()), QV_NO_ERROR)
        << "the decoder's refusal concerns the line only";
}

TEST_F(PrintTest, AFullOutputFifoLosesTheLineForClientsOnly) {
    dev.fillOutput();
    test::LogCapture log;
    ASSERT_EQ(send(textCount(1)), QV_NO_ERROR);
    EXPECT_EQ(send(textPart("lost")), QV_OVERFLOW);
    EXPECT_TRUE(log.contains("STDOUT: \"lost\""));
    EXPECT_EQ(decoder().state, IDLE);
}

TEST(SwapBytes32, ReversesWholeWordsOnly) {
    Bytes b{1, 2, 3, 4, 5, 6};
    swapBytes32(b.data(), b.size());
    EXPECT_EQ(b, (Bytes{4, 3, 2, 1, 5, 6}));
}

}  // namespace
}  // namespace tarnix
