// Zero-filled arrays of the FIFOs: large ones cost memory only for the pages
// used and give all of it back when they end.
#include "core/fifo/ZeroedArray.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace tarnix {
namespace {

// Pages of [data, data + bytes) in memory; -1 when the range is not mapped.
long residentPages(const void* data, std::size_t bytes) {
    const std::size_t page = std::size_t(::sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> state((bytes + page - 1) / page);
    if (::mincore(const_cast<void*>(data), bytes, state.data()) != 0) return errno == ENOMEM ? -1 : -2;
    long resident = 0;
    for (unsigned char s : state) resident += s & 1;
    return resident;
}

TEST(ZeroedArrayTest, ALargeArrayIsZeroCostsOnlyTheTouchedPagesAndIsGivenBackWhole) {
    constexpr std::size_t kBytes = 8u << 20;
    const std::size_t page = std::size_t(::sysconf(_SC_PAGESIZE));
    void* where = nullptr;
    {
        ZeroedArray<uint8_t> array = allocateZeroed<uint8_t>(kBytes);
        where = array.get();
        EXPECT_EQ(residentPages(where, kBytes), 0);
        array[0] = 1;
        array[5 * page + 3] = 2;
        EXPECT_EQ(residentPages(where, kBytes), 2);
        EXPECT_EQ(array[1], 0);
        EXPECT_EQ(array[kBytes - 1], 0);
        ZeroedArray<uint8_t> moved = std::move(array);
        EXPECT_FALSE(array);
        EXPECT_EQ(moved[5 * page + 3], 2);
    }
    EXPECT_EQ(residentPages(where, kBytes), -1) << "still mapped after the array ended";
}

TEST(ZeroedArrayTest, SmallAndEmptyArraysAreZeroToo) {
    struct Pair {
        uint32_t a;
        uint64_t b;
    };
    for (std::size_t count : {0u, 1u, 100u, 4000u}) {
        ZeroedArray<Pair> array = allocateZeroed<Pair>(count);
        ASSERT_TRUE(array);
        for (std::size_t i = 0; i < count; ++i) ASSERT_TRUE(array[i].a == 0 && array[i].b == 0) << count;
    }
}

}  // namespace
}  // namespace tarnix
