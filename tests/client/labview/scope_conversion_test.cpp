#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EventBuilder.h"
#include "HostRuntime.h"
#include "platform/endian/ByteOrder.h"

using namespace lvtest;

namespace {

constexpr uint32_t kHeaderSize = 24;
constexpr uint32_t kMaxSamples = (QV_EVENT_DATA_SIZE - kHeaderSize) / 2;

// A scope event: header with the interval and the sample count at byte 20,
// then the samples i * 37 - 1000 (negative ones included).
std::unique_ptr<QvEvent> scopeEvent(double interval, uint32_t samples, uint32_t samplesWritten) {
    auto event = makeEvent(QV_VALUE_SCOPESAMPLE, 1);
    tarnix::le::putDouble(event->dataArea, interval);
    tarnix::le::put32(event->dataArea + 8, 3);  // channel: not taken over
    tarnix::le::put32(event->dataArea + 20, samples);
    for (uint32_t i = 0; i < samplesWritten; ++i) {
        tarnix::le::put16(event->dataArea + kHeaderSize + 2 * i, uint16_t(int16_t(i * 37 - 1000)));
    }
    return event;
}

struct ScopeCase {
    uint32_t samples;
    int32_t startLength;  // -1: no array yet
    int expectedResizes;
};

class ScopeConversion : public ::testing::TestWithParam<ScopeCase> {
protected:
    HostRuntimeScope host_;
};

TEST_P(ScopeConversion, SamplesAndIntervalAreTaken) {
    const ScopeCase& c = GetParam();
    auto event = scopeEvent(2.5e-7, c.samples, c.samples);
    lvrt::OwnedNumericArray samples;
    if (c.startLength >= 0) {
        ASSERT_TRUE(samples.assign(lvrt::kNumericInt16, c.startLength));
    }
    HostRuntime::reset();
    QvLvScopeWave wave{samples.handle(), 0.0};

    EXPECT_EQ(qvScopeDataToLabview(event.get(), &wave), 0);
    *samples.address() = wave.samples;

    EXPECT_EQ(wave.sampleInterval, 2.5e-7);
    EXPECT_EQ(HostRuntime::resizeCalls(), c.expectedResizes);
    const std::vector<int16_t> got = valuesOf<int16_t>(samples.handle());
    ASSERT_EQ(got.size(), c.samples);
    for (uint32_t i = 0; i < c.samples; ++i) ASSERT_EQ(got[i], int16_t(i * 37 - 1000)) << i;
}

INSTANTIATE_TEST_SUITE_P(Cases, ScopeConversion,
                         ::testing::Values(ScopeCase{0, -1, 1}, ScopeCase{0, 0, 0}, ScopeCase{5, -1, 1},
                                           ScopeCase{5, 5, 0}, ScopeCase{5, 4, 1}, ScopeCase{5, 9, 1},
                                           ScopeCase{kMaxSamples, -1, 1}));

TEST(ScopeConversionFaults, FailedResizePrintsTheErrorLineAndGivesFive) {
    HostRuntimeScope host;
    HostRuntime::failAfter(0);
    auto event = scopeEvent(1.0, 4, 4);
    QvLvScopeWave wave{nullptr, 0.0};
    ::testing::internal::CaptureStdout();
    const int32_t result = qvScopeDataToLabview(event.get(), &wave);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "LabVIEW: errrrrror!!!!!!!!!!!!\n");
    EXPECT_EQ(result, QV_LV_RESIZE_FAILED);
    EXPECT_EQ(wave.samples, nullptr);
}

TEST(ScopeConversionFaults, SampleCountBeyondTheDataAreaTouchesNothing) {
    // The count comes from the wave's own header: a damaged or foreign
    // record must not make the copy run past the event record.
    HostRuntimeScope host;
    for (uint32_t samples : {kMaxSamples + 1, 0xFFFFFFFFu}) {
        auto event = scopeEvent(1.0, samples, 0);
        lvrt::OwnedNumericArray array;
        ASSERT_TRUE(array.assign(lvrt::kNumericInt16, 3));
        QvLvScopeWave wave{array.handle(), 0.0};
        HostRuntime::reset();
        EXPECT_EQ(uint32_t(qvScopeDataToLabview(event.get(), &wave)), uint32_t(QV_BUFFER_TOO_SMALL)) << samples;
        EXPECT_EQ(HostRuntime::resizeCalls(), 0);
        EXPECT_EQ(wave.samples, array.handle());
        EXPECT_EQ(lvrt::arrayLength(array.handle()), 3);
    }
}

TEST(ScopeConversionFaults, NullEventIsAGeneralError) {
    QvLvScopeWave wave{nullptr, 0.0};
    EXPECT_EQ(uint32_t(qvScopeDataToLabview(nullptr, &wave)), uint32_t(QV_ERR_GENERAL));
}

TEST(ScopeCluster, IsPackedWithoutGaps) {
    EXPECT_EQ(sizeof(QvLvScopeWave), sizeof(QvLvArrayHandle) + sizeof(double));
    EXPECT_EQ(sizeof(QvLvDemodSamples), sizeof(int32_t) + 8 * sizeof(QvLvArrayHandle));
}

}  // namespace
