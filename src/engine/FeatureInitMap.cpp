#include "engine/FeatureInitMap.h"

namespace tarnix {

FeatureInitMapEntryPtr FeatureInitMapFind(const FeatureInitMapTable& table, uint32_t code) {
    for (const FeatureInitMapEntryPtr& entry : table)
        if (entry && entry->code == code) return entry;
    return FeatureInitMapEntryPtr();
}

}  // namespace tarnix
