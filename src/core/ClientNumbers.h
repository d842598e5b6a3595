#pragma once
#include "core/QVStatus.h"

#include <cmath>
#include <cstdint>
#include <limits>

// What every numeric setting takes from a client before its own conversion.
// A setting lives in a 32-bit word, signed or unsigned: an integer beyond
// both readings of such a word would be cut to another value, and NaN has no
// value to store, so both are refused whole and nothing is stored.
// Infinities are left to the setting, which clamps them like any too-large
// value or, without a range, refuses them too.
namespace tarnix {

// Status of a request whose value the setting refuses.
constexpr uint32_t kRefusedValueStatus = QV_COMMAND_SERVER_FAILED;

constexpr bool fitsSettingWord(int64_t value) {
    return value >= int64_t(std::numeric_limits<int32_t>::min()) &&
           value <= int64_t(std::numeric_limits<uint32_t>::max());
}

inline bool isSettingNumber(double value) { return !std::isnan(value); }

}  // namespace tarnix
