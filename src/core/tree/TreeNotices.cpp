#include "core/tree/TreeNotices.h"

#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "core/QVException.h"
#include "core/tree/DispatcherTreeLock.h"

#include <mutex>
#include <utility>
#include <vector>

namespace tarnix {

namespace {

struct Notice {
    TreeNode::Ptr node;
    uint8_t code;
};

std::mutex gHookMutex;
TreeNoticeSink gNoticeSink;
DeviceUpdateHook gDeviceUpdateHook;

// Notices raised while this thread holds a tree lock; the receiver takes the
// structure lock itself, so they go out once the lock is released.
thread_local std::vector<Notice> tDeferredNotices;

TreeNoticeSink currentSink() {
    std::lock_guard<std::mutex> guard(gHookMutex);
    return gNoticeSink;
}

void deliver(const Notice& notice) {
    TreeNoticeSink sink = currentSink();
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

QV_STATUS notify(const TreeNode::Ptr& root, uint8_t code) {
    Notice notice{root, code};
    if (DispatcherTreeLockHeld())
        tDeferredNotices.push_back(std::move(notice));
    else
        deliver(notice);
    return QV_NO_ERROR;
}

}  // namespace

void setTreeNoticeSink(TreeNoticeSink sink) {
    std::lock_guard<std::mutex> guard(gHookMutex);
    gNoticeSink = std::move(sink);
}

QV_STATUS DispatcherNotifyDeviceDisconnected(const TreeNode::Ptr& root) { return notify(root, TREE_CHANGE_GONE); }
QV_STATUS DispatcherNotifyDeviceConnected(const TreeNode::Ptr& root) { return notify(root, TREE_CHANGE_NEW); }
QV_STATUS DispatcherNotifyTreeChanged(const TreeNode::Ptr& root) { return notify(root, TREE_CHANGE_CHANGED); }

void DispatcherDeliverDeferredNotices() {
    std::vector<Notice> pending;
    pending.swap(tDeferredNotices);
    for (const Notice& notice : pending) deliver(notice);
}

void setDeviceUpdateHook(DeviceUpdateHook hook) {
    std::lock_guard<std::mutex> guard(gHookMutex);
    gDeviceUpdateHook = std::move(hook);
}

QV_STATUS DispatcherUpdateDevices() {
    DeviceUpdateHook hook;
    {
        std::lock_guard<std::mutex> guard(gHookMutex);
        hook = gDeviceUpdateHook;
    }
    if (!hook) return QV_COMMAND_SERVER_FAILED;
    try {
        return hook();
    } catch (...) {
        logCurrentExceptionBanner();
        return QV_COMMAND_SERVER_FAILED;
    }
}

}  // namespace tarnix
