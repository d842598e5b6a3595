#include "SimServer.h"

#include "platform/endian/ByteOrder.h"
#include "platform/usb/WireProtocol.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarnix {
namespace sim {

namespace wire = platform::usb::wire;

namespace {

sockaddr_un unixAddress(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof(address.sun_path)) throw std::runtime_error("socket path too long: " + path);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

}  // namespace

// One host connection: frames in on the serving thread, answers out from
// whichever thread the instrument answers on.
class SimConnection : public HostLink, public std::enable_shared_from_this<SimConnection> {
public:
    explicit SimConnection(int fd) : fd_(fd) {
        timeval limit{5, 0};  // a host that stops reading must not hold the instrument for ever
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }
    ~SimConnection() override { ::close(fd_); }

    void answer(uint8_t type, uint32_t tag, uint32_t status, const uint8_t* data, std::size_t length) override {
        uint8_t header[wire::kHeaderSize + 4];
        wire::encodeHeader(header, wire::FrameHeader{type, tag, static_cast<uint32_t>(length + 4)});
        for (int i = 0; i < 4; ++i) header[wire::kHeaderSize + i] = uint8_t(status >> (8 * i));
        std::lock_guard<std::mutex> lock(sendMutex_);
        wire::sendAll(fd_, header, sizeof header, data, length);
    }

    int fd() const { return fd_; }
    void shutdown() { ::shutdown(fd_, SHUT_RDWR); }

private:
    int fd_;
    std::mutex sendMutex_;
};

SimServer::SimServer(std::shared_ptr<SimInstrument> instrument, std::string socketPath)
    : instrument_(std::move(instrument)), path_(std::move(socketPath)) {}

SimServer::~SimServer() { stop(); }

void SimServer::start() {
    // Bound under a hidden name first: enumeration skips dot files.
    const std::size_t slash = path_.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path_.substr(0, slash + 1);
    const std::string pending = folder + "." + path_.substr(folder.size()) + ".new";
    const sockaddr_un address = unixAddress(pending);
    unixAddress(path_);  // checks the final path's length too
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
    ::unlink(pending.c_str());
    if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 16) != 0) {
        const std::string reason = std::strerror(errno);
        ::close(listenFd_);
        listenFd_ = -1;
        throw std::runtime_error("cannot listen on " + pending + ": " + reason);
    }
    // Appears under its real name only once it accepts connections.
    if (::rename(pending.c_str(), path_.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        ::close(listenFd_);
        listenFd_ = -1;
        ::unlink(pending.c_str());
        throw std::runtime_error("cannot create " + path_ + ": " + reason);
    }
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

void SimServer::stop() {
    if (listenFd_ < 0) return;
    stopping_ = true;
    ::unlink(path_.c_str());  // unplugged
    const uint64_t one = 1;
    ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
    (void)ignored;
    acceptor_.join();
    ::close(listenFd_);
    listenFd_ = -1;
    std::list<Worker> workers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        workers.swap(workers_);
    }
    for (Worker& worker : workers) worker.connection->shutdown();
    for (Worker& worker : workers) worker.thread.join();
    ::close(wakeFd_);
    wakeFd_ = -1;
}

void SimServer::acceptLoop() {
    while (!stopping_) {
        pollfd watched[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0 && errno != EINTR) return;
        if (stopping_) return;
        if (!(watched[0].revents & POLLIN)) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        reapFinished();
        Worker worker{std::make_shared<SimConnection>(fd), std::make_shared<std::atomic<bool>>(false),
                      std::thread()};
        std::shared_ptr<SimConnection> connection = worker.connection;
        std::shared_ptr<std::atomic<bool>> done = worker.done;
        std::lock_guard<std::mutex> lock(mutex_);
        workers_.push_back(std::move(worker));
        workers_.back().thread = std::thread([this, connection, done] {
            serve(*connection);
            instrument_->disconnected(connection.get());
            *done = true;
        });
    }
}

void SimServer::reapFinished() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto worker = workers_.begin(); worker != workers_.end();) {
        if (*worker->done) {
            worker->thread.join();
            worker = workers_.erase(worker);
        } else {
            ++worker;
        }
    }
}

void SimServer::serve(SimConnection& connection) {
    const int fd = connection.fd();
    std::vector<uint8_t> payload;
    const std::shared_ptr<HostLink> link = connection.shared_from_this();
    for (;;) {
        uint8_t headerBytes[wire::kHeaderSize];
        if (!wire::recvAll(fd, headerBytes, sizeof headerBytes)) break;
        const wire::FrameHeader header = wire::decodeHeader(headerBytes);
        if (header.length > wire::kMaxPayload) break;
        payload.resize(header.length);
        if (header.length && !wire::recvAll(fd, payload.data(), header.length)) break;
        switch (header.type) {
        case wire::kControl:
            if (payload.size() >= 4)
                instrument_->control(link, header.tag, le::get32(payload.data()), payload.data() + 4,
                                     uint32_t(payload.size() - 4));
            break;
        case wire::kOut:
            instrument_->outTransfer(link, header.tag, std::move(payload));
            break;
        case wire::kIn:
            if (payload.size() >= 4) instrument_->inRequest(link, header.tag, le::get32(payload.data()));
            break;
        case wire::kCancel:
            instrument_->cancel(&connection, header.tag);
            break;
        default:
            break;
        }
    }
}

std::string prepareInstrumentDirectory(const std::string& directory) {
    std::string partial;
    for (std::size_t i = 0; i <= directory.size(); ++i) {
        if (i == directory.size() || directory[i] == '/') {
            if (!partial.empty()) ::mkdir(partial.c_str(), 0700);
        }
        if (i < directory.size()) partial.push_back(directory[i]);
    }
    return directory;
}

}  // namespace sim
}  // namespace tarnix
