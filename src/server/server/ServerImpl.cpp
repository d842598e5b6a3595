#include "server/server/ServerImpl.h"

#include "core/Logging.h"
#include "core/QVException.h"
#include "core/component/ExceptionCarrier.h"
#include "core/tree/TreeNotices.h"
#include "groups/FeatureInitMapBuild.h"
#include "link/DeviceGroup.h"
#include "platform/net/Socket.h"
#include "platform/process/FreeMemory.h"
#include "platform/usb/UsbBackend.h"
#include "server/dispatcher/DirectReplyDelivery.h"
#include "server/dispatcher/Dispatcher.h"
#include "server/listener/Listener.h"
#include "server/node/ServerNode.h"
#include "server/node/ServerNodeImpl.h"
#include "server/server/Server.h"
#include "server/server/ServerStrings.h"
#include "server/server/ServerContext.h"

#include <mutex>
#include <utility>

namespace tarnix {
namespace impl {
namespace {

constexpr auto kPassInterval = std::chrono::seconds(1);
constexpr auto kLookAgainAfter = std::chrono::milliseconds(50);

}  // namespace

ServerContextHolder::ServerContextHolder(std::shared_ptr<ServerContext> context)
    : context_(context ? std::move(context) : std::make_shared<ServerContext>()) {}

ServerImpl::ServerImpl(exception::ExceptionCarrier& childCarrier, exception::ExceptionCarrier& ownCarrier,
                       std::shared_ptr<ServerContext> context)
    : ServerContextHolder(std::move(context)), QVBaseImpl("Server", ownCarrier), childCarrier_(childCarrier) {
    QVLOG(logging::status) << "Started " << getServerString(SERVER_STRING_BANNER);
    // The socket layer needs no start-up here; a client that goes away must
    // only turn a send into an error, never end the process.
    platform::ignoreBrokenPipeSignal();
    registerServerProtocols(context_->protocols());
    installDirectReplyDelivery(*context_);

    listener_ = std::make_shared<Listener>(childCarrier_, *context_);
    serverNode_ = std::make_shared<ServerNode>(childCarrier_, *context_);
    dispatcher_ = std::make_shared<Dispatcher>(childCarrier_, *context_);
    serverNode_->impl().setListener(listener_);
    appendChildren({listener_, serverNode_, dispatcher_});

    // The instruments' groups are those of the LQ3 family.
    deviceGroup_ = createUsbDeviceGroup(childCarrier_, context_->treeRegistry(), context_->usbBackend(), FeatureInitMap());
    deviceGroups_.push_back(deviceGroup_);
}

ServerImpl::~ServerImpl() {
    removeDirectReplyDelivery(*context_);
    context_->treeRegistry().setDeviceUpdateHook(nullptr);
    context_->treeRegistry().setTreeNoticeSink(nullptr);
    childCarrier_.close();
    listener_.reset();
    serverNode_.reset();
    dispatcher_.reset();
    deviceGroups_.clear();
    deviceGroup_.reset();
    releaseChildren();
}

void ServerImpl::addDeviceGroup(const std::shared_ptr<DeviceGroup>& group) {
    std::lock_guard<std::mutex> lock(updateMutex_);
    deviceGroups_.push_back(group);
}

void ServerImpl::configure(uint16_t port, bool progAlways, int32_t openOverride) {
    deviceGroup_->setProgAlways(progAlways);
    listener_->setPort(port);
    listener_->setOpenOverride(openOverride);
}

void ServerImpl::pre() {
    setPriority(Lowest);
    try {
        updateDevices();
    } catch (const QVException&) {
        // An instrument that fails at start-up must not keep the server from
        // serving the others; the next pass looks again.
        logCurrentExceptionBanner();
    }
}

void ServerImpl::run() {
    if (serverNode_->takeControlCode(-99)) logClassDataTree();
    if (serverNode_->takeControlCode(-97)) setLoopStatistic(true);
    try {
        boost::exception_ptr failure;
        if (childCarrier_.take(failure)) {
            QVLOG(logging::debug) << "Caught exception. Will rethrow.";
            boost::rethrow_exception(failure);
        }
        // An instrument that comes or goes cuts the rest short; the periodic
        // update stays for whatever the watch cannot see. A stop ends the
        // rest at once too. After a change the next look comes soon: an
        // instrument's socket appears a moment before it takes connections.
        const auto until = std::chrono::steady_clock::now() + (lookAgainSoon_ ? kLookAgainAfter : kPassInterval);
        lookAgainSoon_ = false;
        for (auto now = std::chrono::steady_clock::now(); isRunning() && now < until;
             now = std::chrono::steady_clock::now()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now) +
                              std::chrono::milliseconds(1);
            if (context_->usbBackend()->waitForChange(left, stopWake_.fd())) {
                lookAgainSoon_ = true;
                break;
            }
        }
        if (isRunning()) updateDevices();
        platform::returnFreeMemory();
    } catch (const QVDeviceException&) {
        // The device's thread has ended; its group drops it, the server goes on.
        logCurrentExceptionBanner();
    }
}

void ServerImpl::stop() {
    QVBaseImpl::stop();
    stopWake_.notify();
}

void ServerImpl::updateDevices() {
    // The server thread and sessions asking for an update take turns: a
    // session's update returns only once the devices that any update found
    // are children, so that its client sees them at once.
    std::lock_guard<std::mutex> oneAtATime(updateMutex_);
    // A device whose thread has failed leaves the child list here, not only
    // after the server thread's pass, so that its group drops it in this very
    // update: a client asking for an update sees a pulled instrument go at once.
    reapFailedChildren();
    std::vector<std::shared_ptr<QVBase>> found;
    for (const std::shared_ptr<DeviceGroup>& group : deviceGroups_) group->update(found);
    for (const std::shared_ptr<QVBase>& device : found) device->start();
    if (!found.empty()) appendChildren(found);
}

}  // namespace impl

namespace {

std::mutex gInstanceMutex;
std::shared_ptr<Server> gInstance;

// Routes the device update requests and tree-change notices of the server's
// own trees to it; the server's destructor clears them. The hooks hold weak
// references: a notice raised while the server goes away finds nothing
// instead of a destroyed object.
void installServerHooks(const std::shared_ptr<impl::ServerImpl>& server) {
    TreeRegistry& trees = server->context().treeRegistry();
    std::weak_ptr<impl::ServerImpl> weakServer = server;
    trees.setDeviceUpdateHook([weakServer]() -> QV_STATUS {
        std::shared_ptr<impl::ServerImpl> s = weakServer.lock();
        if (!s) return QV_COMMAND_SERVER_FAILED;
        s->updateDevices();
        return QV_NO_ERROR;
    });
    std::weak_ptr<ServerNode> weakNode = server->serverNode();
    trees.setTreeNoticeSink([weakNode](const TreeNode::Ptr& node, uint8_t code) {
        if (std::shared_ptr<ServerNode> n = weakNode.lock()) n->pushDeviceMessage(node, code);
    });
}

}  // namespace

Server::Server(exception::ExceptionCarrier& childCarrier, exception::ExceptionCarrier& ownCarrier,
               std::shared_ptr<ServerContext> context)
    : QVBase(std::make_shared<impl::ServerImpl>(childCarrier, ownCarrier, std::move(context))) {
    installServerHooks(implShared());
}

void Server::configure(uint16_t port, bool progAlways, int32_t openOverride) {
    impl().configure(port, progAlways, openOverride);
}

std::string Server::getVersionString() { return getServerString(SERVER_STRING_BANNER); }

impl::ServerImpl& Server::impl() const { return implAs<impl::ServerImpl>(); }

std::shared_ptr<impl::ServerImpl> Server::implShared() const { return implSharedAs<impl::ServerImpl>(); }

void setServerInstance(const std::shared_ptr<Server>& server) {
    std::lock_guard<std::mutex> lock(gInstanceMutex);
    gInstance = server;
}

std::shared_ptr<impl::ServerImpl> getServerInstance() {
    std::lock_guard<std::mutex> lock(gInstanceMutex);
    return gInstance ? gInstance->implShared() : nullptr;
}

}  // namespace tarnix
