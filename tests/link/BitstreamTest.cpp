#include "link/Bitstream.h"
#include "link/IOExceptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnix {
namespace {

using Bytes = std::vector<uint8_t>;

void field(Bytes& out, char tag, const std::string& value) {
    out.push_back(uint8_t(tag));
    out.push_back(uint8_t(value.size() >> 8));
    out.push_back(uint8_t(value.size()));
    out.insert(out.end(), value.begin(), value.end());
}

void image(Bytes& out, const Bytes& bytes, uint32_t announced) {
    out.push_back('e');
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(announced >> shift));
    out.insert(out.end(), bytes.begin(), bytes.end());
}

Bytes file(const std::string& part, const std::string& date = std::string("2024/01/01\0", 11), int imageDelta = 0) {
    Bytes out = {0x00, 0x09, 0x0f, 0xf0, 0x0f, 0xf0, 0x00, 0x00, 0x01};
    field(out, 'a', std::string("design.ncd\0", 11));
    field(out, 'b', part);
    field(out, 'c', date);
    field(out, 'd', std::string("12:00:00\0", 9));
    const Bytes content = {0x01, 0xF0, 0x80, 0x3C};
    image(out, content, uint32_t(content.size() + imageDelta));
    return out;
}

std::string failureOf(const Bytes& bytes, uint32_t type = 2) {
    Bitstream bitstream(type);
    try {
        bitstream.configure(bytes.data(), uint32_t(bytes.size()));
    } catch (const QVBitstreamException& e) {
        EXPECT_FALSE(bitstream.valid());
        return e.what();
    }
    return "accepted";
}

TEST(Bitstream, ParsesTheImageBitReversedForTheMatchingType) {
    const Bytes bytes = file(std::string("3sd3400afg676\0", 14));
    Bitstream bitstream(2);
    bitstream.configure(bytes.data(), uint32_t(bytes.size()));
    EXPECT_TRUE(bitstream.valid());
    EXPECT_EQ(bitstream.data(), (Bytes{0x80, 0x0F, 0x01, 0x3C}));

    Bitstream other(1);
    const Bytes older = file(std::string("3sd1800a\0", 9));
    other.configure(older.data(), uint32_t(older.size()));
    EXPECT_TRUE(other.valid());
}

TEST(Bitstream, RefusesMalformedFiles) {
    struct Case {
        const char* what;
        Bytes bytes;
        const char* expected;
    };
    Bytes missingImage = file(std::string("3sd3400\0", 8));
    missingImage.resize(missingImage.size() - 9);  // drop the 'e' field
    Bytes truncatedField = {'a', 0x00};
    Bytes shortValue = {'b', 0x00, 0x09, '3', 's', 'd'};
    const Case cases[] = {
        {"part of the other type", file(std::string("3sd1800\0", 8)), "Illegal bitstream. FPGA type is invalid."},
        {"part of no known type", file(std::string("xc2v1000\0", 9)), "Illegal bitstream. FPGA type is invalid."},
        {"part string of 17 bytes", file(std::string("3sd3400abcdefghi\0", 17)),
         "Illegal bitstream. Illegal part string detected. (too long)"},
        {"zero inside a value", file(std::string("3sd3400\0", 8), std::string("2024\0/01\0", 9)),
         "Illegal bitstream. Wrong position of terminating character."},
        {"image one byte longer than the file", file(std::string("3sd3400\0", 8), std::string("d\0", 2), 1),
         "Illegal bitstream. Illegal length value due to a bad file format."},
        {"field length past the end", shortValue, "Illegal bitstream. Illegal length value due to a bad file format."},
        {"field without its length", truncatedField,
         "Illegal bitstream. Illegal length value due to a bad file format."},
        {"no image", missingImage, "Illegal bitstream. Partstring or image not found."},
        {"empty input", Bytes(), "Illegal bitstream. Partstring or image not found."},
    };
    for (const Case& c : cases) EXPECT_EQ(failureOf(c.bytes), c.expected) << c.what;
}

TEST(Bitstream, APartStringOfSixteenBytesEndingInZeroIsAccepted) {
    EXPECT_EQ(failureOf(file(std::string("3sd3400abcdefgh\0", 16))), "accepted");
}

TEST(Bitstream, TheBlankImageIsValidZeroesOfTypeZero) {
    const Bitstream blank = Bitstream::blank();
    EXPECT_TRUE(blank.valid());
    EXPECT_EQ(blank.fpgaType(), 0u);
    EXPECT_EQ(blank.data(), Bytes(4096, 0));
}

}  // namespace
}  // namespace tarnix
