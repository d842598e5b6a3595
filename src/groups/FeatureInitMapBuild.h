#pragma once
#include "engine/FeatureInitMapTable.h"

namespace tarnix {

// The table of feature groups of the LQ3 instruments, in row order: built before
// main and kept until exit. The program's set-up hands it to its device objects.
const FeatureInitMapTable& FeatureInitMap();

}  // namespace tarnix
