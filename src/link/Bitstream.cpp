#include "link/Bitstream.h"

#include "link/IOExceptions.h"

#include <cstring>
#include <string>

namespace tarnix {
namespace {

struct FpgaTypeRow {
    const char* partText;
    uint32_t type;
};

// Searched in this order.
const FpgaTypeRow kFpgaTypes[] = {{"3sd3400", 2}, {"3sd1800", 1}};

constexpr std::size_t kMaxPartString = 16;
constexpr uint32_t kBlankSize = 4096;

[[noreturn]] void fail(const char* reason) { QV_THROW(QVBitstreamException(reason)); }

uint32_t bigEndian(const uint8_t* p, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value = (value << 8) | p[i];
    return value;
}

}  // namespace

uint8_t Bitstream::reverseBits(uint8_t byte) {
    byte = uint8_t((byte & 0xF0) >> 4 | (byte & 0x0F) << 4);
    byte = uint8_t((byte & 0xCC) >> 2 | (byte & 0x33) << 2);
    byte = uint8_t((byte & 0xAA) >> 1 | (byte & 0x55) << 1);
    return byte;
}

Bitstream Bitstream::blank() {
    Bitstream bitstream(0);
    bitstream.data_.assign(kBlankSize, 0);
    bitstream.valid_ = true;
    return bitstream;
}

void Bitstream::configure(const uint8_t* file, uint32_t length) {
    std::string partString;
    bool partFound = false;
    const uint8_t* image = nullptr;
    uint32_t imageLength = 0;

    uint32_t p = 0;
    while (p < length) {
        const uint8_t c = file[p];
        if (c >= 'a' && c <= 'd') {
            if (length - p - 1 < 2) fail("Illegal length value due to a bad file format.");
            const uint32_t n = bigEndian(file + p + 1, 2);
            const uint32_t valueStart = p + 3;
            if (n > length - valueStart) fail("Illegal length value due to a bad file format.");
            const uint8_t* value = file + valueStart;
            if (c == 'b' && n > kMaxPartString) fail("Illegal part string detected. (too long)");
            if (n > 1 && std::memchr(value, 0, n - 1) != nullptr) fail("Wrong position of terminating character.");
            if (c == 'b') {
                partString.assign(reinterpret_cast<const char*>(value), strnlen(reinterpret_cast<const char*>(value), n));
                partFound = true;
            }
            p = valueStart + n;
        } else if (c == 'e') {
            if (length - p - 1 < 4) fail("Illegal length value due to a bad file format.");
            const uint32_t n = bigEndian(file + p + 1, 4);
            const uint32_t imageStart = p + 5;
            if (n > length - imageStart) fail("Illegal length value due to a bad file format.");
            image = file + imageStart;
            imageLength = n;
            p = imageStart + n;
        } else {
            ++p;  // preamble and marker bytes between the fields
        }
    }
    if (!partFound || !image) fail("Partstring or image not found.");

    for (const FpgaTypeRow& row : kFpgaTypes) {
        if (partString.find(row.partText) == std::string::npos || row.type != fpgaType_) continue;
        data_.resize(imageLength);
        for (uint32_t i = 0; i < imageLength; ++i) data_[i] = reverseBits(image[i]);
        valid_ = true;
        return;
    }
    fail("FPGA type is invalid.");
}

}  // namespace tarnix
