#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wire/BinaryWire.h"

namespace wire = tarnix::wire;
namespace le = tarnix::le;

namespace {

using Bytes = std::vector<uint8_t>;

TEST(BinaryWire, HelloIsExactlyItsEighteenBytes) {
    Bytes hello(wire::kHelloSize);
    wire::encodeHello(hello.data(), wire::Hello{12, 8, 17045});
    EXPECT_EQ(hello, (Bytes{0x01, 0, 0, 0, 0x12, 0, 0, 0, 0, 0, 0, 0, 0x0C, 0, 0x08, 0, 0x95, 0x42}));
    wire::Hello back = wire::decodeHello(hello.data());
    EXPECT_EQ(back.major, 12);
    EXPECT_EQ(back.minor, 8);
    EXPECT_EQ(back.revision, 17045);
}

TEST(BinaryWire, HeaderRoundTripWritesReservedZeros) {
    Bytes h(wire::kHeaderSize, 0xFF);
    wire::encodeHeader(h.data(), wire::MSG_SET_BYTES_ALT, 0x01020304, 0xBEEF);
    EXPECT_EQ(h, (Bytes{21, 0, 0, 0, 4, 3, 2, 1, 0xEF, 0xBE, 0, 0}));
    wire::BinaryMessageHeader d = wire::decodeHeader(h.data());
    EXPECT_EQ(d.type, wire::MSG_SET_BYTES_ALT);
    EXPECT_EQ(d.totalLength, 0x01020304u);
    EXPECT_EQ(d.sequenceId, 0xBEEF);
}

TEST(BinaryWire, RequestBodiesRoundTripAndShortBodiesAreRefused) {
    const std::string path = "/dev1234/demods/0/rate";
    const uint16_t n = uint16_t(path.size());
    Bytes body(wire::setBytesBodySize(n, 3));
    const uint8_t payload[3] = {7, 8, 9};
    ASSERT_EQ(wire::encodeSetBytesBody(body.data(), path.data(), n, payload, 3), body.size());
    wire::PathView p;
    const uint8_t* bytes = nullptr;
    uint32_t count = 0;
    ASSERT_TRUE(wire::decodeSetBytesBody(body.data(), uint32_t(body.size()), p, bytes, count));
    EXPECT_EQ(std::string(p.text, p.length), path);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(bytes[2], 9);
    // Every cut short of the whole body is refused.
    for (uint32_t len = 0; len < body.size(); ++len) {
        EXPECT_FALSE(wire::decodeSetBytesBody(body.data(), len, p, bytes, count)) << len;
    }
    Bytes list(wire::listNodesBodySize(n));
    wire::encodeListNodesBody(list.data(), path.data(), n, wire::LIST_RECURSIVE | wire::LIST_ABSOLUTE_PATH);
    uint32_t flags = 0;
    ASSERT_TRUE(wire::decodeListNodesBody(list.data(), uint32_t(list.size()), p, flags));
    EXPECT_EQ(flags, 3u);
    EXPECT_FALSE(wire::decodeListNodesBody(list.data(), uint32_t(list.size() - 1), p, flags));
    EXPECT_FALSE(wire::decodePathField(list.data(), 1, p));
}

TEST(BinaryWire, ValueEventLayoutAndStreamCounts) {
    const std::string path = "/DEV1234/DEMODS/0/SAMPLE";
    Bytes data(640, 0);
    const uint32_t count = wire::streamEventCount(wire::EVENT_DEMODSAMPLE, uint32_t(data.size()));
    EXPECT_EQ(count, 10u);
    Bytes ev(wire::valueEventSize(uint16_t(path.size()), uint32_t(data.size())));
    uint8_t* at = wire::encodeValueEventHead(ev.data(), 0, wire::EVENT_DEMODSAMPLE, count, path.data(),
                                             uint16_t(path.size()), uint32_t(data.size()));
    EXPECT_EQ(at, ev.data() + 20 + path.size());
    EXPECT_EQ(le::get16(ev.data() + 12), wire::EVENT_DEMODSAMPLE);
    EXPECT_EQ(le::get32(ev.data() + 14), 10u);
    EXPECT_EQ(le::get16(ev.data() + 18), path.size());
    wire::ValueEventView v;
    ASSERT_TRUE(wire::decodeValueEvent(ev.data(), uint32_t(ev.size()), v));
    EXPECT_EQ(v.dataLength, 640u);
    EXPECT_TRUE(wire::eventDataConsistent(v.dataType, v.count, v.data, v.dataLength));
    EXPECT_FALSE(wire::eventDataConsistent(v.dataType, 11, v.data, v.dataLength));
    EXPECT_FALSE(wire::decodeValueEvent(ev.data(), uint32_t(ev.size() - 1), v));  // length disagrees

    struct CountCase {
        uint16_t type;
        uint32_t bytes;
        uint32_t count;
    };
    for (auto c : {CountCase{wire::EVENT_DOUBLE, 24, 3}, CountCase{wire::EVENT_INTEGER, 8, 1},
                   CountCase{wire::EVENT_AUXINSAMPLE, 48, 2}, CountCase{wire::EVENT_DIOSAMPLE, 160, 10},
                   CountCase{wire::EVENT_SCOPESAMPLE, 1048, 1}, CountCase{wire::EVENT_BYTEARRAY, 9, 1}}) {
        EXPECT_EQ(wire::streamEventCount(c.type, c.bytes), c.count) << c.type;
    }
}

TEST(BinaryWire, SampleRecordsHaveTheirFieldsAtTheirOffsets) {
    struct Demod {
        uint64_t timeStamp = 0x1122334455667788ull;
        double x = 1, y = 2, frequency = 3, phase = 4;
        uint32_t dioBits = 0xAABBCCDD, reserved = 0;
        double auxIn0 = 5, auxIn1 = 6;
    } in, out{};
    Bytes d(wire::kDemodSampleSize);
    wire::encodeDemodSample(d.data(), in);
    EXPECT_EQ(le::get64(d.data()), in.timeStamp);
    EXPECT_EQ(le::getDouble(d.data() + 24), 3.0);  // frequency before phase
    EXPECT_EQ(le::getDouble(d.data() + 32), 4.0);
    EXPECT_EQ(le::get32(d.data() + 40), 0xAABBCCDDu);
    EXPECT_EQ(le::getDouble(d.data() + 56), 6.0);
    out.timeStamp = 0;
    wire::decodeDemodSample(d.data(), out);
    EXPECT_EQ(out.timeStamp, in.timeStamp);
    EXPECT_EQ(out.auxIn1, 6.0);

    Bytes t(wire::kTreeChangeSize, 0xFF);
    wire::encodeTreeChange(t.data(), wire::TREE_NEW, "DEV1234");
    EXPECT_EQ(wire::decodeTreeChangeCode(t.data()), wire::TREE_NEW);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.data() + 4)), "DEV1234");
    EXPECT_EQ(t.back(), 0);
}

TEST(BinaryWire, ByteArrayStreamBlockLayout) {
    // Pieces of 3 and 2 bytes joined into one array: count, then the bytes.
    Bytes data = {5, 0, 0, 0, 0x61, 0x62, 0x63, 0x64, 0x65};
    EXPECT_TRUE(wire::eventDataConsistent(wire::EVENT_BYTEARRAY, 1, data.data(), uint32_t(data.size())));
    EXPECT_FALSE(wire::eventDataConsistent(wire::EVENT_BYTEARRAY, 1, data.data(), uint32_t(data.size() - 1)));
    EXPECT_FALSE(wire::eventDataConsistent(wire::EVENT_BYTEARRAY, 1, data.data(), 3));
}

}  // namespace
