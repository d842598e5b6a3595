#include "platform/usb/UsbBackend.h"

#include "platform/usb/FolderWatch.h"
#include "platform/usb/SocketBackend.h"

#include <mutex>
#include <thread>

namespace tarnix {
namespace platform {
namespace usb {
namespace {

std::mutex& backendMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<Backend>& installedBackend() {
    static std::shared_ptr<Backend> backend;
    return backend;
}

}  // namespace

bool Backend::waitForChange(std::chrono::milliseconds timeout, int wakeFd) {
    waitForReadable(wakeFd, timeout);
    return false;
}

bool waitForInstrumentChange(std::chrono::milliseconds timeout, int wakeFd) {
    return currentBackend()->waitForChange(timeout, wakeFd);
}

std::shared_ptr<Backend> currentBackend() {
    std::lock_guard<std::mutex> lock(backendMutex());
    std::shared_ptr<Backend>& installed = installedBackend();
    if (!installed) installed = std::make_shared<SocketBackend>();
    return installed;
}

ScopedBackend::ScopedBackend(std::shared_ptr<Backend> backend) {
    std::lock_guard<std::mutex> lock(backendMutex());
    previous_ = installedBackend();
    installedBackend() = std::move(backend);
}

ScopedBackend::~ScopedBackend() {
    std::lock_guard<std::mutex> lock(backendMutex());
    installedBackend() = std::move(previous_);
}

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
