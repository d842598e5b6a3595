#include "core/tree/TreeNotices.h"

#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "core/QVException.h"
#include "core/tree/DispatcherTreeLock.h"
#include "core/tree/TreeRegistry.h"

#include <utility>
#include <vector>

namespace tarnix {

namespace {

struct Notice {
    TreeRegistry* registry;
    TreeNode::Ptr node;
    uint8_t code;
};

// Notices raised while this thread holds a tree lock; the receiver takes the
// structure lock itself, so they go out once the lock is released.
thread_local std::vector<Notice> tDeferredNotices;

void deliver(const Notice& notice) {
    // A tree is listed exactly when it is announced: a client that sees it
    // in a listing finds its nodes, and one told of it finds it listed.
    if (notice.code == TREE_CHANGE_NEW) DispatcherTreeList(*notice.registry, notice.node);
    TreeNoticeSink sink = notice.registry->treeNoticeSink();
    if (!sink) return;
    try {
        sink(notice.node, notice.code);
    } catch (...) {
        // A full output FIFO of the server's tree must not end the device that
        // reported the change; the notice is lost and logged.
        QVLOG_LIMITED(logging::error) << "Tree-change notice " << unsigned(notice.code) << " for '"
                              << (notice.node ? notice.node->displayName() : std::string()) << "' lost.";
        logCurrentExceptionBanner();
    }
}

QV_STATUS notify(TreeRegistry& registry, const TreeNode::Ptr& root, uint8_t code) {
    Notice notice{&registry, root, code};
    if (DispatcherTreeLockHeld())
        tDeferredNotices.push_back(std::move(notice));
    else
        deliver(notice);
    return QV_NO_ERROR;
}

}  // namespace

QV_STATUS DispatcherNotifyDeviceDisconnected(TreeRegistry& registry, const TreeNode::Ptr& root) {
    return notify(registry, root, TREE_CHANGE_GONE);
}
QV_STATUS DispatcherNotifyDeviceConnected(TreeRegistry& registry, const TreeNode::Ptr& root) {
    return notify(registry, root, TREE_CHANGE_NEW);
}
QV_STATUS DispatcherNotifyTreeChanged(TreeRegistry& registry, const TreeNode::Ptr& root) {
    return notify(registry, root, TREE_CHANGE_CHANGED);
}

void DispatcherDeliverDeferredNotices() {
    std::vector<Notice> pending;
    pending.swap(tDeferredNotices);
    for (const Notice& notice : pending) deliver(notice);
}

QV_STATUS DispatcherUpdateDevices(TreeRegistry& registry) {
    DeviceUpdateHook hook = registry.deviceUpdateHook();
    if (!hook) return QV_COMMAND_SERVER_FAILED;
    try {
        return hook();
    } catch (...) {
        logCurrentExceptionBanner();
        return QV_COMMAND_SERVER_FAILED;
    }
}

}  // namespace tarnix
