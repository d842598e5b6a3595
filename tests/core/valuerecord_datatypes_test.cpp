#include "platform/endian/ByteOrder.h"
#include "core/DataTypes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnix {
namespace {

TEST(DataTypes, NamesAndSampleSizes) {
    const char* names[] = {"double", "integer", "demodsample", "scopesample", "auxinsample", "diosample",
                           "bytearray"};
    for (uint16_t t = 1; t <= 7; ++t) EXPECT_STREQ(dataTypeName(t), names[t - 1]);
    EXPECT_STREQ(dataTypeName(0), "");
    EXPECT_STREQ(dataTypeName(DATATYPE_GETVALUE), "");
    EXPECT_EQ(sampleSizeOf(DATATYPE_DEMODSAMPLE), 64u);
    EXPECT_EQ(sampleSizeOf(DATATYPE_AUXINSAMPLE), 24u);
    EXPECT_EQ(sampleSizeOf(DATATYPE_DIOSAMPLE), 16u);
    EXPECT_EQ(sampleSizeOf(DATATYPE_DOUBLE), 0u);
}

// Every field round-trips and sits at its offset; the encoders write exactly
// their wire size (the guard bytes after it stay).
TEST(DataTypes, SamplesRoundTripAtTheirOffsets) {
    std::vector<uint8_t> buf(80, 0xEE);

    DataDemodSample d;
    d.timeStamp = 0xFFFF000000000001ull;
    d.x = 1.5;
    d.y = -2.5;
    d.frequency = 1e6;
    d.phase = -3.0;
    d.dioBits = 0xDEADBEEF;
    d.reserved = 0;
    d.auxIn0 = 0.125;
    d.auxIn1 = 9.0;
    encodeDemodSample(buf.data(), d);
    EXPECT_EQ(buf[64], 0xEE);
    EXPECT_EQ(le::getDouble(buf.data() + 24), 1e6);
    EXPECT_EQ(le::get32(buf.data() + 40), 0xDEADBEEFu);
    EXPECT_EQ(le::getDouble(buf.data() + 56), 9.0);
    const DataDemodSample d2 = decodeDemodSample(buf.data());
    EXPECT_EQ(d2.timeStamp, d.timeStamp);
    EXPECT_EQ(d2.x, d.x);
    EXPECT_EQ(d2.y, d.y);
    EXPECT_EQ(d2.phase, d.phase);
    EXPECT_EQ(d2.dioBits, d.dioBits);
    EXPECT_EQ(d2.auxIn0, d.auxIn0);
    EXPECT_EQ(d2.auxIn1, d.auxIn1);

    std::fill(buf.begin(), buf.end(), 0xEE);
    DataAuxInSample a;
    a.timeStamp = 42;
    a.ch0 = -1.0;
    a.ch1 = 4.0;
    encodeAuxInSample(buf.data(), a);
    EXPECT_EQ(buf[24], 0xEE);
    const DataAuxInSample a2 = decodeAuxInSample(buf.data());
    EXPECT_EQ(a2.timeStamp, 42u);
    EXPECT_EQ(a2.ch0, -1.0);
    EXPECT_EQ(a2.ch1, 4.0);

    std::fill(buf.begin(), buf.end(), 0xEE);
    DataDIOSample io;
    io.timeStamp = 3;
    io.bits = 0x80000001;
    encodeDIOSample(buf.data(), io);
    EXPECT_EQ(buf[16], 0xEE);
    EXPECT_EQ(le::get32(buf.data() + 8), 0x80000001u);
    EXPECT_EQ(decodeDIOSample(buf.data()).bits, 0x80000001u);
}

TEST(DataTypes, ScopeHeaderLayout) {
    std::vector<uint8_t> buf(26, 0xEE);
    DataScopeSample h;
    h.dt = 1.0 / 210e6;
    h.channel = 1;
    h.triggerChannel = 2;
    h.bandwidthLimit = 3;
    h.sampleCount = 2048;
    encodeScopeHeader(buf.data(), h);
    EXPECT_EQ(buf[24], 0xEE);
    EXPECT_EQ(le::getDouble(buf.data()), h.dt);
    EXPECT_EQ(le::get32(buf.data() + 8), 1u);
    EXPECT_EQ(le::get32(buf.data() + 12), 2u);
    EXPECT_EQ(le::get32(buf.data() + 16), 3u);
    EXPECT_EQ(le::get32(buf.data() + 20), 2048u);
    const DataScopeSample h2 = decodeScopeHeader(buf.data());
    EXPECT_EQ(h2.sampleCount, 2048u);
    EXPECT_EQ(h2.bandwidthLimit, 3u);
    EXPECT_EQ(scopeWaveSize(2048), 24u + 4096u);
}

}  // namespace
}  // namespace tarnix
