// qvAPIPollData for LabVIEW: one event as separate scalar outputs.
#include <cmath>
#include <cstddef>
#include <limits>

#include "LabVIEWText.h"
#include "platform/endian/ByteOrder.h"
#include "qvLabVIEW.h"

namespace {

namespace le = tarnix::le;

constexpr uint32_t kEventDataOffset = offsetof(QvEvent, dataArea);

// Truncation toward zero; values beyond the int32_t range saturate, NaN is 0.
int32_t truncateToInt32(double value) {
    if (std::isnan(value)) return 0;
    if (value <= double(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    if (value >= double(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    return int32_t(value);
}

template <class T>
void setIfGiven(T* out, T value) {
    if (out != nullptr) *out = value;
}

// Scalars are read only from events that carry one; an event without values
// leaves the outputs as they were.
void giveScalar(const QvEvent& event, int32_t* integerValue, double* doubleValue) {
    if (event.count == 0) return;
    const uint64_t bits = le::get64(event.dataArea);
    if (event.valueType == QV_VALUE_INTEGER) {
        setIfGiven(doubleValue, double(int64_t(bits)));
        setIfGiven(integerValue, int32_t(uint32_t(bits)));
    } else if (event.valueType == QV_VALUE_DOUBLE) {
        const double value = le::getDouble(event.dataArea);
        setIfGiven(doubleValue, value);
        setIfGiven(integerValue, truncateToInt32(value));
    }
}

}  // namespace

extern "C" QV_STATUS qvAPILVPollData(QvHandle* handle, QvEvent* event, int32_t timeoutMs, char* path,
                                     uint32_t* valueType, uint32_t* count, uint32_t* dataOffset,
                                     int32_t* integerValue, double* doubleValue) {
    if (handle == nullptr || event == nullptr) return QV_ERR_GENERAL;
    const QV_STATUS polled = qvAPIPollData(handle, event, timeoutMs);
    if (polled != QV_NO_ERROR) {
        setIfGiven(count, 0u);
        return polled;
    }
    setIfGiven(valueType, event->valueType);
    setIfGiven(count, event->count);
    setIfGiven(dataOffset, kEventDataOffset);
    giveScalar(*event, integerValue, doubleValue);
    tarnix::client::labview::copyToTextBuffer(event->path, path);
    return QV_NO_ERROR;
}
