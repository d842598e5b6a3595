#include "groups/common/HarmonicHelp.h"

#include "engine/nodedefs/TabledNodeDef.h"

namespace tarnix {

namespace {

constexpr HelpItem kHarmonicHelp[] = {
    helpText("short", "The harmonic of the base frequency to be used."),
    helpText("detailed", "Selecting 1 chooses the fundamental frequency."),
    helpFlag("setting", true),
    helpText("read", "integer"),
    helpText("write", "integer"),
    helpText("unit", "Harmonic"),
    helpInteger("from", 1),
    helpInteger("to", 1023),
    helpInteger("default", 1),
};

}  // namespace

void HarmonicHelp(const TreeNode::Ptr& node) {
    applyHelpItems(*node, kHarmonicHelp, sizeof(kHarmonicHelp) / sizeof(kHarmonicHelp[0]));
}

}  // namespace tarnix
