// Writes the FPGA configuration file that the server embeds: a bitstream file
// header (tagged fields 'a' design name, 'b' part, 'c' date, 'd' time, 'e'
// image length) followed by a design image that the simulated instrument
// accepts.
//   lq3bitgen <output.bit> [image bytes]
#include "DesignImage.h"

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kDefaultImageSize = 512 * 1024;

void appendField(std::vector<uint8_t>& out, char tag, const std::string& text) {
    const std::size_t length = text.size() + 1;  // with the terminating zero
    out.push_back(uint8_t(tag));
    out.push_back(uint8_t(length >> 8));
    out.push_back(uint8_t(length));
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

std::vector<uint8_t> fileHeader(std::size_t imageSize) {
    std::vector<uint8_t> header = {0x00, 0x09, 0x0f, 0xf0, 0x0f, 0xf0, 0x0f, 0xf0, 0x0f, 0xf0, 0x00, 0x00, 0x01};
    appendField(header, 'a', "lq3_top.ncd;UserID=0xFFFFFFFF");
    appendField(header, 'b', "3sd3400afg676");
    appendField(header, 'c', "2024/03/14");
    appendField(header, 'd', "10:00:00");
    header.push_back('e');
    for (int shift = 24; shift >= 0; shift -= 8) header.push_back(uint8_t(imageSize >> shift));
    return header;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s <output.bit> [image bytes]\n", argv[0]);
        return 2;
    }
    std::size_t imageSize = kDefaultImageSize;
    if (argc == 3) imageSize = std::strtoul(argv[2], nullptr, 0);
    // The image length sits in the header that the image copies, so settle it first.
    imageSize = std::max(imageSize, tarnix::sim::design::kHeaderCopyOffset + fileHeader(0).size() +
                                        tarnix::sim::design::kChecksumSize);
    const std::vector<uint8_t> header = fileHeader(imageSize);
    const std::vector<uint8_t> image = tarnix::sim::design::makeImage(header, imageSize);

    std::FILE* file = std::fopen(argv[1], "wb");
    if (!file) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(header.data(), 1, header.size(), file) == header.size() &&
                         std::fwrite(image.data(), 1, image.size(), file) == image.size();
    if (std::fclose(file) != 0 || !written) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
