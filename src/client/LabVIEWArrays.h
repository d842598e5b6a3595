#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/labview/NumericArray.h"
#include "qvLabVIEW.h"

// How the LabVIEW conversions fill the caller's numeric arrays: each output
// array takes one field of every record of an event.
namespace tarnix {
namespace client {
namespace labview {

// One output array: the address of its handle, which may lie unaligned inside
// a packed cluster, and the array's numeric type.
class ArrayOutput {
public:
    ArrayOutput(void* handleSlot, platform::labview::NumericType type);

    bool hasSlot() const { return slot_ != nullptr; }
    // Makes the array hold exactly n elements, resizing through the run-time
    // when it is missing or has another count; false when that fails.
    bool fitTo(uint32_t n);
    // Stores element i from a little-endian value of the element's width.
    // Only after fitTo succeeded, with i below its n.
    void store(uint32_t i, const uint8_t* littleEndian);

private:
    platform::labview::ArrayHandle load() const;
    void save(platform::labview::ArrayHandle handle);

    void* slot_;
    platform::labview::NumericType type_;
    std::size_t elementSize_;
    uint8_t* elements_ = nullptr;
};

// Routes one field of each record (at `offset` within the record) into an array.
struct FieldRoute {
    ArrayOutput array;
    uint32_t offset;
};

enum ConversionResult : int32_t {
    kConverted = 0,
    kResizeFailed = QV_LV_RESIZE_FAILED,
    kRecordsBeyondData = QV_BUFFER_TOO_SMALL,
};

// Copies n records of `recordSize` bytes, starting at `records`, into the
// routes' arrays, element i from record i. The records must lie within the
// `available` bytes at `records`, or nothing is touched.
ConversionResult copyRecords(const uint8_t* records, std::size_t available, uint32_t n, uint32_t recordSize,
                             FieldRoute* routes, std::size_t routeCount);

}  // namespace labview
}  // namespace client
}  // namespace tarnix
