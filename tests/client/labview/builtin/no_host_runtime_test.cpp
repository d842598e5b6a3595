#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "platform/endian/ByteOrder.h"
#include "platform/labview/NumericArray.h"
#include "platform/labview/RuntimeLink.h"
#include "qvLabVIEW.h"

// A host that is no LabVIEW process: the bridge resizes with its built-in
// run-time layer, whose arrays the host frees with the same layer.
namespace lvrt = tarnix::platform::labview;

namespace {

TEST(NoHostRuntime, BridgeUsesItsBuiltinArrays) {
    EXPECT_FALSE(lvrt::hostRuntimePresent());
    auto event = std::make_unique<QvEvent>();
    event->valueType = QV_VALUE_AUXINSAMPLE;
    event->count = 2;
    event->data = event->dataArea;
    for (uint32_t i = 0; i < 2; ++i) {
        tarnix::le::put64(event->dataArea + 24 * i, 100 + i);
        tarnix::le::putDouble(event->dataArea + 24 * i + 8, 1.25 * i);
        tarnix::le::putDouble(event->dataArea + 24 * i + 16, -1.0 * i);
    }
    lvrt::OwnedNumericArray stamps, ch0, ch1;
    ASSERT_TRUE(ch1.assign(lvrt::kNumericDouble, 5));

    ASSERT_EQ(qvAUXDataToLabview(event.get(), stamps.address(), ch0.address(), ch1.address()), 0);

    ASSERT_EQ(lvrt::arrayLength(stamps.handle()), 2);
    ASSERT_EQ(lvrt::arrayLength(ch1.handle()), 2);
    double second = 0;
    std::memcpy(&second, lvrt::arrayElements(ch0.handle()) + 8, sizeof second);
    EXPECT_EQ(second, 1.25);
    uint64_t first = 0;
    std::memcpy(&first, lvrt::arrayElements(stamps.handle()), sizeof first);
    EXPECT_EQ(first, 100u);
}

}  // namespace
