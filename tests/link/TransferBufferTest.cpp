#include "FakeInstrument.h"
#include "link/IOExceptions.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

namespace tarnix {
namespace {

using testing::FakeInstrument;
using Reply = platform::usb::FakeDevice::Reply;
using Completion = platform::usb::FakeDevice::Completion;

class TransferBufferTest : public ::testing::Test {
protected:
    void SetUp() override { usbImpl = fake.open(); }
    detail::ReadBuffer_USB_Win& reader() { return usbImpl->usbInterface().currentRead(); }
    detail::WriteBuffer_USB_Win& writer() { return usbImpl->usbInterface().currentWrite(); }

    std::string failureOf(const std::function<void()>& call) {
        try {
            call();
        } catch (const QVIOException& e) {
            return e.what();
        }
        return "no failure";
    }

    FakeInstrument fake;
    std::shared_ptr<impl::IOLQ3_USBImpl> usbImpl;
};

TEST_F(TransferBufferTest, ReadFailures) {
    EXPECT_EQ(failureOf([&] { reader().readAsync(0x80001); }), "Requested a too large data package.");

    fake.device->pushRead(Reply{121, Completion::immediate, {}});
    EXPECT_EQ(failureOf([&] { reader().readAsync(512); }), "Read timeout during readAsync().");
    fake.device->pushRead(Reply{31, Completion::immediate, {}});
    EXPECT_EQ(failureOf([&] { reader().readAsync(512); }), "Read error 31 during readAsync().");
    fake.device->pushRead(Reply{121, Completion::pending, {}});
    EXPECT_EQ(failureOf([&] { reader().readAsync(512), reader().waitAsync(); }), "Read timeout during waitAsync().");
    fake.device->pushRead(Reply{31, Completion::pending, {}});
    EXPECT_EQ(failureOf([&] { reader().readAsync(512), reader().waitAsync(); }), "Read error 31 during waitAsync().");
    EXPECT_EQ(reader().valid(), 0u);

    fake.device->pushRead(Reply{0, Completion::never, {}});
    EXPECT_FALSE(reader().readAsync(512));
    EXPECT_EQ(failureOf([&] { reader().readAsync(512); }), "Transfer is still pending!");
    reader().cancel();
    EXPECT_FALSE(reader().pending());
    EXPECT_EQ(fake.device->runningCount(), 0u);
}

TEST_F(TransferBufferTest, WriteFailures) {
    const std::vector<uint8_t> bytes(64, 1);
    const auto own = [&] {
        writer().append(bytes.data(), 64);
        writer().writeAndWait();
    };
    const auto caller = [&] { writer().writeAndWait(bytes.data(), 64); };
    struct Case {
        Reply reply;
        std::function<void()> call;
        const char* text;
    };
    const Case cases[] = {
        {{121, Completion::immediate, {}}, own, "Write timeout during writeAsync()."},
        {{121, Completion::immediate, {}}, caller, "Write timeout during waitAsync()"},
        {{31, Completion::immediate, {}}, own, "Write error 31 during writeAsync()."},
        {{31, Completion::immediate, {}}, caller, "Write error 31 during waitAsync()."},
        {{121, Completion::pending, {}}, own, "Write timeout during waitAsync()."},
        {{31, Completion::pending, {}}, caller, "Write error 31 during waitAsync()."},
    };
    for (const Case& c : cases) {
        fake.device->pushWrite(c.reply);
        EXPECT_EQ(failureOf(c.call), c.text);
        EXPECT_TRUE(writer().empty());
        EXPECT_FALSE(writer().pending());
    }
}

TEST_F(TransferBufferTest, ATransferThatNeverEndsIsCancelledAfterTwoSeconds) {
    fake.device->pushRead(Reply{0, Completion::never, {}});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(failureOf([&] { reader().readAsync(512), reader().waitAsync(); }), "Read error 995 during waitAsync().");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_GE(fake.device->cancelCount(), 1u);
}

}  // namespace
}  // namespace tarnix
