#pragma once
#include "core/QVStatus.h"
#include "core/tree/TreeNode.h"

#include <cstdint>

namespace tarnix {

class TreeRegistry;

// Codes of the tree-change notices.
enum TreeChangeCode : uint8_t {
    TREE_CHANGE_GONE = 0,
    TREE_CHANGE_NEW = 1,
    TREE_CHANGE_CHANGED = 2,
};

// Tell the registry's notice sink (TreeRegistry::setTreeNoticeSink) that a
// device tree went away, is new, or changed. Raised while the calling thread
// holds a DispatcherTreeLock, the notice waits until that lock is released, so
// that the receiver can take the structure lock. Without a sink the notice is
// dropped. A failing receiver is logged; the device goes on. Always return 0.
QV_STATUS DispatcherNotifyDeviceDisconnected(TreeRegistry& registry, const TreeNode::Ptr& root);
QV_STATUS DispatcherNotifyDeviceConnected(TreeRegistry& registry, const TreeNode::Ptr& root);
QV_STATUS DispatcherNotifyTreeChanged(TreeRegistry& registry, const TreeNode::Ptr& root);

// Runs the registry's device update (TreeRegistry::setDeviceUpdateHook) and
// returns its status; without one, or when it throws, QV_COMMAND_SERVER_FAILED.
QV_STATUS DispatcherUpdateDevices(TreeRegistry& registry);

// Used by DispatcherTreeLock: delivers the notices this thread held back.
void DispatcherDeliverDeferredNotices();

}  // namespace tarnix
