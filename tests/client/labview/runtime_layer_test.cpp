#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/labview/NumericArray.h"

namespace lvrt = tarnix::platform::labview;

namespace {

struct TypeCase {
    int32_t type;
    std::size_t size;
};

class BuiltinResize : public ::testing::TestWithParam<TypeCase> {};

TEST_P(BuiltinResize, CreatesGrowsAndShrinksKeepingElements) {
    const std::size_t size = GetParam().size;
    lvrt::OwnedNumericArray array;
    ASSERT_EQ(lvrt::builtinNumericArrayResize(GetParam().type, 1, array.address(), 3), lvrt::kResizeDone);
    ASSERT_TRUE(lvrt::arrayPresent(array.handle()));
    EXPECT_EQ(lvrt::arrayLength(array.handle()), 0);  // the count is the caller's to write
    std::memset(lvrt::arrayElements(array.handle()), 0x5A, 3 * size);
    lvrt::setArrayLength(array.handle(), 3);

    const lvrt::ArrayHandle handle = array.handle();
    ASSERT_EQ(lvrt::builtinNumericArrayResize(GetParam().type, 1, array.address(), 100000), lvrt::kResizeDone);
    EXPECT_EQ(array.handle(), handle);  // the block may move, the handle stays
    EXPECT_EQ(lvrt::arrayLength(array.handle()), 3);
    const uint8_t* kept = lvrt::arrayElements(array.handle());
    for (std::size_t b = 0; b < 3 * size; ++b) ASSERT_EQ(kept[b], 0x5A);
    std::memset(lvrt::arrayElements(array.handle()), 0, 100000 * size);  // the room is there

    ASSERT_EQ(lvrt::builtinNumericArrayResize(GetParam().type, 1, array.address(), 0), lvrt::kResizeDone);
    EXPECT_EQ(lvrt::numericElementSize(GetParam().type), size);
}

INSTANTIATE_TEST_SUITE_P(Types, BuiltinResize,
                         ::testing::Values(TypeCase{lvrt::kNumericInt16, 2}, TypeCase{lvrt::kNumericUInt32, 4},
                                           TypeCase{lvrt::kNumericUInt64, 8}, TypeCase{lvrt::kNumericDouble, 8}));

TEST(BuiltinResizeRefuses, BadArgumentsAndImpossibleSizesLeaveTheHandle) {
    lvrt::OwnedNumericArray array;
    ASSERT_TRUE(array.assign(lvrt::kNumericDouble, 2));
    const lvrt::ArrayHandle handle = array.handle();
    const uint8_t* block = *handle;

    EXPECT_EQ(lvrt::builtinNumericArrayResize(99, 1, array.address(), 1), lvrt::kResizeBadArgument);
    EXPECT_EQ(lvrt::builtinNumericArrayResize(lvrt::kNumericDouble, 0, array.address(), 1), lvrt::kResizeBadArgument);
    EXPECT_EQ(lvrt::builtinNumericArrayResize(lvrt::kNumericDouble, 1, nullptr, 1), lvrt::kResizeBadArgument);
    EXPECT_EQ(lvrt::builtinNumericArrayResize(lvrt::kNumericDouble, 1, array.address(),
                                              std::numeric_limits<std::size_t>::max() / 4),
              lvrt::kResizeNoMemory);

    EXPECT_EQ(array.handle(), handle);
    EXPECT_EQ(*handle, block);
    EXPECT_EQ(lvrt::arrayLength(handle), 2);

    lvrt::ArrayHandle none = nullptr;
    EXPECT_EQ(lvrt::builtinNumericArrayResize(lvrt::kNumericUInt64, 1, &none, std::numeric_limits<std::size_t>::max()),
              lvrt::kResizeNoMemory);
    EXPECT_EQ(none, nullptr);
}

TEST(BuiltinResizeBlocks, HandleWithoutBlockGetsOne) {
    lvrt::ArrayHandle handle = nullptr;
    ASSERT_EQ(lvrt::builtinNumericArrayResize(lvrt::kNumericUInt32, 1, &handle, 0), lvrt::kResizeDone);
    std::free(*handle);
    *handle = nullptr;
    EXPECT_FALSE(lvrt::arrayPresent(handle));
    EXPECT_EQ(lvrt::arrayLength(handle), -1);
    EXPECT_EQ(lvrt::arrayElements(handle), nullptr);
    ASSERT_EQ(lvrt::builtinNumericArrayResize(lvrt::kNumericUInt32, 1, &handle, 4), lvrt::kResizeDone);
    EXPECT_TRUE(lvrt::arrayPresent(handle));
    lvrt::disposeNumericArray(handle);
}

TEST(BuiltinResizeBlocks, MultiDimensionalBlocksStartWithTheirSizes) {
    lvrt::ArrayHandle handle = nullptr;
    ASSERT_EQ(lvrt::builtinNumericArrayResize(lvrt::kNumericInt16, 2, &handle, 6), lvrt::kResizeDone);
    uint8_t* block = *handle;
    for (int b = 0; b < 8; ++b) EXPECT_EQ(block[b], 0);  // two zero dimension sizes
    std::memset(block + 8, 0x11, 12);                    // then 6 elements of 2 bytes
    lvrt::disposeNumericArray(handle);
    lvrt::disposeNumericArray(nullptr);
}

}  // namespace
