#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EventBuilder.h"
#include "HostRuntime.h"
#include "platform/endian/ByteOrder.h"

using namespace lvtest;

namespace {

using Arrays = std::vector<lvrt::OwnedNumericArray>;

constexpr int32_t kTag = 0x5EED1234;
constexpr uint32_t kDataAreaSize = QV_EVENT_DATA_SIZE;

// One output array of a conversion: its element type and the byte offset of
// the record field it takes.
struct Output {
    int32_t type;
    uint32_t offset;
};

using Run = int32_t (*)(const QvEvent*, Arrays&);

struct Kind {
    const char* name;
    uint32_t recordSize;
    std::vector<Output> outputs;  // in the order of the function's arguments
    Run run;
};

int32_t runDemod(const QvEvent* event, Arrays& a) {
    QvLvDemodSamples c{};
    c.timeStamps = a[0].handle();
    c.x = a[1].handle();
    c.y = a[2].handle();
    c.phase = a[3].handle();
    c.frequency = a[4].handle();
    c.dioBits = a[5].handle();
    c.auxIn0 = a[6].handle();
    c.auxIn1 = a[7].handle();
    const int32_t result = qvDemodSampleToLabview(event, kTag, &c);
    *a[0].address() = c.timeStamps;
    *a[1].address() = c.x;
    *a[2].address() = c.y;
    *a[3].address() = c.phase;
    *a[4].address() = c.frequency;
    *a[5].address() = c.dioBits;
    *a[6].address() = c.auxIn0;
    *a[7].address() = c.auxIn1;
    return result;
}

int32_t runDio(const QvEvent* event, Arrays& a) { return qvDIODataToLabview(event, a[0].address(), a[1].address()); }

int32_t runAux(const QvEvent* event, Arrays& a) {
    return qvAUXDataToLabview(event, a[0].address(), a[1].address(), a[2].address());
}

// Offsets as the sample records lay them out; phase (32) goes before
// frequency (24) in the demodulator cluster.
const std::vector<Kind>& kinds() {
    static const std::vector<Kind> all = {
        {"Demod",
         64,
         {{lvrt::kNumericUInt64, 0},
          {lvrt::kNumericDouble, 8},
          {lvrt::kNumericDouble, 16},
          {lvrt::kNumericDouble, 32},
          {lvrt::kNumericDouble, 24},
          {lvrt::kNumericUInt32, 40},
          {lvrt::kNumericDouble, 48},
          {lvrt::kNumericDouble, 56}},
         runDemod},
        {"Dio", 16, {{lvrt::kNumericUInt64, 0}, {lvrt::kNumericUInt32, 8}}, runDio},
        {"Aux", 24, {{lvrt::kNumericUInt64, 0}, {lvrt::kNumericDouble, 8}, {lvrt::kNumericDouble, 16}}, runAux},
    };
    return all;
}

enum class Start { Missing, Sized, Shorter, Longer };

// Gives every array of the kind the start state for an event of n records.
void prepare(const Kind& kind, Arrays& arrays, Start start, uint32_t n) {
    for (std::size_t k = 0; k < kind.outputs.size(); ++k) {
        if (start == Start::Missing) continue;
        int32_t length = int32_t(n);
        if (start == Start::Shorter) length = n == 0 ? 0 : int32_t(n) - 1;
        if (start == Start::Longer) length = int32_t(n) + 2;
        ASSERT_TRUE(arrays[k].assign(kind.outputs[k].type, length));
    }
}

uint64_t expectedField(uint32_t record, uint32_t offset, std::size_t width) {
    uint64_t v = 0;
    for (std::size_t b = 0; b < width; ++b) v |= uint64_t(patternByte(record, offset + uint32_t(b))) << (8 * b);
    return v;
}

void expectRouted(const Kind& kind, const Arrays& arrays, uint32_t n) {
    for (std::size_t k = 0; k < kind.outputs.size(); ++k) {
        const std::size_t width = lvrt::numericElementSize(kind.outputs[k].type);
        const std::vector<uint64_t> got = elementsOf(arrays[k].handle(), width);
        ASSERT_EQ(got.size(), n) << "array " << k;
        for (uint32_t i = 0; i < n; ++i) {
            ASSERT_EQ(got[i], expectedField(i, kind.outputs[k].offset, width)) << "array " << k << " element " << i;
        }
    }
}

using RouteCase = std::tuple<std::size_t, uint32_t, Start>;

class SampleConversion : public ::testing::TestWithParam<RouteCase> {
protected:
    HostRuntimeScope host_;
};

TEST_P(SampleConversion, EveryRecordFieldLandsInItsArray) {
    const Kind& kind = kinds()[std::get<0>(GetParam())];
    const uint32_t n = std::get<1>(GetParam());
    const Start start = std::get<2>(GetParam());
    auto event = makeEvent(QV_VALUE_NONE, n);
    fillPattern(*event, kind.recordSize, n);
    Arrays arrays(kind.outputs.size());
    prepare(kind, arrays, start, n);
    HostRuntime::reset();

    EXPECT_EQ(kind.run(event.get(), arrays), 0);

    expectRouted(kind, arrays, n);
    const bool fits = start == Start::Sized || (start == Start::Shorter && n == 0);
    const int expectedResizes = fits ? 0 : int(kind.outputs.size());
    EXPECT_EQ(HostRuntime::resizeCalls(), expectedResizes);
}

std::string routeCaseName(const ::testing::TestParamInfo<RouteCase>& info) {
    static const char* const starts[] = {"Missing", "Sized", "Shorter", "Longer"};
    return std::string(kinds()[std::get<0>(info.param)].name) + "_" + std::to_string(std::get<1>(info.param)) + "_" +
           starts[int(std::get<2>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(AllKinds, SampleConversion,
                         ::testing::Combine(::testing::Values(0u, 1u, 2u), ::testing::Values(0u, 1u, 3u, 1000u),
                                            ::testing::Values(Start::Missing, Start::Sized, Start::Shorter,
                                                              Start::Longer)),
                         routeCaseName);

class SampleConversionKind : public ::testing::TestWithParam<std::size_t> {
protected:
    const Kind& kind() const { return kinds()[GetParam()]; }
    HostRuntimeScope host_;
};

TEST_P(SampleConversionKind, ArraysOfDisagreeingCountsAreEachFitted) {
    // The first array already fits; the others are short or missing and
    // must not be written past their ends.
    const uint32_t n = 5;
    auto event = makeEvent(QV_VALUE_NONE, n);
    fillPattern(*event, kind().recordSize, n);
    Arrays arrays(kind().outputs.size());
    ASSERT_TRUE(arrays[0].assign(kind().outputs[0].type, n));
    ASSERT_TRUE(arrays[1].assign(kind().outputs[1].type, 1));
    HostRuntime::reset();

    EXPECT_EQ(kind().run(event.get(), arrays), 0);

    expectRouted(kind(), arrays, n);
    EXPECT_EQ(HostRuntime::resizeCalls(), int(kind().outputs.size()) - 1);
}

TEST_P(SampleConversionKind, FailedResizeGivesFive) {
    for (int okCalls : {0, 1}) {
        auto event = makeEvent(QV_VALUE_NONE, 2);
        Arrays arrays(kind().outputs.size());
        HostRuntime::reset();
        HostRuntime::failAfter(okCalls);
        EXPECT_EQ(kind().run(event.get(), arrays), QV_LV_RESIZE_FAILED) << "after " << okCalls;
        EXPECT_FALSE(lvrt::arrayPresent(arrays.back().handle()));
    }
}

TEST_P(SampleConversionKind, CountBeyondTheDataAreaTouchesNothing) {
    // More records than 4 MiB hold would be read past the event record.
    const uint32_t capacity = kDataAreaSize / kind().recordSize;
    for (uint32_t count : {capacity + 1, 0xFFFFFFFFu}) {
        auto event = makeEvent(QV_VALUE_DOUBLE, count);
        Arrays arrays(kind().outputs.size());
        ASSERT_TRUE(arrays[0].assign(kind().outputs[0].type, 7));
        HostRuntime::reset();
        EXPECT_EQ(uint32_t(kind().run(event.get(), arrays)), uint32_t(QV_BUFFER_TOO_SMALL)) << count;
        EXPECT_EQ(HostRuntime::resizeCalls(), 0);
        EXPECT_EQ(lvrt::arrayLength(arrays[0].handle()), 7);
    }
}

TEST_P(SampleConversionKind, FullDataAreaIsConverted) {
    const uint32_t capacity = kDataAreaSize / kind().recordSize;
    auto event = makeEvent(QV_VALUE_NONE, capacity);
    fillPattern(*event, kind().recordSize, capacity);
    Arrays arrays(kind().outputs.size());
    EXPECT_EQ(kind().run(event.get(), arrays), 0);
    expectRouted(kind(), arrays, capacity);
}

TEST_P(SampleConversionKind, EmptyEventEmptiesTheArrays) {
    // An event record that nothing was polled into: value type 0, count 0.
    auto event = makeEvent(QV_VALUE_NONE, 0);
    Arrays arrays(kind().outputs.size());
    for (std::size_t k = 0; k < arrays.size(); ++k) ASSERT_TRUE(arrays[k].assign(kind().outputs[k].type, 4));
    EXPECT_EQ(kind().run(event.get(), arrays), 0);
    for (const auto& a : arrays) EXPECT_EQ(lvrt::arrayLength(a.handle()), 0);
}

TEST_P(SampleConversionKind, NullEventIsAGeneralError) {
    Arrays arrays(kind().outputs.size());
    EXPECT_EQ(uint32_t(kind().run(nullptr, arrays)), uint32_t(QV_ERR_GENERAL));
    EXPECT_FALSE(lvrt::arrayPresent(arrays[0].handle()));
}

INSTANTIATE_TEST_SUITE_P(AllKinds, SampleConversionKind, ::testing::Values(0u, 1u, 2u),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             return std::string(kinds()[info.param].name);
                         });

TEST(DemodConversion, SampleValuesKeepTheirMeaning) {
    HostRuntimeScope host;
    auto event = makeEvent(QV_VALUE_DEMODSAMPLE, 2);
    for (uint32_t i = 0; i < 2; ++i) {
        uint8_t* r = event->dataArea + 64 * i;
        tarnix::le::put64(r, (uint64_t(1) << 40) + i);
        tarnix::le::putDouble(r + 8, 0.5 + i);
        tarnix::le::putDouble(r + 16, -1.5 - i);
        tarnix::le::putDouble(r + 24, 1.0e6 + i);  // frequency
        tarnix::le::putDouble(r + 32, 0.25 * i);   // phase
        tarnix::le::put32(r + 40, 0xA5000000u + i);
        tarnix::le::putDouble(r + 48, 3.0 + i);
        tarnix::le::putDouble(r + 56, -4.0 - i);
    }
    Arrays a(8);
    ASSERT_EQ(runDemod(event.get(), a), 0);
    EXPECT_EQ(valuesOf<uint64_t>(a[0].handle()), (std::vector<uint64_t>{1ull << 40, (1ull << 40) + 1}));
    EXPECT_EQ(valuesOf<double>(a[1].handle()), (std::vector<double>{0.5, 1.5}));
    EXPECT_EQ(valuesOf<double>(a[2].handle()), (std::vector<double>{-1.5, -2.5}));
    EXPECT_EQ(valuesOf<double>(a[3].handle()), (std::vector<double>{0.0, 0.25}));
    EXPECT_EQ(valuesOf<double>(a[4].handle()), (std::vector<double>{1.0e6, 1.0e6 + 1}));
    EXPECT_EQ(valuesOf<uint32_t>(a[5].handle()), (std::vector<uint32_t>{0xA5000000u, 0xA5000001u}));
    EXPECT_EQ(valuesOf<double>(a[6].handle()), (std::vector<double>{3.0, 4.0}));
    EXPECT_EQ(valuesOf<double>(a[7].handle()), (std::vector<double>{-4.0, -5.0}));
}

TEST(DemodConversion, TagIsStoredUnchangedInTheFirstField) {
    HostRuntimeScope host;
    auto event = makeEvent(QV_VALUE_DEMODSAMPLE, 0);
    QvLvDemodSamples cluster{};
    ASSERT_EQ(qvDemodSampleToLabview(event.get(), -123456789, &cluster), 0);
    int32_t first = 0;
    std::memcpy(&first, &cluster, sizeof first);
    EXPECT_EQ(first, -123456789);
    for (QvLvArrayHandle h : {cluster.timeStamps, cluster.x, cluster.y, cluster.phase, cluster.frequency,
                              cluster.dioBits, cluster.auxIn0, cluster.auxIn1}) {
        EXPECT_EQ(lvrt::arrayLength(h), 0);
        lvrt::disposeNumericArray(h);
    }
}

TEST(DemodConversion, TagIsNotStoredWhenAResizeFails) {
    HostRuntimeScope host;
    HostRuntime::failAfter(0);
    auto event = makeEvent(QV_VALUE_DEMODSAMPLE, 1);
    QvLvDemodSamples cluster{};
    EXPECT_EQ(qvDemodSampleToLabview(event.get(), kTag, &cluster), QV_LV_RESIZE_FAILED);
    EXPECT_EQ(cluster.tag, 0);
}

TEST(SampleConversionOutputs, MissingOutputsGiveTheirCodes) {
    auto event = makeEvent(QV_VALUE_NONE, 1);
    QvLvArrayHandle a = nullptr, b = nullptr, c = nullptr;
    EXPECT_EQ(qvDemodSampleToLabview(event.get(), kTag, nullptr), 2);
    EXPECT_EQ(qvScopeDataToLabview(event.get(), nullptr), 2);
    EXPECT_EQ(qvDIODataToLabview(event.get(), nullptr, &b), 1);
    EXPECT_EQ(qvDIODataToLabview(event.get(), &a, nullptr), 1);
    EXPECT_EQ(qvAUXDataToLabview(event.get(), nullptr, &b, &c), 2);
    EXPECT_EQ(qvAUXDataToLabview(event.get(), &a, nullptr, &c), 2);
    EXPECT_EQ(qvAUXDataToLabview(event.get(), &a, &b, nullptr), 2);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(b, nullptr);
    EXPECT_EQ(c, nullptr);
}

}  // namespace
