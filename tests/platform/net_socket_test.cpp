#include "platform/net/Socket.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <vector>

namespace tarnix {
namespace platform {
namespace {

Socket listenOnLoopback(uint16_t& port) {
    Socket server = createTcpSocket();
    EXPECT_TRUE(server.valid());
    EXPECT_TRUE(bindIPv4(server.get(), 0, false));
    EXPECT_TRUE(listenOn(server.get(), 4));
    port = boundPort(server.get());
    return server;
}

Socket connectTo(uint16_t port) {
    Socket client = createTcpSocket();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(client.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return client;
}

TEST(Socket, SendingToAClosedPeerIsAnErrorNotASignal) {
    // With the default action a broken pipe would end this test program.
    struct sigaction previous {};
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &defaultAction, &previous);

    uint16_t port = 0;
    Socket server = listenOnLoopback(port);
    Socket client = connectTo(port);
    Socket accepted = acceptClient(server.get());
    ASSERT_TRUE(accepted.valid());
    accepted.close();

    std::vector<char> block(65536, 'x');
    ssize_t result = 0;
    for (int i = 0; i < 100 && result >= 0; ++i) {
        PollResult ready = pollSocket(client.get(), true, 100);
        if (ready.writable) result = sendSome(client.get(), block.data(), block.size());
    }
    EXPECT_LT(result, 0);
    EXPECT_TRUE(errno == EPIPE || errno == ECONNRESET) << std::strerror(errno);
    sigaction(SIGPIPE, &previous, nullptr);
}

TEST(Socket, PollReportsInputAndTheEndOfInput) {
    uint16_t port = 0;
    Socket server = listenOnLoopback(port);
    ASSERT_TRUE(setNonBlocking(server.get(), true));
    Socket none = acceptClient(server.get());
    EXPECT_FALSE(none.valid());
    EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);

    Socket client = connectTo(port);
    ASSERT_TRUE(pollSocket(server.get(), false, 1000).readable);
    Socket accepted = acceptClient(server.get());
    ASSERT_TRUE(accepted.valid());

    EXPECT_EQ(pollSocket(accepted.get(), false, 10).count, 0);
    ASSERT_EQ(sendSome(client.get(), "ab", 2), 2);
    PollResult ready = pollSocket(accepted.get(), true, 1000);
    EXPECT_TRUE(ready.readable);
    EXPECT_TRUE(ready.writable);
    EXPECT_EQ(pendingInput(accepted.get()), 2);
    char buffer[8];
    EXPECT_EQ(receiveSome(accepted.get(), buffer, sizeof buffer), 2);

    client.close();
    EXPECT_TRUE(pollSocket(accepted.get(), false, 1000).readable);
    EXPECT_EQ(receiveSome(accepted.get(), buffer, sizeof buffer), 0);
}

TEST(Socket, MovedSocketsCloseOnce) {
    Socket a = createTcpSocket();
    const SocketHandle fd = a.get();
    Socket b(std::move(a));
    EXPECT_FALSE(a.valid());
    EXPECT_EQ(b.get(), fd);
    Socket c;
    c = std::move(b);
    EXPECT_EQ(c.get(), fd);
    EXPECT_TRUE(c.close());
    EXPECT_FALSE(c.valid());
}

}  // namespace
}  // namespace platform
}  // namespace tarnix
