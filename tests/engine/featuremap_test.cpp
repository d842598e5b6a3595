#include "engine/FeatureMap.h"

#include "core/LogCapture.h"

#include <gtest/gtest.h>

#include <string>

namespace tarnix {
namespace {

class FeatureMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        map.maximum = 300;
        ASSERT_EQ(FeatureMapAllocate(map), QV_NO_ERROR);
    }
    int insert(uint32_t address, uint32_t count = 1, uint32_t stride = 0x100) {
        Feature* item = nullptr;
        EXPECT_EQ(FeatureMapInsert(map, address, count, stride, 7, "BLOCK   ", &item), QV_NO_ERROR);
        int row = -1;
        EXPECT_EQ(FeatureMapRowOf(item, map, &row), QV_NO_ERROR);
        return row;
    }
    FeatureMap map;
};

TEST_F(FeatureMapTest, DuplicateStartIsRefusedUntilTheRowIsCleared) {
    test::LogCapture log;
    const int row = insert(0x1000);
    EXPECT_EQ(FeatureMapInsert(map, 0x1000, 1, 4, 0, "OTHER   "), QV_ITEM_EXISTS);
    EXPECT_TRUE(log.contains("Duplicate (0x00001000) at index 0!"));
    EXPECT_EQ(FeatureMapClearRow(map, row), QV_NO_ERROR);
    EXPECT_EQ(insert(0x1000), row) << "the cleared row is taken again";
    EXPECT_EQ(map.count, 1);
}

TEST_F(FeatureMapTest, CapacityIs300Rows) {
    test::LogCapture log;
    for (int i = 0; i < 300; ++i) ASSERT_EQ(insert(0x10000u + 0x100u * uint32_t(i)), i);
    EXPECT_EQ(FeatureMapInsert(map, 0x900000, 1, 4, 0, "FULL    "), QV_ALLOC_FAILED);
    EXPECT_TRUE(log.contains(
        "Attempt to insert more than maximum 300 items into FeatureMap, reallocation is not possible."));
}

TEST_F(FeatureMapTest, ReserveCountsFreeAndClearedRows) {
    for (int i = 0; i < 290; ++i) insert(0x10000u + 0x100u * uint32_t(i));
    EXPECT_EQ(FeatureMapReserve(map, 10), QV_NO_ERROR);
    EXPECT_EQ(FeatureMapReserve(map, 11), QV_ALLOC_FAILED);
    EXPECT_EQ(FeatureMapClearRow(map, 5), QV_NO_ERROR);
    EXPECT_EQ(FeatureMapReserve(map, 11), QV_NO_ERROR);
}

// A device that rebuilds its groups again and again must never run out of rows.
TEST_F(FeatureMapTest, RowsOfRepeatedRebuildsAreReused) {
    std::vector<int> rows;
    for (int restart = 0; restart < 50; ++restart) {
        for (int row : rows) FeatureMapClearRow(map, row).ignore();
        rows.clear();
        ASSERT_EQ(FeatureMapReserve(map, 30), QV_NO_ERROR) << "restart " << restart;
        for (int i = 0; i < 30; ++i) rows.push_back(insert(0x20000u + 0x1000u * uint32_t(i)));
    }
    EXPECT_EQ(map.count, 30);
}

TEST_F(FeatureMapTest, LookupEdges) {
    const int row = insert(0x1000, 4, 0x100);  // 0x1000 .. 0x1400
    ASSERT_EQ(FeatureMapAddSubfeature(map, row, 2, 0x10, 4, 11), QV_NO_ERROR);

    struct Case {
        uint32_t address, length;
        bool found;
        uint32_t instance, subs;
    } cases[] = {
        {0x0FFF, 4, false, 0, 0},     // below the first item
        {0x1400, 4, false, 0, 0},     // exactly at the end of the last item
        {0x1210, 4, true, 2, 1},      // inside instance 2, the field exactly
        {0x1200, 0x14, true, 2, 1},   // block ends where the field ends (inclusive)
        {0x1200, 0x13, true, 2, 0},   // one byte short
        {0x1214, 4, true, 2, 0},      // block starts after the field
    };
    for (const Case& c : cases) {
        Feature* item = reinterpret_cast<Feature*>(1);
        uint32_t instance = 99;
        const FeatureMapSubfeature* subs[4];
        uint32_t n = 4;
        ASSERT_EQ(FeatureMapLookup(map, c.address, c.length, &item, &instance, subs, &n), QV_NO_ERROR);
        EXPECT_EQ(item != nullptr, c.found) << std::hex << c.address;
        EXPECT_EQ(instance, c.instance) << std::hex << c.address;
        EXPECT_EQ(n, c.subs) << std::hex << c.address << " len " << c.length;
    }
}

TEST_F(FeatureMapTest, LookupReturnsAtMostTheCapacity) {
    const int row = insert(0x1000, 1, 0x40);
    for (int i = 0; i < 5; ++i) FeatureMapAddSubfeature(map, row, 0, uint32_t(4 * i), 4, i).ignore();
    const FeatureMapSubfeature* subs[4];
    uint32_t n = 4;
    Feature* item = nullptr;
    uint32_t instance = 0;
    EXPECT_EQ(FeatureMapLookup(map, 0x1000, 0x40, &item, &instance, subs, &n), QV_NO_ERROR);
    ASSERT_EQ(n, 4u);
    for (uint32_t i = 0; i < n; ++i) EXPECT_EQ(subs[i]->epId, int(i)) << "order of addition";
}

TEST_F(FeatureMapTest, SubfeatureInstanceMustBeInTheItem) {
    const int row = insert(0x1000, 3, 0x10);
    EXPECT_EQ(FeatureMapAddSubfeature(map, row, 3, 0, 4, 1), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(FeatureMapAddSubfeature(map, -1, 0, 0, 4, 1), QV_VALUE_NOT_FOUND);
    EXPECT_EQ(FeatureMapClearRow(map, row), QV_NO_ERROR);
    EXPECT_EQ(FeatureMapAddSubfeature(map, row, 0, 0, 4, 1), QV_BUFFER_TOO_SMALL);
    const uint32_t generation = map.generation;
    const int other = insert(0x2000, 2, 0x10);
    EXPECT_EQ(map.generation, generation) << "an insert does not bump the generation";
    EXPECT_EQ(FeatureMapAddSubfeature(map, other, 1, 4, 4, 1), QV_NO_ERROR);
    EXPECT_EQ(map.generation, generation + 1);
    EXPECT_EQ(map.items[std::size_t(other)].instances[1][0].address, 0x2014u);
}

TEST_F(FeatureMapTest, SortKeepsTheLowestRowOfEqualStartsAndSkipsClearedRows) {
    insert(0x3000);
    const int cleared = insert(0x1000);
    insert(0x2000);
    EXPECT_EQ(FeatureMapClearRow(map, cleared), QV_NO_ERROR);
    EXPECT_EQ(FeatureMapSort(map), QV_NO_ERROR);
    ASSERT_EQ(map.sortedCount, 2u);
    EXPECT_EQ(map.starts[0], 0x2000u);
    EXPECT_EQ(map.starts[1], 0x3000u);
    Feature* item = nullptr;
    uint32_t instance = 0;
    EXPECT_EQ(FeatureMapLookup(map, 0x1000, 4, &item, &instance, nullptr, nullptr), QV_NO_ERROR);
    EXPECT_EQ(item, nullptr) << "a cleared row is not found";
}

TEST_F(FeatureMapTest, AddressOf) {
    insert(0x1000, 2, 0x100);
    const Feature* item = &map.items[0];
    uint32_t address = 1;
    EXPECT_EQ(FeatureMapAddressOf(item, 1, 0x10, &address), QV_NO_ERROR);
    EXPECT_EQ(address, 0x1110u);
    EXPECT_EQ(FeatureMapAddressOf(item, 1, 0x100, &address), QV_NO_ERROR);
    EXPECT_EQ(address, 0u) << "beyond the item's end";
    EXPECT_EQ(FeatureMapAddressOf(item, 2, 0, &address), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(FeatureMapAddressOf(item, -1, 0, &address), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(FeatureMapAddressOf(nullptr, 0, 0, &address), QV_NO_ERROR);
}

TEST_F(FeatureMapTest, ItemsAtTheTopOfTheAddressSpaceDoNotWrap) {
    const int row = insert(0xFFFFFF00u, 2, 0x100);  // would end at 2^32 + 0x100
    ASSERT_GE(row, 0);
    Feature* item = nullptr;
    uint32_t instance = 0;
    EXPECT_EQ(FeatureMapLookup(map, 0xFFFFFFF0u, 4, &item, &instance, nullptr, nullptr), QV_NO_ERROR);
    EXPECT_NE(item, nullptr);
    EXPECT_EQ(FeatureMapLookup(map, 0x00000010u, 4, &item, &instance, nullptr, nullptr), QV_NO_ERROR);
    EXPECT_EQ(item, nullptr);
}

}  // namespace
}  // namespace tarnix
