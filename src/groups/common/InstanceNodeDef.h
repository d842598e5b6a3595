#pragma once
#include "engine/nodedefs/TabledNodeDef.h"

#include <cstdint>

namespace tarnix {

// The node of one instance of a group (OSCS/0, DEMODS/3, ...): it has no name
// of its own and shows its instance index; sibling order 1. The derived type
// supplies `name = nullptr` and its helpItems.
template <class Def, int32_t TypeId>
using InstanceNodeDef = TabledNodeDef<Def, NodeNameKind::None, 1, TypeId>;

}  // namespace tarnix
