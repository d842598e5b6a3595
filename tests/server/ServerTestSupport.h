#pragma once
// Helpers for the server's component tests: a small stand-in protocol that
// sessions can speak before (and besides) the real ones, a loopback client,
// and free ports.
#include "platform/endian/ByteOrder.h"
#include "core/DataTypes.h"
#include "core/tree/DispatcherTree.h"
#include "core/tree/PathResolution.h"
#include "core/tree/RequestPosting.h"
#include "core/tree/Subscriptions.h"
#include "platform/net/Socket.h"
#include "server/dispatcher/StreamFeed.h"
#include "server/server/ServerContext.h"
#include "server/session/ProtocolTable.h"
#include "support/Wait.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <random>
#include <shared_mutex>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace tarnix {
namespace test {

// The streams a test session was given by the dispatcher, read on the spot:
// each stream message goes to `deliver` as the session would send it.
class StreamCollector {
public:
    void attach(std::shared_ptr<StreamFeedReader> reader) { readers_.push_back(std::move(reader)); }
    template <class Deliver>
    void collect(Deliver deliver) {
        for (const auto& reader : readers_) {
            const uint8_t* data = nullptr;
            uint32_t length = 0;
            // A limit of one byte hands out one message at a time.
            while (reader->acquire(data, length, 1)) {
                deliver(data, length);
                reader->release(length);
            }
        }
    }

private:
    std::vector<std::shared_ptr<StreamFeedReader>> readers_;
};

// A loopback port in 20000..32767 that nothing held a moment ago; 0 when none
// was found. Below the system's ephemeral ports: a port that the system handed
// out once may go at any moment to the client side of some other test's
// connection, and a server could then not bind it. The command line's port
// option is a signed 16-bit number, which these ports also suit.
inline uint16_t freePort(uint16_t from = 20000, uint16_t span = 12768) {
    static std::mt19937 random(std::random_device{}());
    static std::mutex randomMutex;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        uint16_t port;
        {
            std::lock_guard<std::mutex> lock(randomMutex);
            port = uint16_t(from + random() % span);
        }
        platform::Socket probe = platform::createTcpSocket();
        if (platform::bindIPv4(probe.get(), port, false)) return port;
    }
    return 0;
}

// Binding 127.0.0.2 on the port tells whether a server holds the port on
// every interface (0.0.0.0) or on the loopback address only.
inline bool anyAddressHeld(uint16_t port) {
    platform::Socket probe = platform::createTcpSocket();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(0x7F000002);
    return ::bind(probe.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno == EADDRINUSE;
}

// A line protocol: "echo TEXT", "big N" (N bytes of output at once), "get
// PATH", "set PATH VALUE", "subs PATH", "bin", "ascii", "quit". Values come
// back as "<path> seq=<seq> kind=<kind> <value>\n", streams as
// "<path> stream <bytes>\n".
class StandInProtocol : public IFaceDataBase {
public:
    using IFaceDataBase::IFaceDataBase;

    int32_t input(const uint8_t* data, uint32_t length) {
        pending_.append(reinterpret_cast<const char*>(data), length);
        size_t end;
        while ((end = pending_.find('\n')) != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            command(line);
        }
        return 0;
    }

    static ProtocolHooks hooks(InterfaceType type) {
        ProtocolHooks h;
        h.create = [](SessionActionsInterface& s) { return std::make_shared<StandInProtocol>(s); };
        h.greet = [type](IFaceDataBase& p) {
            p.write(reinterpret_cast<const uint8_t*>(type == INTERFACE_TEXT ? "HELLO text\n" : "HELLO binary\n"),
                    type == INTERFACE_TEXT ? 11 : 13, WRITE_CLASS_TEXT);
            return QV_STATUS(QV_NO_ERROR);
        };
        h.input = [](const uint8_t* d, uint32_t n, IFaceDataBase& p) {
            return static_cast<StandInProtocol&>(p).input(d, n);
        };
        h.valueEncode = encodeValue;
        h.streamEncode = encodeStream;
        return h;
    }

    static void install(ProtocolTable& table) {
        setProtocolHooks(table, INTERFACE_TEXT, hooks(INTERFACE_TEXT));
        setProtocolHooks(table, INTERFACE_BINARY, hooks(INTERFACE_BINARY));
    }

    static QV_STATUS put(const std::string& text, uint8_t* out, uint32_t capacity, uint32_t& length) {
        length = uint32_t(std::min<size_t>(text.size(), capacity));
        std::memcpy(out, text.data(), length);
        return length == text.size() ? QV_NO_ERROR : QV_BUFFER_TOO_SMALL;
    }

    static QV_STATUS encodeValue(const std::string& path, uint16_t, uint16_t seq, uint16_t kind, uint8_t* out,
                                 uint32_t capacity, uint32_t& length, const uint8_t* data, uint32_t dataLength) {
        std::string value;
        if ((kind == DATATYPE_DOUBLE || kind == DATATYPE_INTEGER) && dataLength >= 8) {
            char text[64];
            if (kind == DATATYPE_DOUBLE)
                std::snprintf(text, sizeof text, "%g", le::getDouble(data));
            else
                std::snprintf(text, sizeof text, "%lld", (long long)int64_t(le::get64(data)));
            value = text;
        } else if (kind == DATATYPE_BYTEARRAY && dataLength >= 4) {
            value.assign(reinterpret_cast<const char*>(data + 4), std::min(le::get32(data), dataLength - 4));
        } else if (kind == DATATYPE_TREECHANGE && dataLength >= 36) {
            value = std::to_string(int32_t(le::get32(data))) + " " +
                    std::string(reinterpret_cast<const char*>(data + 4), strnlen((const char*)data + 4, 32));
        } else {
            value = "bytes=" + std::to_string(dataLength);
        }
        return put(path + " seq=" + std::to_string(seq) + " kind=" + std::to_string(kind) + " " + value + "\n", out,
                   capacity, length);
    }

    static QV_STATUS encodeStream(const std::string& path, uint16_t, uint16_t, uint8_t* out, uint32_t capacity,
                                  uint32_t& length, const uint8_t*, uint32_t dataLength) {
        return put(path + " stream " + std::to_string(dataLength) + "\n", out, capacity, length);
    }

private:
    void say(const std::string& text) {
        write(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), WRITE_CLASS_TEXT);
    }

    void command(const std::string& line) {
        const size_t blank = line.find(' ');
        const std::string verb = line.substr(0, blank);
        const std::string rest = blank == std::string::npos ? std::string() : line.substr(blank + 1);
        if (verb == "echo") {
            say(rest + "\n");
        } else if (verb == "big") {
            std::string chunk(65536, 'x');
            for (long left = std::stol(rest); left > 0; left -= long(chunk.size()))
                say(left >= long(chunk.size()) ? chunk : chunk.substr(0, size_t(left)));
        } else if (verb == "bin") {
            requestInterface(INTERFACE_BINARY);
        } else if (verb == "ascii") {
            requestInterface(INTERFACE_TEXT);
        } else if (verb == "quit") {
            close();
        } else if (verb == "get" || verb == "set" || verb == "subs") {
            const size_t space = rest.find(' ');
            const std::string path = rest.substr(0, space);
            TreeRegistry& trees = serverContext().treeRegistry();
            SharedLock<SharedTimedMutex> lock(trees.treeStructureMutex());
            NodeSet set;
            DispatcherResolvePathList(trees, set, "", path);
            if (verb == "get") DispatcherPostGetRequest(++sequence_, *getClient(), set).ignore();
            if (verb == "set")
                DispatcherPostSetInteger(++sequence_, *getClient(), set, std::stoi(rest.substr(space))).ignore();
            if (verb == "subs") DispatcherSubscribeNodeSet(trees, getClient(), 1, set).ignore();
            say("ok " + verb + "\n");
        }
    }

    std::string pending_;
    uint16_t sequence_ = 0;
};

// A blocking loopback client that collects what it receives.
class TestClient {
public:
    explicit TestClient(uint16_t port) : socket_(platform::createTcpSocket()) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(socket_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }

    bool connected() const { return connected_; }
    int fd() const { return socket_.get(); }

    bool send(const std::string& text) {
        size_t done = 0;
        while (done < text.size()) {
            ssize_t n = ::send(socket_.get(), text.data() + done, text.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += size_t(n);
        }
        return true;
    }

    // Reads until the received text contains `wanted` (true) or the time is up
    // or the server closed the connection (false).
    bool waitFor(const std::string& wanted, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (received_.find(wanted) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !readSome(int(left.count()))) return false;
        }
        return true;
    }

    // True when the server closed the connection within the time.
    bool waitForClose(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!closed_) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            readSome(int(left.count()));
        }
        return true;
    }

    const std::string& received() const { return received_; }
    void clear() { received_.clear(); }
    void close() { socket_.close(); }

private:
    bool readSome(int timeoutMs) {
        platform::PollResult ready = platform::pollSocket(socket_.get(), false, timeoutMs);
        if (ready.count <= 0) return ready.count == 0;
        char buffer[65536];
        ssize_t n = platform::receiveSome(socket_.get(), buffer, sizeof buffer);
        if (n <= 0) {
            closed_ = true;
            return false;
        }
        received_.append(buffer, size_t(n));
        return true;
    }

    platform::Socket socket_;
    bool connected_ = false;
    bool closed_ = false;
    std::string received_;
};

}  // namespace test
}  // namespace tarnix
