#pragma once
#include <cstddef>
#include <cstdint>

namespace tarnix {
namespace platform {
namespace usb {
namespace wire {

// The framed protocol between the driver layer and a simulated instrument over
// a Unix stream socket. Every frame is a 12-byte little-endian header (u8 type,
// u8 0, u16 0, u32 tag, u32 payload length) followed by the payload. The host
// numbers its operations with tags; every answer carries the tag of its
// request, and each request is answered exactly once.
enum FrameType : uint8_t {
    kControl = 0x01,      // u32 control code, then the input bytes
    kOut = 0x02,          // bytes for the host-to-device pipe
    kIn = 0x03,           // u32 most bytes wanted from the device-to-host pipe
    kCancel = 0x04,       // ends the operation named by the tag; no payload
    kControlDone = 0x81,  // u32 status, then the answer bytes
    kOutDone = 0x82,      // u32 status, u32 bytes accepted
    kInDone = 0x83,       // u32 status, then the bytes read
};

constexpr std::size_t kHeaderSize = 12;
constexpr uint32_t kMaxPayload = 64u * 1024u * 1024u;

struct FrameHeader {
    uint8_t type = 0;
    uint32_t tag = 0;
    uint32_t length = 0;
};

void encodeHeader(uint8_t* out, const FrameHeader& header);
FrameHeader decodeHeader(const uint8_t* in);

// Sends the pieces as one frame's bytes, whole; false when the peer is gone.
bool sendAll(int fd, const void* first, std::size_t firstLength, const void* second = nullptr,
             std::size_t secondLength = 0, const void* third = nullptr, std::size_t thirdLength = 0);
// Receives exactly `length` bytes; false on end of stream or error.
bool recvAll(int fd, void* data, std::size_t length);

}  // namespace wire
}  // namespace usb
}  // namespace platform
}  // namespace tarnix
