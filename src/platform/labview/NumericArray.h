#pragma once
#include <cstddef>
#include <cstdint>

// Our stand-in for the LabVIEW run-time's numeric array memory. An array is
// reached through a handle: a pointer to a cell that points to one block
// {signed 32-bit size of each dimension, then the elements packed without
// gaps}. The run-time may move the block or replace the handle when it
// resizes, which is why resizing takes the address of the handle.
namespace tarnix {
namespace platform {
namespace labview {

// Numeric type codes of the run-time's arrays that the bridge uses.
enum NumericType : int32_t {
    kNumericInt16 = 2,
    kNumericUInt32 = 7,
    kNumericUInt64 = 8,
    kNumericDouble = 10,
};

using ArrayHandle = uint8_t**;

// Results of a resize; anything but kResizeDone means nothing usable was
// allocated and the handle is as it was.
enum ResizeResult : int32_t {
    kResizeDone = 0,
    kResizeBadArgument = 1,
    kResizeNoMemory = 2,
};

// Bytes of one element of the type; 0 for a code the stand-in does not know.
std::size_t numericElementSize(int32_t typeCode);

// Makes the array at *handleAddress hold room for `elementCount` elements of
// the type in `dimensions` dimensions, creating handle and block when
// *handleAddress is null. Existing elements are kept up to the new size; the
// dimension sizes are the caller's to write (a new block starts with zeros).
int32_t builtinNumericArrayResize(int32_t typeCode, int32_t dimensions, ArrayHandle* handleAddress,
                                  std::size_t elementCount);

// Frees a handle made by builtinNumericArrayResize; null is ignored.
void disposeNumericArray(ArrayHandle handle);

// One-dimensional access. A null handle or a handle without a block counts as
// missing: no length (-1) and no elements.
bool arrayPresent(ArrayHandle handle);
int32_t arrayLength(ArrayHandle handle);
void setArrayLength(ArrayHandle handle, int32_t length);
uint8_t* arrayElements(ArrayHandle handle);

// An array owned by C++ code (hosts, tests): disposed with the owner.
class OwnedNumericArray {
public:
    OwnedNumericArray() = default;
    ~OwnedNumericArray() { disposeNumericArray(handle_); }
    OwnedNumericArray(const OwnedNumericArray&) = delete;
    OwnedNumericArray& operator=(const OwnedNumericArray&) = delete;

    // A one-dimensional array of `length` elements of the type; false when
    // it cannot be made.
    bool assign(int32_t typeCode, int32_t length);

    ArrayHandle handle() const { return handle_; }
    ArrayHandle* address() { return &handle_; }

private:
    ArrayHandle handle_ = nullptr;
};

}  // namespace labview
}  // namespace platform
}  // namespace tarnix
