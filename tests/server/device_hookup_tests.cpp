// The server's device update in the test process: the USB group it runs with,
// and a first update that fails for one instrument without ending the server.
#include "ServerTestSupport.h"
#include "core/LogCapture.h"
#include "core/QVException.h"
#include "core/component/ExceptionCarrier.h"
#include "core/component/QVBase.h"
#include "core/component/QVBaseImpl.h"
#include "groups/FeatureInitMapBuild.h"
#include "link/DeviceGroup.h"
#include "link/DeviceGroupEncFX2.h"
#include "link/IOExceptions.h"
#include "link/DeviceGroup.h"
#include "server/server/ServerContext.h"
#include "server/server/Server.h"
#include "server/server/ServerImpl.h"
#include "support/usb/FakeDevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <unistd.h>

namespace tarnix {
namespace {

using namespace std::chrono_literals;

// Fails its first update with the given exception, then finds nothing.
class FailingFirstUpdate : public DeviceGroup {
public:
    explicit FailingFirstUpdate(bool deviceFamily) : deviceFamily_(deviceFamily) {}
    void update(std::vector<std::shared_ptr<QVBase>>&) override {
        if (updates.fetch_add(1) > 0) return;
        if (deviceFamily_) QV_THROW(QVIOInternalException("Serious error during device enumeration."));
        QV_THROW(QVException("Invalid FIFO (NULL pointer)."));
    }
    void removeEnded() override {}
    void setProgAlways(bool) override {}
    std::atomic<int> updates{0};

private:
    bool deviceFamily_;
};

// A device component whose thread fails at once; the group keeps it as the
// USB group keeps its device objects and notes when only the group holds it.
class FailingDeviceImpl : public impl::QVBaseImpl {
public:
    explicit FailingDeviceImpl(exception::ExceptionCarrier& carrier) : QVBaseImpl("FailingDevice", carrier) {}
    void pre() override { QV_THROW(QVDeviceException("The instrument was pulled out.")); }
    void run() override {}
};

class OneFailingDevice : public DeviceGroup {
public:
    explicit OneFailingDevice(exception::ExceptionCarrier& carrier) : carrier_(carrier) {}
    void update(std::vector<std::shared_ptr<QVBase>>& newDevices) override {
        if (!device) {
            device = std::make_shared<QVBase>(std::make_shared<FailingDeviceImpl>(carrier_));
            newDevices.push_back(device);
        } else {
            heldOnlyHere = device.use_count() == 1;
        }
    }
    void removeEnded() override {}
    void setProgAlways(bool) override {}
    std::shared_ptr<QVBase> device;
    bool heldOnlyHere = false;

private:
    exception::ExceptionCarrier& carrier_;
};

class ServerHookup : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qvhookup-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        directory_ = pattern;
        ::setenv("QV_INSTRUMENT_DIR", directory_.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("QV_INSTRUMENT_DIR");
        ::rmdir(directory_.c_str());
    }

    test::LogCapture log;
    exception::ExceptionCarrier childCarrier;
    exception::ExceptionCarrier ownCarrier;
    std::string directory_;
};

class ServerDeviceUpdate : public ServerHookup, public ::testing::WithParamInterface<bool> {};

TEST_P(ServerDeviceUpdate, AFailingFirstUpdateIsLoggedAndTheServerGoesOn) {
    auto server = std::make_shared<Server>(childCarrier, ownCarrier);
    auto group = std::make_shared<FailingFirstUpdate>(GetParam());
    server->impl().addDeviceGroup(group);
    server->configure(test::freePort(), false, 0);
    server->start();
    EXPECT_TRUE(test::waitUntil([&] { return group->updates.load() >= 2; }, 5s)) << "no second update";
    boost::exception_ptr failure;
    EXPECT_FALSE(ownCarrier.take(failure));
    EXPECT_FALSE(server->isFinished());
    bool banner = false;
    for (const std::string& message : log.messages())
        banner = banner || (message.rfind("Error: ", 0) == 0 && message.find(GetParam() ? "device enumeration"
                                                                                       : "Invalid FIFO") !=
                                                                     std::string::npos);
    EXPECT_TRUE(banner);
    server->stop();
    EXPECT_TRUE(test::waitUntil([&] { return server->isFinished(); }, 15s));
}

INSTANTIATE_TEST_SUITE_P(DeviceAndOtherFailures, ServerDeviceUpdate, ::testing::Bool());

TEST_F(ServerHookup, AnUpdateLetsAFailedDeviceGoAtOnceAndKeepsChildrenNotStartedYet) {
    // Not started: the listener, server node and dispatcher count as finished.
    auto server = std::make_shared<Server>(childCarrier, ownCarrier);
    auto group = std::make_shared<OneFailingDevice>(childCarrier);
    server->impl().addDeviceGroup(group);
    server->impl().updateDevices();
    ASSERT_EQ(server->implementation()->childCount(), 4u);
    ASSERT_TRUE(test::waitUntil([&] { return group->device->isFinished(); }, 5s));
    server->impl().updateDevices();
    EXPECT_TRUE(group->heldOnlyHere) << "the group could not drop the failed device in the same update";
    EXPECT_EQ(server->implementation()->childCount(), 3u);
}

TEST(ServerDeviceGroups, TheServerRunsWithTheUsbDeviceGroup) {
    ServerContext context;
    exception::ExceptionCarrier carrier;
    const std::shared_ptr<DeviceGroup> group =
        createUsbDeviceGroup(carrier, context.treeRegistry(), context.usbBackend(), FeatureInitMap());
    EXPECT_NE(dynamic_cast<DeviceGroupEncFX2*>(group.get()), nullptr);
}

TEST(ServerConstruction, AServerWhoseDeviceGroupCannotBeMadeRefusesCleanly) {
    // The server holds the only reference to its context: a child that
    // outlived it would touch freed memory (a report of the sanitizer build).
    auto backend = std::make_shared<platform::usb::FakeBackend>();
    backend->setEnumerationFailure(platform::usb::kErrorGenFailure);
    exception::ExceptionCarrier childCarrier;
    exception::ExceptionCarrier ownCarrier;
    test::LogCapture log;
    EXPECT_THROW(Server(childCarrier, ownCarrier, std::make_shared<ServerContext>(backend)), QVIOInternalException);

    // Nothing of the failed server is left behind: another one starts.
    backend->setEnumerationFailure(platform::usb::kErrorSuccess);
    auto server = std::make_shared<Server>(childCarrier, ownCarrier, std::make_shared<ServerContext>(backend));
    EXPECT_EQ(server->implementation()->childCount(), 3u);
}

}  // namespace
}  // namespace tarnix
