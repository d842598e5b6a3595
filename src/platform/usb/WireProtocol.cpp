#include "platform/usb/WireProtocol.h"

#include "platform/endian/ByteOrder.h"

#include <cerrno>
#include <sys/socket.h>
#include <sys/uio.h>

namespace tarnix {
namespace platform {
namespace usb {
namespace wire {

void encodeHeader(uint8_t* out, const FrameHeader& header) {
    out[0] = header.type;
    out[1] = 0;
    out[2] = 0;
    out[3] = 0;
    le::put32(out + 4, header.tag);
    le::put32(out + 8, header.length);
}

FrameHeader decodeHeader(const uint8_t* in) {
    FrameHeader header;
    header.type = in[0];
    header.tag = le::get32(in + 4);
    header.length = le::get32(in + 8);
    return header;
}

bool sendAll(int fd, const void* first, std::size_t firstLength, const void* second, std::size_t secondLength,
             const void* third, std::size_t thirdLength) {
    iovec pieces[3] = {{const_cast<void*>(first), firstLength},
                       {const_cast<void*>(second), secondLength},
                       {const_cast<void*>(third), thirdLength}};
    int index = 0;
    const int count = 3;
    while (index < count) {
        if (pieces[index].iov_len == 0) {
            ++index;
            continue;
        }
        msghdr message{};
        message.msg_iov = pieces + index;
        message.msg_iovlen = static_cast<std::size_t>(count - index);
        const ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        std::size_t left = static_cast<std::size_t>(sent);
        while (index < count && left >= pieces[index].iov_len) {
            left -= pieces[index].iov_len;
            ++index;
        }
        if (index < count) {
            pieces[index].iov_base = static_cast<uint8_t*>(pieces[index].iov_base) + left;
            pieces[index].iov_len -= left;
        }
    }
    return true;
}

bool recvAll(int fd, void* data, std::size_t length) {
    uint8_t* cursor = static_cast<uint8_t*>(data);
    while (length > 0) {
        const ssize_t got = ::recv(fd, cursor, length, 0);
        if (got == 0) return false;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        cursor += got;
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace wire
}  // namespace usb
}  // namespace platform
}  // namespace tarnix
