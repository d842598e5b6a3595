#pragma once
#include "core/tree/TreeNode.h"

// The help of every HARMONIC leaf (demodulators and phase-locked loops alike).
namespace tarnix {

void HarmonicHelp(const TreeNode::Ptr& node);

}  // namespace tarnix
