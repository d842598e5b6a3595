#include "DesignImage.h"

#include "platform/endian/ByteOrder.h"

#include <cstring>

namespace tarnix {
namespace sim {
namespace design {
namespace {

const uint8_t kSync[4] = {0xAA, 0x99, 0x55, 0x66};
const char kMagic[kMagicSize] = "LQ3-SIM-DESIGN";

}  // namespace

uint32_t checksum(const uint8_t* data, std::size_t length) {
    uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < length; ++i) {
        hash ^= data[i];
        hash *= 16777619u;
    }
    return hash;
}

std::vector<uint8_t> makeImage(const std::vector<uint8_t>& fileHeader, std::size_t imageSize) {
    const std::size_t minimum = kHeaderCopyOffset + fileHeader.size() + kChecksumSize;
    if (imageSize < minimum) imageSize = minimum;
    std::vector<uint8_t> image(imageSize, 0);
    std::memset(image.data(), 0xFF, kSyncOffset);
    std::memcpy(image.data() + kSyncOffset, kSync, sizeof kSync);
    std::memcpy(image.data() + kMagicOffset, kMagic, kMagicSize);
    le::put32(image.data() + kHeaderLengthOffset, static_cast<uint32_t>(fileHeader.size()));
    std::memcpy(image.data() + kHeaderCopyOffset, fileHeader.data(), fileHeader.size());
    // Filler: a fixed pseudo-random sequence, so that the file is the same on
    // every build.
    uint32_t state = 0x2545F491u;
    for (std::size_t i = kHeaderCopyOffset + fileHeader.size(); i < imageSize - kChecksumSize; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        image[i] = uint8_t(state);
    }
    le::put32(image.data() + imageSize - kChecksumSize, checksum(image.data(), imageSize - kChecksumSize));
    return image;
}

bool parseImage(const uint8_t* image, std::size_t size, std::vector<uint8_t>& fileHeader) {
    if (size < kHeaderCopyOffset + kChecksumSize) return false;
    if (std::memcmp(image + kSyncOffset, kSync, sizeof kSync) != 0) return false;
    if (std::memcmp(image + kMagicOffset, kMagic, kMagicSize) != 0) return false;
    const uint32_t headerLength = le::get32(image + kHeaderLengthOffset);
    if (headerLength > size - kHeaderCopyOffset - kChecksumSize) return false;
    if (checksum(image, size - kChecksumSize) != le::get32(image + size - kChecksumSize)) return false;
    fileHeader.assign(image + kHeaderCopyOffset, image + kHeaderCopyOffset + headerLength);
    return true;
}

}  // namespace design
}  // namespace sim
}  // namespace tarnix
