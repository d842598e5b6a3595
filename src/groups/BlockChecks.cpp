#include "groups/BlockChecks.h"

#include "core/Logging.h"
#include "engine/FeatureMap.h"

#include <boost/format.hpp>

namespace tarnix {

QV_STATUS GroupCheckBlocks(const std::vector<Feature*>& items, int count, int expected, RepsRelation relation) {
    if (count != expected || items.size() != std::size_t(expected)) return QV_BUFFER_TOO_SMALL;
    for (const Feature* item : items)
        if (!item) return QV_BUFFER_TOO_SMALL;
    if (relation == RepsRelation::Any || expected < 2) return QV_NO_ERROR;
    const uint64_t first = items[0]->count;
    const uint64_t second = items[1]->count;
    const bool related = relation == RepsRelation::Equal ? second == first : second == 2 * first;
    return related ? QV_NO_ERROR : QV_BUFFER_TOO_SMALL;
}

void GroupWarnBeyondTable(const char* group, uint64_t count, std::size_t tableSize, const char* kept) {
    if (count <= tableSize) return;
    QVLOG(logging::warning) << boost::format("%s: the instrument lists %u instances; the state kept for %s covers "
                                             "the first %u only.") %
                                   group % count % kept % tableSize;
}

}  // namespace tarnix
