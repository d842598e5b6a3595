#pragma once
#include "core/QVStatus.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnix {

struct Feature;

// How the instance count of a record's second register block must relate to
// the first one's.
enum class RepsRelation { Any, Equal, Twice };

// The structural check every group's init function makes of its record: 0 when
// it carried `expected` blocks whose instance counts relate as asked, 0x8010
// otherwise.
QV_STATUS GroupCheckBlocks(const std::vector<Feature*>& items, int count, int expected,
                           RepsRelation relation = RepsRelation::Any);

// Logs a warning when a group's record lists more instances than a table of
// its state keeps: the instances beyond the table go without `kept`, and the
// log says so once, at init, instead of leaving it to the bounds checks alone.
void GroupWarnBeyondTable(const char* group, uint64_t count, std::size_t tableSize, const char* kept);

}  // namespace tarnix
