#include "HostRuntime.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/labview/NumericArray.h"

namespace lvtest {

namespace {

constexpr int kNeverFail = -1;
constexpr int32_t kHostOutOfMemory = 2;

std::atomic<int> calls{0};
std::atomic<int> okBeforeFailing{kNeverFail};

}  // namespace

void HostRuntime::reset() {
    calls = 0;
    okBeforeFailing = kNeverFail;
}

int HostRuntime::resizeCalls() { return calls.load(); }

void HostRuntime::failAfter(int okCalls) { okBeforeFailing = okCalls; }

}  // namespace lvtest

extern "C" __attribute__((visibility("default"))) int32_t NumericArrayResize(int32_t typeCode, int32_t dimensions,
                                                                             void* handleAddress,
                                                                             std::size_t elementCount) {
    namespace lvrt = tarnix::platform::labview;
    const int call = lvtest::calls++;
    const int okCalls = lvtest::okBeforeFailing.load();
    if (okCalls != lvtest::kNeverFail && call >= okCalls) return lvtest::kHostOutOfMemory;
    return lvrt::builtinNumericArrayResize(typeCode, dimensions, static_cast<lvrt::ArrayHandle*>(handleAddress),
                                           elementCount);
}
