// Registers the FPGA configuration that the build generated and embedded (see
// CMakeLists.txt of this folder) as the resource "bitstream".
#include "link/EmbeddedResource.h"

#include "BitstreamDigest.h"  // generated: QV_BITSTREAM_MD5_BYTES

extern "C" const uint8_t qvEmbeddedDataBlock[];
extern "C" const uint8_t qvEmbeddedDataBlockEnd[];

namespace tarnix {
namespace {

EmbeddedResource bitstreamRecord;

struct BitstreamRegistration {
    BitstreamRegistration() {
        registerEmbeddedResource(bitstreamRecord, bitstreamResourceName(), qvEmbeddedDataBlock, 0,
                                 static_cast<uint32_t>(qvEmbeddedDataBlockEnd - qvEmbeddedDataBlock),
                                 std::array<uint8_t, 16>{QV_BITSTREAM_MD5_BYTES});
    }
} const registerBitstream;

}  // namespace

const char* bitstreamResourceName() { return "bitstream"; }

}  // namespace tarnix
