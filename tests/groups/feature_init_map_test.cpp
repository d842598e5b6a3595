#include "engine/FeatureInitMap.h"
#include "groups/FeatureInitMapBuild.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <vector>

namespace tarnix {
namespace {

TEST(FeatureInitMapTable, RowsCodesAndGroups) {
    const uint32_t rowCodes[] = {1, 2, 3, 4, 18, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 19};
    const int rowGroups[] = {0, 0, 63, 75, 78, 133, 139, 150, 173, 169, 160, 26, 18, 180, 187, 0, 84, 21, 104};
    const int rowBlocks[] = {1, 1, 2, 1, 1, 1, 2, 2, 1, 2, 2, 1, 1, 3, 0, 1, 1, 1, 3};
    const FeatureInitMapTable& table = FeatureInitMap();
    for (std::size_t row = 0; row < kFeatureInitMapRows; ++row) {
        SCOPED_TRACE(row);
        ASSERT_TRUE(table[row]);
        EXPECT_EQ(table[row]->code, rowCodes[row]);
        EXPECT_EQ(table[row]->groupTypeId(), rowGroups[row]);
        EXPECT_EQ(table[row]->recordCount, rowBlocks[row]);
        const bool linked = rowCodes[row] == 3 || rowCodes[row] == 6 || rowCodes[row] == 8 || rowCodes[row] == 16;
        EXPECT_EQ(table[row]->getLinkFunc() != nullptr, linked);
        const bool processed = rowCodes[row] == 1 || rowCodes[row] == 14 || rowCodes[row] == 15;
        EXPECT_EQ(table[row]->processFunc != nullptr, processed);
        EXPECT_EQ(table[row]->getInitFunc() != nullptr, rowGroups[row] != 0 && !processed);
    }
    EXPECT_FALSE(FeatureInitMapFind(table, 20));
    EXPECT_FALSE(FeatureInitMapFind(table, 0));
    EXPECT_EQ(FeatureInitMapFind(table, 18), table[4]);
    std::vector<uint32_t> order(FeatureOrder.begin(), FeatureOrder.end());
    std::sort(order.begin(), order.end());
    std::vector<uint32_t> codes(std::begin(rowCodes), std::end(rowCodes));
    std::sort(codes.begin(), codes.end());
    EXPECT_EQ(order, codes) << "FeatureOrder holds every code once";
}

}  // namespace
}  // namespace tarnix
