// The sample conversions: the records of one event into LabVIEW arrays.
#include <array>
#include <cstdio>

#include "LabVIEWArrays.h"
#include "platform/endian/ByteOrder.h"
#include "wire/BinaryWire.h"

namespace lv = tarnix::client::labview;
namespace lvrt = tarnix::platform::labview;
namespace le = tarnix::le;
namespace wire = tarnix::wire;

namespace {

constexpr const char* kScopeResizeFailedLine = "LabVIEW: errrrrror!!!!!!!!!!!!";

// The records always come from the event's own data area, which bounds them;
// qvAPIPollData points the record's data pointer there too.
template <std::size_t N>
int32_t convertEvent(const QvEvent& event, uint32_t recordSize, std::array<lv::FieldRoute, N>& routes) {
    return lv::copyRecords(event.dataArea, sizeof event.dataArea, event.count, recordSize, routes.data(), N);
}

}  // namespace

extern "C" {

int32_t qvDemodSampleToLabview(const QvEvent* event, int32_t tag, QvLvDemodSamples* samples) {
    if (samples == nullptr) return QV_LV_NO_OUTPUT;
    if (event == nullptr) return int32_t(QV_ERR_GENERAL);
    std::array<lv::FieldRoute, 8> routes{{
        {{&samples->timeStamps, lvrt::kNumericUInt64}, wire::kDemodTimeStampAt},
        {{&samples->x, lvrt::kNumericDouble}, wire::kDemodXAt},
        {{&samples->y, lvrt::kNumericDouble}, wire::kDemodYAt},
        {{&samples->phase, lvrt::kNumericDouble}, wire::kDemodPhaseAt},
        {{&samples->frequency, lvrt::kNumericDouble}, wire::kDemodFrequencyAt},
        {{&samples->dioBits, lvrt::kNumericUInt32}, wire::kDemodDioBitsAt},
        {{&samples->auxIn0, lvrt::kNumericDouble}, wire::kDemodAuxIn0At},
        {{&samples->auxIn1, lvrt::kNumericDouble}, wire::kDemodAuxIn1At},
    }};
    const int32_t result = convertEvent(*event, wire::kDemodSampleSize, routes);
    if (result == lv::kConverted) samples->tag = tag;
    return result;
}

int32_t qvDIODataToLabview(const QvEvent* event, QvLvArrayHandle* timeStamps, QvLvArrayHandle* bits) {
    if (timeStamps == nullptr || bits == nullptr) return QV_LV_DIO_NO_OUTPUT;
    if (event == nullptr) return int32_t(QV_ERR_GENERAL);
    std::array<lv::FieldRoute, 2> routes{{
        {{timeStamps, lvrt::kNumericUInt64}, wire::kDIOTimeStampAt},
        {{bits, lvrt::kNumericUInt32}, wire::kDIOBitsAt},
    }};
    return convertEvent(*event, wire::kDIOSampleSize, routes);
}

int32_t qvAUXDataToLabview(const QvEvent* event, QvLvArrayHandle* timeStamps, QvLvArrayHandle* ch0,
                           QvLvArrayHandle* ch1) {
    if (timeStamps == nullptr || ch0 == nullptr || ch1 == nullptr) return QV_LV_NO_OUTPUT;
    if (event == nullptr) return int32_t(QV_ERR_GENERAL);
    std::array<lv::FieldRoute, 3> routes{{
        {{timeStamps, lvrt::kNumericUInt64}, wire::kAuxInTimeStampAt},
        {{ch0, lvrt::kNumericDouble}, wire::kAuxInCh0At},
        {{ch1, lvrt::kNumericDouble}, wire::kAuxInCh1At},
    }};
    return convertEvent(*event, wire::kAuxInSampleSize, routes);
}

int32_t qvScopeDataToLabview(const QvEvent* event, QvLvScopeWave* wave) {
    if (wave == nullptr) return QV_LV_NO_OUTPUT;
    if (event == nullptr) return int32_t(QV_ERR_GENERAL);
    const uint8_t* header = event->dataArea;
    const uint32_t n = le::get32(header + wire::kScopeSampleCountAt);
    std::array<lv::FieldRoute, 1> routes{{{{&wave->samples, lvrt::kNumericInt16}, 0}}};
    wave->sampleInterval = le::getDouble(header + wire::kScopeDtAt);
    const int32_t result = lv::copyRecords(header + wire::kScopeHeaderSize,
                                           sizeof event->dataArea - wire::kScopeHeaderSize, n,
                                           wire::kScopePointSize, routes.data(), routes.size());
    if (result == lv::kResizeFailed) {
        std::puts(kScopeResizeFailedLine);
        std::fflush(stdout);
    }
    return result;
}

}  // extern "C"
