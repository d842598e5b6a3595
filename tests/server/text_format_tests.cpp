// Number formatting and the text encoders of values and sample blocks.
#include "platform/endian/ByteOrder.h"
#include "core/DataTypes.h"
#include "server/text/AsciiEncoders.h"
#include "server/text/NumberFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace tarnix {
namespace {

struct DoubleCase {
    double value;
    unsigned digits;
    const char* text;
};

class FormatDoubleTest : public ::testing::TestWithParam<DoubleCase> {};

TEST_P(FormatDoubleTest, PrintsDigitByDigit) {
    EXPECT_EQ(formatDouble(GetParam().value, GetParam().digits), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FormatDoubleTest,
    ::testing::Values(DoubleCase{1.23456, 3, "1.235"}, DoubleCase{1.23456, 0, "1"}, DoubleCase{-0.5, 2, "-0.50"},
                      DoubleCase{0.004, 2, "0.00"}, DoubleCase{-0.004, 2, "-0.00"}, DoubleCase{0.0, 0, "0"},
                      DoubleCase{0.999, 2, "1.00"}, DoubleCase{2.5, 0, "3"}, DoubleCase{0.1, 10, "0.1000000000"},
                      DoubleCase{1e-10, 10, "0.0000000001"}, DoubleCase{-1234.5678, 4, "-1234.5678"},
                      DoubleCase{123456789.0, 1, "123456789.0"}, DoubleCase{1e20, 0, "100000000000000000000"},
                      DoubleCase{1000.0, 0, "1000"}, DoubleCase{9.9999, 3, "10.000"},
                      DoubleCase{std::numeric_limits<double>::quiet_NaN(), 3, "nan"},
                      DoubleCase{std::numeric_limits<double>::infinity(), 2, "inf"},
                      DoubleCase{-std::numeric_limits<double>::infinity(), 2, "-inf"}));

TEST(FormatDouble, NeverWritesBeyondTheRoomLeft) {
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    TextOutput out(buffer, 5);
    formatDouble(out, 123456.789, 3);
    EXPECT_EQ(std::string(buffer, out.length()), "12345");
    EXPECT_TRUE(out.full());
    EXPECT_EQ(buffer[5], '#');

    std::string huge = formatDouble(1e300, 2);
    EXPECT_EQ(huge.size(), 301u + 3u);
    EXPECT_EQ(huge.substr(0, 1), "1");
}

TEST(FormatInt, SignedAndUnsigned) {
    const std::pair<int64_t, const char*> cases[] = {
        {0, "0"}, {-1, "-1"}, {42, "42"}, {std::numeric_limits<int64_t>::max(), "9223372036854775807"},
        {std::numeric_limits<int64_t>::min(), "-9223372036854775808"}};
    for (const auto& c : cases) {
        char buffer[32];
        TextOutput out(buffer, sizeof buffer);
        formatInt64(out, c.first);
        EXPECT_EQ(std::string(buffer, out.length()), c.second);
    }
    char buffer[16];
    TextOutput out(buffer, sizeof buffer);
    formatUInt32(out, 4294967295u);
    EXPECT_EQ(std::string(buffer, out.length()), "4294967295");
}

// --- Encoders ---------------------------------------------------------------

std::vector<uint8_t> doubles(std::initializer_list<double> values) {
    std::vector<uint8_t> data;
    for (double v : values) {
        uint8_t b[8];
        le::putDouble(b, v);
        data.insert(data.end(), b, b + 8);
    }
    return data;
}

std::vector<uint8_t> integer(int64_t v) {
    std::vector<uint8_t> data(8);
    le::put64(data.data(), uint64_t(v));
    return data;
}

std::vector<uint8_t> demodSample(uint64_t ticks, double x, double y, double f, double phase) {
    std::vector<uint8_t> data(kDemodSampleSize);
    DataDemodSample s;
    s.timeStamp = ticks;
    s.x = x;
    s.y = y;
    s.frequency = f;
    s.phase = phase;
    s.dioBits = 7;
    encodeDemodSample(data.data(), s);
    return data;
}

std::vector<uint8_t> auxInSample(uint64_t ticks, double ch0, double ch1) {
    std::vector<uint8_t> data(kAuxInSampleSize);
    encodeAuxInSample(data.data(), DataAuxInSample{ticks, ch0, ch1});
    return data;
}

std::vector<uint8_t> dioSample(uint64_t ticks, uint32_t bits) {
    std::vector<uint8_t> data(kDIOSampleSize);
    encodeDIOSample(data.data(), DataDIOSample{ticks, bits, 0});
    return data;
}

std::vector<uint8_t> scopeHeader() {
    std::vector<uint8_t> data(kScopeHeaderSize + 4);
    encodeScopeHeader(data.data(), DataScopeSample{2.5e-9, 1, 3, 2, 2});
    return data;
}

std::vector<uint8_t> bytePieces(std::initializer_list<std::string> pieces) {
    std::vector<uint8_t> data;
    for (const std::string& piece : pieces) {
        uint8_t count[4];
        le::put32(count, uint32_t(piece.size()));
        data.insert(data.end(), count, count + 4);
        data.insert(data.end(), piece.begin(), piece.end());
    }
    return data;
}

std::vector<uint8_t> treeChange(int32_t code, const std::string& name) {
    std::vector<uint8_t> data(4 + 32, 0);
    le::put32(data.data(), uint32_t(code));
    std::copy(name.begin(), name.end(), data.begin() + 4);
    return data;
}

std::vector<uint8_t> join(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct EncodeCase {
    const char* name;
    uint16_t dataType;
    uint16_t precision;
    std::vector<uint8_t> data;
    const char* valueLine;
    const char* streamText;
};

std::string encodeValue(const EncodeCase& c) {
    std::vector<uint8_t> out(4096);
    uint32_t length = 0;
    EXPECT_EQ(AsciiValueEncode("/DEV1/NODE", c.precision, 17, c.dataType, out.data(), uint32_t(out.size()), length,
                               c.data.data(), uint32_t(c.data.size())),
              QV_NO_ERROR);
    return std::string(out.begin(), out.begin() + length);
}

std::string encodeStream(const EncodeCase& c) {
    std::vector<uint8_t> out(4096);
    uint32_t length = 0;
    EXPECT_EQ(AsciiStreamEncode("/DEV1/NODE", c.precision, c.dataType, out.data(), uint32_t(out.size()), length,
                                c.data.data(), uint32_t(c.data.size())),
              QV_NO_ERROR);
    return std::string(out.begin(), out.begin() + length);
}

TEST(AsciiEncoders, ValueLinesAndStreamBlocksOfEveryType) {
    const EncodeCase cases[] = {
        {"double with precision", DATATYPE_DOUBLE, 3, doubles({1.23456}), "/DEV1/NODE: 1.235\r\n",
         "/DEV1/NODE:\r\n1.235\r\n"},
        {"double without precision", DATATYPE_DOUBLE, 0, doubles({1.23456, 2.5}), "/DEV1/NODE: 1\r\n",
         "/DEV1/NODE:\r\n1\r\n3\r\n"},
        {"integer", DATATYPE_INTEGER, 0, integer(-5), "/DEV1/NODE: -5\r\n", "/DEV1/NODE:\r\n-5\r\n"},
        {"demod sample", DATATYPE_DEMODSAMPLE, 0, demodSample(210000000, 0.125, -2.0, 1000.0, 3.14159265),
         "/DEV1/NODE: TS=1.000000000, X=0.1250000000, Y=-2.0000000000, F=1000.00000, Phi=3.14159\r\n",
         "/DEV1/NODE:\r\nTS=1.000000000, X=0.1250000000, Y=-2.0000000000, F=1000.00000, Phi=3.14159\r\n"},
        {"two demod samples", DATATYPE_DEMODSAMPLE, 0,
         join(demodSample(210000000, 0.125, -2.0, 1000.0, 3.14159265), demodSample(105, 0, 0, 0, 0)),
         "/DEV1/NODE: TS=1.000000000, X=0.1250000000, Y=-2.0000000000, F=1000.00000, Phi=3.14159\r\n",
         "/DEV1/NODE:\r\nTS=1.000000000, X=0.1250000000, Y=-2.0000000000, F=1000.00000, Phi=3.14159\r\n"
         "TS=0.000000500, X=0.0000000000, Y=0.0000000000, F=0.00000, Phi=0.00000\r\n"},
        {"aux-in sample", DATATYPE_AUXINSAMPLE, 0, auxInSample(420000000, 1.5, -0.25),
         "/DEV1/NODE: TS=2.000000000, Ch0=1.500000, Ch1=-0.250000\r\n",
         "/DEV1/NODE:\r\nTS=2.000000000, Ch0=1.500000, Ch1=-0.250000\r\n"},
        {"dio sample", DATATYPE_DIOSAMPLE, 0, dioSample(0, 4294967295u), "/DEV1/NODE: TS=0.000000000, Val=4294967295\r\n",
         "/DEV1/NODE:\r\nTS=0.000000000, Val=4294967295\r\n"},
        {"scope wave", DATATYPE_SCOPESAMPLE, 0, scopeHeader(),
         "/DEV1/NODE: SCh=1, TCh=3, dt=0.0000000025, BWLim=2\r\n", "/DEV1/NODE:\r\n"},
        {"byte array", DATATYPE_BYTEARRAY, 0, bytePieces({"abc"}), "/DEV1/NODE: abc\n", "/DEV1/NODE:\r\nabc\n"},
        {"byte array pieces", DATATYPE_BYTEARRAY, 0, bytePieces({"abc", "de"}), "/DEV1/NODE: abcde\n",
         "/DEV1/NODE:\r\nabcde\n"},
        {"tree change add", DATATYPE_TREECHANGE, 0, treeChange(1, "DEV1234"), "/DEV1/NODE: add DEV1234\r\n",
         "/DEV1/NODE:\r\n"},
        {"tree change change", DATATYPE_TREECHANGE, 0, treeChange(2, "DEV1234"), "/DEV1/NODE: change DEV1234\r\n",
         "/DEV1/NODE:\r\n"},
        {"tree change remove", DATATYPE_TREECHANGE, 0, treeChange(0, "DEV1234"), "/DEV1/NODE: remove DEV1234\r\n",
         "/DEV1/NODE:\r\n"},
        {"tree change name of 32", DATATYPE_TREECHANGE, 0, treeChange(1, std::string(32, 'N')),
         "/DEV1/NODE: add NNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNN\r\n", "/DEV1/NODE:\r\n"},
        {"unknown type", 99, 0, doubles({1.0}), "/DEV1/NODE: ", "/DEV1/NODE:\r\n"},
        {"short double", DATATYPE_DOUBLE, 0, {1, 2, 3}, "/DEV1/NODE: \r\n", "/DEV1/NODE:\r\n"},
        {"demod block of less than one sample", DATATYPE_DEMODSAMPLE, 0, std::vector<uint8_t>(63, 0),
         "/DEV1/NODE: \r\n", "/DEV1/NODE:\r\n"},
        {"byte array count past the end", DATATYPE_BYTEARRAY, 0, {200, 0, 0, 0, 'x', 'y'}, "/DEV1/NODE: xy\n",
         "/DEV1/NODE:\r\nxy\n"},
    };
    for (const EncodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(encodeValue(c), c.valueLine);
        EXPECT_EQ(encodeStream(c), c.streamText);
    }
}

TEST(AsciiEncoders, FullOutputStopsWithBufferTooSmall) {
    std::vector<uint8_t> block;
    for (int i = 0; i < 100; ++i) block = join(block, doubles({double(i)}));
    std::vector<uint8_t> out(64, 0xEE);
    uint32_t length = 0;
    EXPECT_EQ(AsciiStreamEncode("/P", 0, DATATYPE_DOUBLE, out.data(), 40, length, block.data(), uint32_t(block.size())),
              QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 40u);
    EXPECT_EQ(out[40], 0xEE);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 10), "/P:\r\n0\r\n1\r");

    std::vector<uint8_t> pieces = bytePieces({std::string(100, 'z')});
    EXPECT_EQ(AsciiValueEncode("/P", 0, 0, DATATYPE_BYTEARRAY, out.data(), 40, length, pieces.data(),
                               uint32_t(pieces.size())),
              QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 40u);
}

}  // namespace
}  // namespace tarnix
