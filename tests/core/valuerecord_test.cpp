#include "LogCapture.h"
#include "core/ValueRecord.h"
#include "core/fifo/BufferFifo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace tarnix {
namespace {

typedef std::vector<uint8_t> Bytes;

// Builds expected records independently of the code under test.
struct Expect {
    Bytes bytes;
    Expect& u16(uint16_t v) { return put(v, 2); }
    Expect& u32(uint32_t v) { return put(v, 4); }
    Expect& u64(uint64_t v) { return put(v, 8); }
    Expect& f64(double d) {
        uint64_t v;
        std::memcpy(&v, &d, 8);
        return put(v, 8);
    }
    Expect& raw(const std::string& s) {
        bytes.insert(bytes.end(), s.begin(), s.end());
        return *this;
    }
    Expect& header(uint16_t seq, uint16_t session, uint32_t id, uint16_t kind, uint16_t flags) {
        return u16(seq).u16(session).u32(id).u16(kind).u16(flags);
    }

private:
    Expect& put(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) bytes.push_back(uint8_t(v >> (8 * i)));
        return *this;
    }
};

Bytes takeBlock(QVFifo& fifo) {
    FifoReader reader(fifo);
    if (!reader.isValid()) return {};
    Bytes block(reader.data(), reader.end());
    reader.commitAll();
    return block;
}

DataDemodSample demodSample() {
    DataDemodSample s;
    s.timeStamp = 0x0000123456789ABCull;
    s.x = 1.0;
    s.y = -1.0;
    s.frequency = 2.0;
    s.phase = 0.5;
    s.dioBits = 0x12345678;
    s.auxIn0 = 0.25;
    s.auxIn1 = -2.0;
    return s;
}

struct LayoutCase {
    const char* name;
    std::function<QV_STATUS(QVFifo&)> write;
    Bytes expected;
};

class ValueRecordLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ValueRecordLayout, IsOneBlockByteForByte) {
    BufferFifo<8, 1024> fifo;
    ASSERT_EQ(GetParam().write(fifo), QV_NO_ERROR);
    EXPECT_EQ(fifo.used(), 1u);
    EXPECT_EQ(takeBlock(fifo), GetParam().expected);
}

const DataAuxInSample kAux = [] {
    DataAuxInSample s;
    s.timeStamp = 7;
    s.ch0 = 2.0;
    s.ch1 = -0.5;
    return s;
}();
const DataDIOSample kDio = [] {
    DataDIOSample s;
    s.timeStamp = 0x0000010203040506ull;
    s.bits = 0xA5A50001;
    return s;
}();

INSTANTIATE_TEST_SUITE_P(
    Kinds, ValueRecordLayout,
    ::testing::Values(
        LayoutCase{"DoubleReply",
                   [](QVFifo& f) { return ReturnParamValueDouble(f, 0x1234, 7, 0x01020304, 1, 1.5); },
                   Expect().header(0x1234, 7, 0x01020304, 1, 1).f64(1.5).bytes},
        LayoutCase{"UnsolicitedIntegerChange",
                   [](QVFifo& f) {
                       return ReturnParamValueInteger(f, kUnsolicitedSequenceTag, kUnsolicitedSessionTag,
                                                      5, VALUE_FLAG_CHANGED, -2);
                   },
                   Expect().header(0, 0xFFFF, 5, 2, 0).u64(uint64_t(-2)).bytes},
        LayoutCase{"ByteArray",
                   [](QVFifo& f) { return ReturnParamValueByteArray(f, 1, 2, 3, 2, "abc", 3); },
                   Expect().header(1, 2, 3, 7, 2).u32(3).raw("abc").bytes},
        LayoutCase{"EmptyByteArray",
                   [](QVFifo& f) { return ReturnParamValueByteArray(f, 1, 2, 3, 0, nullptr, 0); },
                   Expect().header(1, 2, 3, 7, 0).u32(0).bytes},
        LayoutCase{"DemodSample",
                   [](QVFifo& f) {
                       DataDemodSample s = demodSample();
                       return ReturnParamValueDemodSample(f, 0, 0xFFFF, 9, 0, &s);
                   },
                   Expect()
                       .header(0, 0xFFFF, 9, 3, 0)
                       .u64(0x0000123456789ABCull)
                       .f64(1.0).f64(-1.0).f64(2.0).f64(0.5)
                       .u32(0x12345678).u32(0)
                       .f64(0.25).f64(-2.0)
                       .bytes},
        LayoutCase{"AuxInSample",
                   [](QVFifo& f) { return ReturnParamValueAuxInSample(f, 3, 4, 10, 1, &kAux); },
                   Expect().header(3, 4, 10, 5, 1).u64(7).f64(2.0).f64(-0.5).bytes},
        LayoutCase{"DIOSample",
                   [](QVFifo& f) { return ReturnParamValueDIOSample(f, 3, 4, 11, 0, &kDio); },
                   Expect().header(3, 4, 11, 6, 0).u64(0x0000010203040506ull).u32(0xA5A50001).u32(0).bytes}),
    [](const ::testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

TEST(ValueRecord, LengthsByKind) {
    EXPECT_EQ(valueRecordLength(DATATYPE_DOUBLE), 20u);
    EXPECT_EQ(valueRecordLength(DATATYPE_INTEGER), 20u);
    EXPECT_EQ(valueRecordLength(DATATYPE_DEMODSAMPLE), 76u);
    EXPECT_EQ(valueRecordLength(DATATYPE_AUXINSAMPLE), 36u);
    EXPECT_EQ(valueRecordLength(DATATYPE_DIOSAMPLE), 28u);
    EXPECT_EQ(valueRecordLength(DATATYPE_BYTEARRAY, 5), 21u);
    EXPECT_EQ(valueRecordLength(DATATYPE_GETVALUE), 12u);
    EXPECT_EQ(valueRecordLength(DATATYPE_SCOPESAMPLE), 0u);
    EXPECT_EQ(valueRecordLength(DATATYPE_BYTEARRAY, 0xFFFFFFF0u), 0u);
}

TEST(ValueRecord, FullFifoLosesTheRecordAndSaysSo) {
    BufferFifo<2, 1024> fifo;
    ASSERT_EQ(ReturnParamValueDouble(fifo, 1, 1, 1, 0, 1.0), QV_NO_ERROR);
    ASSERT_EQ(ReturnParamValueDouble(fifo, 2, 1, 1, 0, 2.0), QV_NO_ERROR);
    test::LogCapture log;
    EXPECT_EQ(ReturnParamValueDouble(fifo, 3, 1, 1, 0, 3.0), QV_OVERFLOW);
    EXPECT_EQ(fifo.used(), 2u);

    const auto records = log.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].severity, int(logging::debug));
    EXPECT_EQ(records[0].message.rfind("QV_OVERFLOW in ", 0), 0u) << records[0].message;
    EXPECT_NE(records[0].message.find("ReturnParamValueDouble("), std::string::npos);

    // The FIFO itself is untouched: the two records read back as written.
    EXPECT_EQ(takeBlock(fifo), Expect().header(1, 1, 1, 1, 0).f64(1.0).bytes);
    EXPECT_EQ(takeBlock(fifo), Expect().header(2, 1, 1, 1, 0).f64(2.0).bytes);
}

TEST(ValueRecord, ByteArraysBeyondTheFifoOverflowWithoutReading) {
    BufferFifo<8, 64> fifo;
    const char small[4] = {};
    // The huge length must be refused before anything reads the 4-byte buffer.
    EXPECT_EQ(ReturnParamValueByteArray(fifo, 1, 1, 1, 0, small, 0xFFFFFFF0u), QV_OVERFLOW);
    Bytes big(49);
    EXPECT_EQ(ReturnParamValueByteArray(fifo, 1, 1, 1, 0, big.data(), 49), QV_OVERFLOW);
    EXPECT_EQ(ReturnParamValueByteArray(fifo, 1, 1, 1, 0, big.data(), 48), QV_NO_ERROR);
    EXPECT_EQ(fifo.used(), 1u);
}

TEST(ValueRecord, MissingValuePointerWritesNothing) {
    BufferFifo<8, 1024> fifo;
    EXPECT_EQ(ReturnParamValueByteArray(fifo, 1, 1, 1, 0, nullptr, 3), QV_ERR_GENERAL);
    EXPECT_EQ(ReturnParamValueDemodSample(fifo, 1, 1, 1, 0, nullptr), QV_ERR_GENERAL);
    EXPECT_EQ(ReturnParamValueAuxInSample(fifo, 1, 1, 1, 0, nullptr), QV_ERR_GENERAL);
    EXPECT_EQ(ReturnParamValueDIOSample(fifo, 1, 1, 1, 0, nullptr), QV_ERR_GENERAL);
    EXPECT_EQ(fifo.used(), 0u);
}

TEST(ValueRecord, ParseReadsWhatTheFamilyWrote) {
    BufferFifo<8, 1024> fifo;
    EXPECT_EQ(ReturnParamValueDouble(fifo, 11, 12, 13, 1, -4.25), QV_NO_ERROR);
    EXPECT_EQ(ReturnParamValueInteger(fifo, 0, 0xFFFF, 14, 0, -7), QV_NO_ERROR);
    EXPECT_EQ(ReturnParamValueByteArray(fifo, 1, 2, 15, 0, "xyz", 3), QV_NO_ERROR);

    ValueRecordView view;
    Bytes block = takeBlock(fifo);
    ASSERT_TRUE(parseValueRecord(block.data(), uint32_t(block.size()), view));
    EXPECT_EQ(view.header.sequenceTag, 11);
    EXPECT_EQ(view.header.sessionTag, 12);
    EXPECT_EQ(view.header.endpointId, 13u);
    EXPECT_EQ(view.header.kind, DATATYPE_DOUBLE);
    EXPECT_EQ(view.header.flags, VALUE_FLAG_REPLY_ONLY);
    EXPECT_EQ(view.asDouble(), -4.25);

    block = takeBlock(fifo);
    ASSERT_TRUE(parseValueRecord(block.data(), uint32_t(block.size()), view));
    EXPECT_EQ(view.asInteger(), -7);

    block = takeBlock(fifo);
    ASSERT_TRUE(parseValueRecord(block.data(), uint32_t(block.size()), view));
    EXPECT_EQ(std::string(view.value, view.value + view.valueLength), "xyz");
}

struct ParseCase {
    const char* name;
    Bytes record;
    bool valid;
};

class ValueRecordParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ValueRecordParse, AcceptsOnlyLengthsThatFitTheKind) {
    ValueRecordView view;
    const Bytes& r = GetParam().record;
    EXPECT_EQ(parseValueRecord(r.data(), uint32_t(r.size()), view), GetParam().valid);
}

Bytes padded(Expect e, size_t extra) {
    e.bytes.resize(e.bytes.size() + extra);
    return e.bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ValueRecordParse,
    ::testing::Values(
        ParseCase{"ReadRequest", Expect().header(1, 2, 3, 64, 0).bytes, true},
        ParseCase{"ShortHeader", Bytes(11), false},
        ParseCase{"ReadRequestWithTail", padded(Expect().header(1, 2, 3, 64, 0), 1), false},
        ParseCase{"ShortDouble", padded(Expect().header(1, 2, 3, 1, 0), 7), false},
        ParseCase{"LongInteger", padded(Expect().header(1, 2, 3, 2, 0), 9), false},
        ParseCase{"ShortDemodSample", padded(Expect().header(1, 2, 3, 3, 0), 63), false},
        ParseCase{"DIOSample", padded(Expect().header(1, 2, 3, 6, 0), 16), true},
        ParseCase{"ByteArrayWithoutLength", padded(Expect().header(1, 2, 3, 7, 0), 3), false},
        ParseCase{"ByteArrayLongerThanRecord", padded(Expect().header(1, 2, 3, 7, 0).u32(5), 4), false},
        ParseCase{"ByteArrayHugeLength", padded(Expect().header(1, 2, 3, 7, 0).u32(0xFFFFFFFF), 4), false},
        ParseCase{"ScopeWaveOwnLayout", padded(Expect().header(1, 2, 3, 4, 0), 30), true},
        ParseCase{"UnknownKind", padded(Expect().header(1, 2, 3, 99, 0), 5), true}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnix
