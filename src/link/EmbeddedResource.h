#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace tarnix {

// A named block of data built into the program: a range of a read-only data
// block, the MD5 digest that the build stored beside it, and whether the bytes
// still match that digest.
struct EmbeddedResource {
    std::string name;
    uint32_t offset = 0;
    uint32_t size = 0;
    std::array<uint8_t, 16> expectedDigest{};
    bool valid = false;
    const uint8_t* block = nullptr;  // start of the data block the offset counts from

    const uint8_t* bytes() const { return block + offset; }
};

// Fills the record, enters it in the registry under its name (replacing an
// entry of that name) and sets `valid` from the MD5 of its bytes. Meant for
// static initialisation, before main and before any thread starts.
void registerEmbeddedResource(EmbeddedResource& record, const std::string& name, const uint8_t* block,
                              uint32_t offset, uint32_t size, const std::array<uint8_t, 16>& expectedDigest);

// The record registered under exactly this name, or null.
const EmbeddedResource* findEmbeddedResource(const std::string& name);

// "bitstream": the name of the FPGA configuration. Code that looks the
// configuration up uses this function, which also guarantees that the built-in
// configuration is linked and registered.
const char* bitstreamResourceName();

}  // namespace tarnix
