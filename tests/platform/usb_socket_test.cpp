// The socket layer under the USB driver interface against instruments that
// hang: one that takes no connections, one that answers nothing.
#include "platform/usb/SocketBackend.h"
#include "platform/usb/SocketDevice.h"

#include "platform/usb/DriverCodes.h"
#include "platform/usb/FolderWatch.h"
#include "platform/usb/InstrumentDirectory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace tarnix {
namespace platform {
namespace usb {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A listening Unix socket that never accepts: a stopped instrument.
class DeafListener {
public:
    DeafListener() {
        char pattern[] = "/tmp/qvusb-test-XXXXXX";
        directory_ = ::mkdtemp(pattern);
        path_ = directory_ + "/lq3-1.sock";
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        listening_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                     ::listen(fd_, 2) == 0;
    }
    ~DeafListener() {
        ::close(fd_);
        ::unlink(path_.c_str());
        ::rmdir(directory_.c_str());
    }
    bool listening() const { return listening_; }
    const std::string& path() const { return path_; }
    const std::string& directory() const { return directory_; }

private:
    std::string directory_, path_;
    int fd_ = -1;
    bool listening_ = false;
};

TEST(SocketBackendTest, AnInstrumentWhoseAcceptQueueIsFullIsSkippedWithinTheDeadline) {
    DeafListener hung;
    ASSERT_TRUE(hung.listening());
    std::vector<int> queued;
    for (int fd; queued.size() < 64 && (fd = connectUnixSocket(hung.path(), 0ms)) >= 0;) queued.push_back(fd);
    ASSERT_LT(queued.size(), 64u);

    const auto start = Clock::now();
    EXPECT_EQ(connectUnixSocket(hung.path()), -1);
    uint32_t error = kErrorGenFailure;
    EXPECT_TRUE(SocketBackend(hung.directory()).enumerate(kInstrumentClassGuid, error).empty());
    EXPECT_EQ(error, kErrorSuccess);
    EXPECT_LT(Clock::now() - start, 1s);
    for (int fd : queued) ::close(fd);
}

TEST(SocketBackendTest, AFolderThatCannotBeOpenedHoldsNoInstrumentsAndSaysSo) {
    char pattern[] = "/tmp/qvusb-test-XXXXXX";
    const std::string directory = ::mkdtemp(pattern);
    // A link to itself cannot be opened, whoever asks (permissions do not
    // stop the superuser).
    const std::string loop = directory + "/loop";
    ASSERT_EQ(::symlink(loop.c_str(), loop.c_str()), 0);
    struct Case {
        std::string folder;
        uint32_t error;
    };
    for (const Case& c : {Case{loop, kErrorAccessDenied}, Case{directory + "/missing", kErrorSuccess},
                          Case{directory, kErrorSuccess}}) {
        uint32_t error = kErrorGenFailure;
        EXPECT_TRUE(SocketBackend(c.folder).enumerate(kInstrumentClassGuid, error).empty()) << c.folder;
        EXPECT_EQ(error, c.error) << c.folder;
        EXPECT_EQ(SocketBackend(c.folder).location(), c.folder);
    }
    ::unlink(loop.c_str());
    ::rmdir(directory.c_str());
}

// A socket listening at `path` (nobody accepts; connects still queue up).
int listenAt(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0)
        ADD_FAILURE() << "cannot listen at " << path;
    return fd;
}

TEST(SocketBackendTest, AnInstrumentKeepsItsPlugInUntilItsSocketIsMadeAgain) {
    char pattern[] = "/tmp/qvusb-test-XXXXXX";
    const std::string directory = ::mkdtemp(pattern);
    const std::string path = directory + "/lq3-1.sock";
    SocketBackend backend(directory);
    const auto plugInNow = [&] {
        uint32_t error = kErrorGenFailure;
        const std::vector<InterfaceEntry> entries = backend.enumerate(kInstrumentClassGuid, error);
        EXPECT_EQ(entries.size(), 1u);
        return entries.empty() ? uint64_t(0) : entries[0].plugIn;
    };
    const int fd = listenAt(path);
    const uint64_t first = plugInNow();
    EXPECT_NE(first, 0u);
    EXPECT_EQ(plugInNow(), first);
    EXPECT_TRUE(backend.stillPlugged(path, first));
    // Removed, the socket pulls its instrument out though its process
    // still listens on it.
    ::unlink(path.c_str());
    EXPECT_FALSE(backend.stillPlugged(path, first));
    // The first socket stays open while the next one is made: the two cannot
    // share a file, however quickly that happens.
    const int again = listenAt(path);
    const uint64_t second = plugInNow();
    EXPECT_NE(second, first);
    EXPECT_FALSE(backend.stillPlugged(path, first));
    EXPECT_TRUE(backend.stillPlugged(path, second));
    ::close(again);
    ::close(fd);
    ::unlink(path.c_str());
    // A folder that is gone holds none.
    ::rmdir(directory.c_str());
    EXPECT_FALSE(backend.stillPlugged(path, second));
}

// A device on one end of a socket pair with a control request (tag 1) started
// on it; the test plays the instrument on the other end.
struct StartedRequest {
    StartedRequest() {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
            ADD_FAILURE() << "no socket pair";
            return;
        }
        peer = pair[1];
        device = std::make_unique<SocketDevice>(pair[0]);
        done->reset(event);
        start = Clock::now();
        started = device->deviceIoControl(controlCode(kFnGetVersions), nullptr, 0, answer, sizeof answer, done);
    }
    ~StartedRequest() {
        if (peer >= 0) ::close(peer);
    }

    int peer = -1;
    std::unique_ptr<SocketDevice> device;
    std::shared_ptr<Overlapped> done = std::make_shared<Overlapped>();
    std::shared_ptr<Event> event = std::make_shared<Event>();
    uint8_t answer[8] = {};
    Clock::time_point start;
    IoResult started;
};

TEST(SocketDeviceTest, AnInstrumentThatNeverAnswersACancelCountsAsPulledOut) {
    StartedRequest request;
    ASSERT_EQ(request.started.error, kErrorIoPending);
    // The control time-out, then the grace for the cancel's answer.
    EXPECT_EQ(request.event->wait(5000), Event::WaitResult::signalled);
    const auto took = Clock::now() - request.start;
    EXPECT_EQ(request.done->status(), kErrorDeviceNotConnected);
    EXPECT_GE(took, std::chrono::milliseconds(SocketDevice::kControlTimeoutMs + SocketDevice::kCancelGraceMs));
    EXPECT_LT(took, 4s);
    // Nothing more starts on it.
    auto next = std::make_shared<Overlapped>();
    next->reset(std::make_shared<Event>());
    EXPECT_EQ(request.device->readFile(request.answer, sizeof request.answer, next).error, kErrorDeviceNotConnected);
}

std::vector<uint8_t> frame(uint8_t type, uint8_t reserved, uint32_t tag, std::vector<uint8_t> payload,
                           uint32_t length = 0) {
    std::vector<uint8_t> bytes{type, reserved, 0, 0};
    for (uint32_t word : {tag, length ? length : uint32_t(payload.size())})
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(uint8_t(word >> shift));
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

std::vector<uint8_t> text(const char* characters) {
    return std::vector<uint8_t>(characters, characters + std::strlen(characters));
}

// What a peer sends back to the first control request (tag 1), in pieces
// paced apart, and how the request ends.
struct PeerAnswer {
    const char* name;
    std::vector<std::vector<uint8_t>> pieces;
    uint32_t status;
    std::chrono::milliseconds atLeast, below;
};

TEST(SocketDeviceTest, AnswersArriveInPiecesAndBytesThatAreNoAnswerEndTheConnectionWithinItsTimeOuts) {
    const std::vector<uint8_t> answer = frame(0x81, 0, 1, {0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8});
    const auto timeOut = std::chrono::milliseconds(SocketDevice::kControlTimeoutMs + SocketDevice::kCancelGraceMs);
    const PeerAnswer cases[] = {
        {"an answer in three pieces", {{answer.begin(), answer.begin() + 5}, {answer.begin() + 5, answer.begin() + 14},
                                       {answer.begin() + 14, answer.end()}}, kErrorSuccess, 0ms, 1s},
        {"text longer than a header", {text("garbage\ngarbage\n")}, kErrorDeviceNotConnected, 0ms, 500ms},
        {"a frame of a type no instrument sends", {frame(0x05, 0, 1, {0, 0, 0, 0})}, kErrorDeviceNotConnected, 0ms,
         500ms},
        {"an answer with a reserved byte set", {frame(0x81, 1, 1, {0, 0, 0, 0})}, kErrorDeviceNotConnected, 0ms,
         500ms},
        {"a control answer longer than any", {frame(0x81, 0, 1, {}, 1u << 20)}, kErrorDeviceNotConnected, 0ms,
         500ms},
        {"an OUT answer to a control request", {frame(0x82, 0, 1, {0, 0, 0, 0, 0, 0, 0, 0})},
         kErrorDeviceNotConnected, 0ms, 500ms},
        {"a few bytes, then nothing", {text("garbage\n")}, kErrorDeviceNotConnected, timeOut, timeOut + 1s},
    };
    for (const PeerAnswer& c : cases) {
        SCOPED_TRACE(c.name);
        StartedRequest request;
        ASSERT_EQ(request.started.error, kErrorIoPending);
        for (const std::vector<uint8_t>& piece : c.pieces) {
            if (&piece != &c.pieces.front()) std::this_thread::sleep_for(50ms);  // paces the peer: pieces apart
            ASSERT_EQ(::send(request.peer, piece.data(), piece.size(), MSG_NOSIGNAL), ssize_t(piece.size()));
        }
        EXPECT_EQ(request.event->wait(5000), Event::WaitResult::signalled);
        const auto took = Clock::now() - request.start;
        EXPECT_EQ(request.done->status(), c.status);
        EXPECT_GE(took, c.atLeast);
        EXPECT_LT(took, c.below);
        if (c.status == kErrorSuccess) {
            EXPECT_EQ(request.answer[7], 8);
        }
    }
}

TEST(FolderWatchTest, SeesEntriesComeAndGoButNotHiddenOnes) {
    char pattern[] = "/tmp/qvwatch-test-XXXXXX";
    const std::string folder = ::mkdtemp(pattern);
    const std::string later = folder + "/later";
    FolderWatch watch;
    // Not there yet: the time is waited out, then the folder is watched.
    const auto start = Clock::now();
    EXPECT_FALSE(watch.waitForChange(later, 30ms));
    EXPECT_GE(Clock::now() - start, 30ms);
    ASSERT_EQ(::mkdir(later.c_str(), 0700), 0);
    EXPECT_FALSE(watch.waitForChange(later, 0ms));

    const auto changed = [&] { return watch.waitForChange(later, 2000ms); };
    std::ofstream(later + "/.pending.sock").put('x');
    EXPECT_FALSE(watch.waitForChange(later, 0ms)) << "a hidden entry";
    ASSERT_EQ(::rename((later + "/.pending.sock").c_str(), (later + "/lq3-1.sock").c_str()), 0);
    EXPECT_TRUE(changed()) << "renamed into view";
    EXPECT_FALSE(watch.waitForChange(later, 0ms)) << "events are taken once";
    ASSERT_EQ(::unlink((later + "/lq3-1.sock").c_str()), 0);
    EXPECT_TRUE(changed()) << "removed";
    std::ofstream(later + "/lq3-2.sock").put('x');
    EXPECT_TRUE(changed()) << "created";
    ::unlink((later + "/lq3-2.sock").c_str());
    ::rmdir(later.c_str());
    ::rmdir(folder.c_str());
}

}  // namespace
}  // namespace usb
}  // namespace platform
}  // namespace tarnix
