#include "link/Bitstream.h"
#include "link/EmbeddedResource.h"
#include "digest/Md5.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarnix {
namespace {

TEST(EmbeddedResource, TheBuiltInConfigurationIsRegisteredIntactAndParsesForTheInstrument) {
    const EmbeddedResource* bitstream = findEmbeddedResource(bitstreamResourceName());
    ASSERT_NE(bitstream, nullptr);
    EXPECT_EQ(bitstream->name, "bitstream");
    EXPECT_EQ(bitstream->offset, 0u);
    EXPECT_GT(bitstream->size, 64u * 1024u);
    EXPECT_TRUE(bitstream->valid);
    EXPECT_EQ(Md5::of(bitstream->bytes(), bitstream->size), bitstream->expectedDigest);

    Bitstream parsed(Bitstream::kInstrumentFpgaType);
    parsed.configure(bitstream->bytes(), bitstream->size);
    EXPECT_TRUE(parsed.valid());
    EXPECT_GE(parsed.data().size(), 64u * 1024u);
}

TEST(EmbeddedResource, LookupIsExactAndCaseSensitive) {
    EXPECT_EQ(findEmbeddedResource("Bitstream"), nullptr);
    EXPECT_EQ(findEmbeddedResource("bitstream "), nullptr);
    EXPECT_EQ(findEmbeddedResource("never registered"), nullptr);
}

TEST(EmbeddedResource, AChangedByteLeavesTheResourceRegisteredButInvalid) {
    static const std::vector<uint8_t> block = [] {
        std::vector<uint8_t> bytes(300);
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 7);
        return bytes;
    }();
    const Md5::Digest digest = Md5::of(block.data() + 100, 150);
    static EmbeddedResource intact;
    registerEmbeddedResource(intact, "test.intact", block.data(), 100, 150, digest);
    EXPECT_TRUE(intact.valid);

    std::vector<uint8_t> changed = block;
    changed[180] ^= 1;
    static EmbeddedResource damaged;
    registerEmbeddedResource(damaged, "test.damaged", changed.data(), 100, 150, digest);
    EXPECT_EQ(findEmbeddedResource("test.damaged"), &damaged);
    EXPECT_FALSE(damaged.valid);

    // Registering under a taken name replaces the entry.
    static EmbeddedResource replacement;
    registerEmbeddedResource(replacement, "test.intact", block.data(), 100, 150, digest);
    EXPECT_EQ(findEmbeddedResource("test.intact"), &replacement);
}

}  // namespace
}  // namespace tarnix
