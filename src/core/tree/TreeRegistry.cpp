#include "core/tree/TreeRegistry.h"

namespace tarnix {

TreeRegistry::TreeRegistry() : root_(createRootNode()) {}

TreeRegistry::~TreeRegistry() = default;

std::chrono::milliseconds TreeRegistry::subscriptionLockTimeout() const {
    return std::chrono::milliseconds(subscriptionLockTimeoutMs_.load(std::memory_order_relaxed));
}

void TreeRegistry::setSubscriptionLockTimeout(std::chrono::milliseconds timeout) {
    subscriptionLockTimeoutMs_.store(timeout.count(), std::memory_order_relaxed);
}

void TreeRegistry::addFailedRequests(const std::vector<FailedRequest>& requests) {
    if (requests.empty()) return;
    {
        LockGuard<Mutex> lock(failedMutex_);
        failed_.insert(failed_.end(), requests.begin(), requests.end());
        anyFailed_.store(true);
    }
    wakeSignal_.notify();
}

std::vector<FailedRequest> TreeRegistry::takeFailedRequests() {
    std::vector<FailedRequest> taken;
    if (!anyFailed_.load()) return taken;
    LockGuard<Mutex> lock(failedMutex_);
    taken.swap(failed_);
    anyFailed_.store(false);
    return taken;
}

void TreeRegistry::setTreeNoticeSink(TreeNoticeSink sink) {
    LockGuard<Mutex> lock(hookMutex_);
    noticeSink_ = std::move(sink);
}

void TreeRegistry::setDeviceUpdateHook(DeviceUpdateHook hook) {
    LockGuard<Mutex> lock(hookMutex_);
    deviceUpdate_ = std::move(hook);
}

void TreeRegistry::setDirectReplyDeliverer(DirectReplyDeliverer deliverer) {
    std::shared_ptr<const DirectReplyDeliverer> entry;
    if (deliverer) entry = std::make_shared<const DirectReplyDeliverer>(std::move(deliverer));
    LockGuard<Mutex> lock(hookMutex_);
    directReplyDeliverer_ = std::move(entry);
}

TreeNoticeSink TreeRegistry::treeNoticeSink() const {
    LockGuard<Mutex> lock(hookMutex_);
    return noticeSink_;
}

DeviceUpdateHook TreeRegistry::deviceUpdateHook() const {
    LockGuard<Mutex> lock(hookMutex_);
    return deviceUpdate_;
}

std::shared_ptr<const DirectReplyDeliverer> TreeRegistry::directReplyDeliverer() const {
    LockGuard<Mutex> lock(hookMutex_);
    return directReplyDeliverer_;
}

}  // namespace tarnix
