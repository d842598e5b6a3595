#pragma once
#include "core/QVStatus.h"
#include "core/tree/TreeNode.h"

#include <cstdint>
#include <functional>

namespace tarnix {

// Codes of the tree-change notices.
enum TreeChangeCode : uint8_t {
    TREE_CHANGE_GONE = 0,
    TREE_CHANGE_NEW = 1,
    TREE_CHANGE_CHANGED = 2,
};

// Receiver of tree-change notices (the server's own tree). It is called on the
// thread that raised the notice, with no tree lock held by that thread; it may
// still be called briefly after it was replaced or cleared, so it must not
// capture anything it does not keep alive itself (hold weak references).
typedef std::function<void(const TreeNode::Ptr& node, uint8_t code)> TreeNoticeSink;
// An empty sink clears it; notices are then dropped.
void setTreeNoticeSink(TreeNoticeSink sink);

// Tell the receiver that a device tree went away, is new, or changed. Raised
// while the calling thread holds a DispatcherTreeLock, the notice waits until
// that lock is released, so that the receiver can take the structure lock.
// A failing receiver is logged; the device goes on. Always return 0.
QV_STATUS DispatcherNotifyDeviceDisconnected(const TreeNode::Ptr& root);
QV_STATUS DispatcherNotifyDeviceConnected(const TreeNode::Ptr& root);
QV_STATUS DispatcherNotifyTreeChanged(const TreeNode::Ptr& root);

// Looks for new or removed instruments now (registered by the server).
typedef std::function<QV_STATUS()> DeviceUpdateHook;
void setDeviceUpdateHook(DeviceUpdateHook hook);

// Runs the device update and returns its status; without a registered update,
// or when the update throws, QV_COMMAND_SERVER_FAILED.
QV_STATUS DispatcherUpdateDevices();

// Used by DispatcherTreeLock: delivers the notices this thread held back.
void DispatcherDeliverDeferredNotices();

}  // namespace tarnix
