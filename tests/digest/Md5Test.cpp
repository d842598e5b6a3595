#include "digest/Md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace tarnix {
namespace {

std::string hex(const Md5::Digest& digest) {
    std::string text;
    char pair[3];
    for (uint8_t byte : digest) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

std::string md5Hex(const std::string& message) {
    return hex(Md5::of(reinterpret_cast<const uint8_t*>(message.data()), message.size()));
}

struct Vector {
    std::string message;
    const char* digest;
};

TEST(Md5, MatchesTheReferenceVectorsAndThePaddingBoundaries) {
    const Vector vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
        {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
        {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
        {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
        {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
        {std::string(1000, 'a'), "cabe45dcc9ae5b66ba86600cca6b8ba8"},
    };
    for (const Vector& v : vectors) EXPECT_EQ(md5Hex(v.message), v.digest) << "length " << v.message.size();
}

TEST(Md5, PiecewiseUpdatesEqualOneUpdateAndNothingChangesAfterFinalize) {
    const std::string message(1000, 'a');
    for (std::size_t piece : {1u, 7u, 55u, 64u, 129u}) {
        Md5 md5;
        for (std::size_t at = 0; at < message.size(); at += piece)
            md5.update(reinterpret_cast<const uint8_t*>(message.data()) + at, std::min(piece, message.size() - at));
        md5.finalize();
        EXPECT_EQ(hex(md5.digest()), "cabe45dcc9ae5b66ba86600cca6b8ba8") << "pieces of " << piece;
        md5.update(reinterpret_cast<const uint8_t*>("x"), 1);
        md5.finalize();
        EXPECT_TRUE(md5.finalized());
        EXPECT_EQ(hex(md5.digest()), "cabe45dcc9ae5b66ba86600cca6b8ba8");
    }
}

}  // namespace
}  // namespace tarnix
