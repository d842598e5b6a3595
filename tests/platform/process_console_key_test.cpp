#include "platform/process/ConsoleKey.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace tarnix {
namespace platform {
namespace {

// Puts another descriptor in place of standard input for one test.
class StdinReplacement {
public:
    StdinReplacement() : saved_(::dup(STDIN_FILENO)) {}
    ~StdinReplacement() {
        ::dup2(saved_, STDIN_FILENO);
        ::close(saved_);
    }
    void use(int fd) { ::dup2(fd, STDIN_FILENO); }
    void closeIt() { ::close(STDIN_FILENO); }

private:
    int saved_;
};

TEST(ConsoleKey, AWaitingByteCountsAndStaysUnread) {
    StdinReplacement stdinGuard;
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    stdinGuard.use(pipeEnds[0]);

    EXPECT_FALSE(consoleKeyWaiting());
    ASSERT_EQ(::write(pipeEnds[1], "k", 1), 1);
    EXPECT_TRUE(consoleKeyWaiting());
    EXPECT_TRUE(consoleKeyWaiting());
    char byte = 0;
    ASSERT_EQ(::read(STDIN_FILENO, &byte, 1), 1);
    EXPECT_EQ(byte, 'k');

    // The end of input is no key press.
    ::close(pipeEnds[1]);
    EXPECT_FALSE(consoleKeyWaiting());
    ::close(pipeEnds[0]);
}

TEST(ConsoleKey, NoInputIsNoKeyPress) {
    StdinReplacement stdinGuard;
    int devNull = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(devNull, 0);
    stdinGuard.use(devNull);
    ::close(devNull);
    EXPECT_FALSE(consoleKeyWaiting());

    stdinGuard.closeIt();
    EXPECT_FALSE(consoleKeyWaiting());
}

}  // namespace
}  // namespace platform
}  // namespace tarnix
