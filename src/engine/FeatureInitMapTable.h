#pragma once
#include <array>
#include <cstddef>
#include <memory>

// The shape of the table of feature groups, for those that only hand it on
// (engine/FeatureInitMap.h has the entries).
namespace tarnix {

class FeatureInitMapEntryBase;

using FeatureInitMapEntryPtr = std::shared_ptr<const FeatureInitMapEntryBase>;

constexpr std::size_t kFeatureInitMapRows = 19;
using FeatureInitMapTable = std::array<FeatureInitMapEntryPtr, kFeatureInitMapRows>;

}  // namespace tarnix
