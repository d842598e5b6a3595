#include "LabVIEWArrays.h"

#include <cstring>
#include <limits>

#include "platform/endian/ByteOrder.h"
#include "platform/labview/RuntimeLink.h"

namespace tarnix {
namespace client {
namespace labview {

namespace lvrt = platform::labview;

ArrayOutput::ArrayOutput(void* handleSlot, lvrt::NumericType type)
    : slot_(handleSlot), type_(type), elementSize_(lvrt::numericElementSize(type)) {}

lvrt::ArrayHandle ArrayOutput::load() const {
    lvrt::ArrayHandle handle = nullptr;
    std::memcpy(&handle, slot_, sizeof handle);
    return handle;
}

void ArrayOutput::save(lvrt::ArrayHandle handle) { std::memcpy(slot_, &handle, sizeof handle); }

bool ArrayOutput::fitTo(uint32_t n) {
    if (n > uint32_t(std::numeric_limits<int32_t>::max())) return false;
    lvrt::ArrayHandle handle = load();
    if (lvrt::arrayLength(handle) != int32_t(n)) {
        if (lvrt::numericArrayResize(type_, 1, &handle, n) != lvrt::kResizeDone) return false;
        save(handle);
        if (!lvrt::arrayPresent(handle)) return false;
        lvrt::setArrayLength(handle, int32_t(n));
    }
    elements_ = lvrt::arrayElements(handle);
    return true;
}

void ArrayOutput::store(uint32_t i, const uint8_t* littleEndian) {
    uint8_t* to = elements_ + std::size_t(i) * elementSize_;
    // Arrays hold native values; the records are little-endian.
    switch (elementSize_) {
        case 2: {
            const uint16_t v = le::get16(littleEndian);
            std::memcpy(to, &v, sizeof v);
            break;
        }
        case 4: {
            const uint32_t v = le::get32(littleEndian);
            std::memcpy(to, &v, sizeof v);
            break;
        }
        default: {
            const uint64_t v = le::get64(littleEndian);
            std::memcpy(to, &v, sizeof v);
            break;
        }
    }
}

ConversionResult copyRecords(const uint8_t* records, std::size_t available, uint32_t n, uint32_t recordSize,
                             FieldRoute* routes, std::size_t routeCount) {
    if (uint64_t(n) * recordSize > available) return kRecordsBeyondData;
    for (std::size_t r = 0; r < routeCount; ++r) {
        if (!routes[r].array.fitTo(n)) return kResizeFailed;
    }
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* record = records + std::size_t(i) * recordSize;
        for (std::size_t r = 0; r < routeCount; ++r) routes[r].array.store(i, record + routes[r].offset);
    }
    return kConverted;
}

}  // namespace labview
}  // namespace client
}  // namespace tarnix
