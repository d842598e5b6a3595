// Value events as the dispatcher has the binary protocol build them: single
// records, streamed blocks of every sample type, and a full output.
#include "BinaryTestSupport.h"
#include "core/DataTypes.h"
#include "server/binary/BinaryEncoders.h"

#include <gtest/gtest.h>

namespace tarnix {
namespace {

using test::Bytes;
using test::hex;

const std::string kPath = "/DEV1234/DEMODS/0/SAMPLE";

struct Encoded {
    QV_STATUS status;
    Bytes out;
};

Encoded streamEncode(uint16_t type, const Bytes& data, uint32_t capacity = 4096) {
    Bytes out(capacity + 16, 0xEE);
    uint32_t length = 12345;
    QV_STATUS status = BinaryStreamEncode(kPath, 6, type, out.data(), capacity, length, data.data(),
                                          uint32_t(data.size()));
    EXPECT_LE(length, capacity);
    for (size_t i = capacity; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << "wrote beyond the capacity";
    out.resize(length);
    return {status, out};
}

Bytes eventHead(uint16_t sequenceId, uint16_t type, uint32_t count, uint32_t dataLength) {
    Bytes head(wire::kEventFixedSize + kPath.size());
    wire::encodeValueEventHead(head.data(), sequenceId, type, count, kPath.data(), uint16_t(kPath.size()),
                               dataLength);
    return head;
}

TEST(BinaryValueEncode, DoubleRecordBecomesOneEventWithTheSequenceId) {
    Bytes value(8);
    le::putDouble(value.data(), 0.25);
    Bytes out(256);
    uint32_t length = 0;
    ASSERT_EQ(BinaryValueEncode("/QV/X", 4, 0x1234, DATATYPE_DOUBLE, out.data(), 256, length, value.data(), 8),
              QV_NO_ERROR);
    out.resize(length);
    EXPECT_EQ(hex(out),
              "0f 00 00 00 21 00 00 00 34 12 00 00 01 00 01 00 00 00 05 00 2f 51 56 2f 58 "
              "00 00 00 00 00 00 d0 3f");
}

TEST(BinaryValueEncode, ByteArrayRecordIsCopiedUnchanged) {
    Bytes value{3, 0, 0, 0, 'a', 'b', 'c'};
    Bytes out(256);
    uint32_t length = 0;
    ASSERT_EQ(BinaryValueEncode(kPath, 0, 9, DATATYPE_BYTEARRAY, out.data(), 256, length, value.data(), 7),
              QV_NO_ERROR);
    out.resize(length);
    EXPECT_EQ(out, test::concat({eventHead(9, DATATYPE_BYTEARRAY, 1, 7), value}));
}

TEST(BinaryValueEncode, EventThatDoesNotFitProducesNothing) {
    Bytes value(8, 1);
    Bytes out(64);
    uint32_t length = 99;
    const uint32_t exact = uint32_t(wire::kEventFixedSize + kPath.size() + 8);
    EXPECT_EQ(BinaryValueEncode(kPath, 0, 1, DATATYPE_INTEGER, out.data(), exact - 1, length, value.data(), 8),
              QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(BinaryValueEncode(kPath, 0, 1, DATATYPE_INTEGER, out.data(), exact, length, value.data(), 8),
              QV_NO_ERROR);
    EXPECT_EQ(length, exact);
}

struct StreamCase {
    uint16_t type;
    uint32_t dataLength;
    uint32_t count;
    uint32_t sentLength;  // only whole records travel
};

class BinaryStreamEncodeCounts : public ::testing::TestWithParam<StreamCase> {};

TEST_P(BinaryStreamEncodeCounts, CountFollowsTheRecordSize) {
    const StreamCase c = GetParam();
    Bytes data(c.dataLength);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
    Encoded e = streamEncode(c.type, data);
    ASSERT_EQ(e.status, QV_NO_ERROR);
    Bytes sent(data.begin(), data.begin() + c.sentLength);
    EXPECT_EQ(e.out, test::concat({eventHead(0, c.type, c.count, c.sentLength), sent}));
}

INSTANTIATE_TEST_SUITE_P(
    SampleTypes, BinaryStreamEncodeCounts,
    ::testing::Values(StreamCase{DATATYPE_DEMODSAMPLE, 640, 10, 640}, StreamCase{DATATYPE_AUXINSAMPLE, 72, 3, 72},
                      StreamCase{DATATYPE_DIOSAMPLE, 160, 10, 160}, StreamCase{DATATYPE_DOUBLE, 24, 3, 24},
                      StreamCase{DATATYPE_INTEGER, 16, 2, 16}, StreamCase{DATATYPE_DEMODSAMPLE, 100, 1, 64},
                      StreamCase{DATATYPE_SCOPESAMPLE, 30, 1, 30}, StreamCase{DATATYPE_TREECHANGE, 36, 1, 36},
                      StreamCase{99, 5, 1, 5}));

TEST(BinaryStreamEncode, ByteArrayPiecesAreJoinedIntoOne) {
    Bytes block{3, 0, 0, 0, 0x61, 0x62, 0x63, 2, 0, 0, 0, 0x64, 0x65};
    Encoded e = streamEncode(DATATYPE_BYTEARRAY, block);
    ASSERT_EQ(e.status, QV_NO_ERROR);
    ASSERT_GT(e.out.size(), wire::kEventFixedSize + kPath.size());
    EXPECT_EQ(hex(e.out.data() + wire::kEventFixedSize + kPath.size(), 9), "05 00 00 00 61 62 63 64 65");
    EXPECT_EQ(e.out, test::concat({eventHead(0, DATATYPE_BYTEARRAY, 1, 9),
                                   Bytes{5, 0, 0, 0, 0x61, 0x62, 0x63, 0x64, 0x65}}));
}

TEST(BinaryStreamEncode, ByteArrayPieceRunningPastTheBlockEndsIt) {
    Bytes block{2, 0, 0, 0, 'a', 'b', 9, 0, 0, 0, 'c'};
    Encoded e = streamEncode(DATATYPE_BYTEARRAY, block);
    EXPECT_EQ(e.out, test::concat({eventHead(0, DATATYPE_BYTEARRAY, 1, 7), Bytes{3, 0, 0, 0, 'a', 'b', 'c'}}));
}

TEST(BinaryStreamEncode, FullOutputKeepsWholeRecordsAndAWellFormedEvent) {
    const uint32_t head = uint32_t(wire::kEventFixedSize + kPath.size());
    Bytes samples(64 * 5, 0x11);
    Encoded e = streamEncode(DATATYPE_DEMODSAMPLE, samples, head + 64 * 3 + 10);
    EXPECT_EQ(e.status, QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(e.out, test::concat({eventHead(0, DATATYPE_DEMODSAMPLE, 3, 192), Bytes(192, 0x11)}));

    Bytes pieces{6, 0, 0, 0, '1', '2', '3', '4', '5', '6'};
    e = streamEncode(DATATYPE_BYTEARRAY, pieces, head + 4 + 4);
    EXPECT_EQ(e.status, QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(e.out, test::concat({eventHead(0, DATATYPE_BYTEARRAY, 1, 8), Bytes{4, 0, 0, 0, '1', '2', '3', '4'}}));

    e = streamEncode(DATATYPE_SCOPESAMPLE, Bytes(40), head + 39);
    EXPECT_EQ(e.status, QV_BUFFER_TOO_SMALL);
    EXPECT_TRUE(e.out.empty());
}

}  // namespace
}  // namespace tarnix
