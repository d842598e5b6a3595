#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnix {
namespace sim {

// The configuration image that the simulated FPGA accepts as a design, as it
// lies in the configuration file (before the host reverses each byte's bits):
//   16 bytes 0xFF, sync AA 99 55 66, 16-byte magic "LQ3-SIM-DESIGN",
//   u32 LE length H, a copy of the file's H header bytes (everything before the
//   image), filler, and a u32 LE FNV-1a checksum of all bytes before it.
// With the header copy the FPGA knows the whole file and so reports the file's
// MD5 digest as its design hash, as the host expects.
namespace design {

constexpr std::size_t kSyncOffset = 16;
constexpr std::size_t kMagicOffset = 20;
constexpr std::size_t kMagicSize = 16;
constexpr std::size_t kHeaderLengthOffset = 36;
constexpr std::size_t kHeaderCopyOffset = 40;
constexpr std::size_t kChecksumSize = 4;

uint32_t checksum(const uint8_t* data, std::size_t length);

// An image of `imageSize` bytes for a file whose header is `fileHeader`.
std::vector<uint8_t> makeImage(const std::vector<uint8_t>& fileHeader, std::size_t imageSize);

// True when `image` is a well-formed design; then `fileHeader` holds the header
// copy.
bool parseImage(const uint8_t* image, std::size_t size, std::vector<uint8_t>& fileHeader);

}  // namespace design
}  // namespace sim
}  // namespace tarnix
