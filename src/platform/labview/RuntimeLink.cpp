#include "platform/labview/RuntimeLink.h"

#include <dlfcn.h>

#include <cstring>

namespace tarnix {
namespace platform {
namespace labview {

namespace {

// The run-time exports its resize under this C name, taking the address of a
// handle as an untyped pointer.
constexpr const char* kHostResizeSymbol = "NumericArrayResize";
using HostResize = int32_t (*)(int32_t typeCode, int32_t dimensions, void* handleAddress, std::size_t elementCount);

HostResize findHostResize() {
    void* symbol = ::dlsym(RTLD_DEFAULT, kHostResizeSymbol);
    HostResize resize = nullptr;
    // dlsym hands out functions as object pointers; this is the documented way back.
    static_assert(sizeof resize == sizeof symbol, "function and object pointers differ in size");
    std::memcpy(&resize, &symbol, sizeof resize);
    return resize;
}

HostResize hostResize() {
    static const HostResize resize = findHostResize();
    return resize;
}

}  // namespace

int32_t numericArrayResize(int32_t typeCode, int32_t dimensions, ArrayHandle* handleAddress,
                           std::size_t elementCount) {
    if (HostResize resize = hostResize()) return resize(typeCode, dimensions, handleAddress, elementCount);
    return builtinNumericArrayResize(typeCode, dimensions, handleAddress, elementCount);
}

bool hostRuntimePresent() { return hostResize() != nullptr; }

}  // namespace labview
}  // namespace platform
}  // namespace tarnix
