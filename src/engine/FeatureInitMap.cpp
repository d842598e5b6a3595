#include "engine/FeatureInitMap.h"

namespace tarnix {

FeatureInitMapEntryPtr FeatureInitMapFind(uint32_t code) {
    for (const FeatureInitMapEntryPtr& entry : FeatureInitMap())
        if (entry && entry->code == code) return entry;
    return FeatureInitMapEntryPtr();
}

}  // namespace tarnix
