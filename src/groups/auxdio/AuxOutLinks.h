#pragma once
#include <cstddef>

// Where the leaves of one auxiliary output keep each other's endpoint ids
// (their byte buffers, see groups/common/EndpointLinks.h).
namespace tarnix {
namespace auxout {

// SCALE: {OUTPUTSELECT, DEMODSELECT}
constexpr std::size_t kScaleToSelect = 0;
// DEMODSELECT: {OUTPUTSELECT, SCALE}
constexpr std::size_t kDemodToSelect = 0;
// OUTPUTSELECT: {DEMODSELECT, SCALE, OFFSET}
constexpr std::size_t kSelectToDemod = 0;
constexpr std::size_t kSelectToOffset = 2;
// Both selection leaves keep their SCALE second.
constexpr std::size_t kToScale = 1;

}  // namespace auxout
}  // namespace tarnix
