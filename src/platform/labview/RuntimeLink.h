#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/labview/NumericArray.h"

// The bridge's way to the LabVIEW run-time. A LabVIEW process that loads the
// bridge supplies the run-time's own NumericArrayResize; any other host gets
// the built-in stand-in, so the bridge also works in plain programs.
namespace tarnix {
namespace platform {
namespace labview {

// The run-time's resize: the host's NumericArrayResize when the process
// exports one (looked up once, on first use), else builtinNumericArrayResize.
// 0 means done; any other result means nothing usable was allocated.
int32_t numericArrayResize(int32_t typeCode, int32_t dimensions, ArrayHandle* handleAddress,
                           std::size_t elementCount);

// True when the process supplies its own run-time.
bool hostRuntimePresent();

}  // namespace labview
}  // namespace platform
}  // namespace tarnix
