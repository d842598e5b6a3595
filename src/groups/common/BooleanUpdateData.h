#pragma once
#include "core/QVStatus.h"
#include "engine/DeviceStateEPNode.h"

#include <cstdint>

namespace tarnix {

class DeviceAccess;

// The update handler of on/off leaves whose register is one 32-bit word: when
// the instrument reports a word that differs from the stored one, stores the
// raw word (not 0/1, so that a later report of another non-zero word counts as
// a change too) and pushes (word != 0) as the integer 0 or 1. An equal word
// pushes nothing. Data shorter than a word is refused with 0x8010.
QV_STATUS BooleanUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

}  // namespace tarnix
