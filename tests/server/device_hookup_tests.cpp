// The server's device update in the test process: the USB group it runs with,
// and a first update that fails for one instrument without ending the server.
#include "ServerTestSupport.h"
#include "core/LogCapture.h"
#include "core/QVException.h"
#include "core/component/ExceptionCarrier.h"
#include "link/DeviceGroupEncFX2.h"
#include "link/IOExceptions.h"
#include "server/device/DeviceGroup.h"
#include "server/server/Server.h"
#include "server/server/ServerImpl.h"

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

class ServerDeviceUpdate : public ::testing::TestWithParam<bool> {
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

TEST_P(ServerDeviceUpdate, AFailingFirstUpdateIsLoggedAndTheServerGoesOn) {
    auto server = std::make_shared<Server>(childCarrier, ownCarrier);
    auto group = std::make_shared<FailingFirstUpdate>(GetParam());
    server->impl().addDeviceGroup(group);
    server->configure(test::freePort(), false, 0);
    server->start();
    EXPECT_TRUE(test::eventually([&] { return group->updates.load() >= 2; }, 5s)) << "no second update";
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
    EXPECT_TRUE(test::eventually([&] { return server->isFinished(); }, 15s));
}

INSTANTIATE_TEST_SUITE_P(DeviceAndOtherFailures, ServerDeviceUpdate, ::testing::Bool());

TEST(ServerDeviceGroups, TheServerRunsWithTheUsbDeviceGroup) {
    exception::ExceptionCarrier carrier;
    const std::shared_ptr<DeviceGroup> group = createUsbDeviceGroup(carrier);
    EXPECT_NE(dynamic_cast<DeviceGroupEncFX2*>(group.get()), nullptr);
}

}  // namespace
}  // namespace tarnix
