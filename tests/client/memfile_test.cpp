#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "qvAPI.h"

namespace {

// A file in a fresh temporary directory, removed with the object.
class TempFile {
public:
    explicit TempFile(const std::string& content) {
        char dir[] = "/tmp/memfileXXXXXX";
        dir_ = ::mkdtemp(dir);
        path_ = dir_ + "/image.mem";
        std::FILE* f = std::fopen(path_.c_str(), "wb");
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
    }
    ~TempFile() {
        std::remove(path_.c_str());
        ::rmdir(dir_.c_str());
    }
    const char* path() const { return path_.c_str(); }
    const char* dir() const { return dir_.c_str(); }

private:
    std::string dir_;
    std::string path_;
};

struct MemCase {
    const char* name;
    std::string content;
    int32_t bufferSize;
    QV_STATUS expected;
    std::vector<uint8_t> expectedBytes;  // the whole buffer afterwards
    int32_t expectedUsed;
};

class ReadMemFile : public ::testing::TestWithParam<MemCase> {};

TEST_P(ReadMemFile, ScansTheImage) {
    const MemCase& c = GetParam();
    TempFile file(c.content);
    std::vector<uint8_t> buffer(size_t(c.bufferSize), 0x5A);
    int32_t used = -1;
    EXPECT_EQ(ReadMEMFile(file.path(), buffer.data(), c.bufferSize, &used), c.expected);
    EXPECT_EQ(buffer, c.expectedBytes);
    EXPECT_EQ(used, c.expectedUsed);
}

std::vector<uint8_t> bytes(std::initializer_list<int> values, size_t size) {
    std::vector<uint8_t> b(size, 0);
    size_t i = 0;
    for (int v : values) b[i++] = uint8_t(v);
    return b;
}

std::vector<uint8_t> at(std::vector<std::pair<size_t, int>> values, size_t size) {
    std::vector<uint8_t> b(size, 0);
    for (auto& v : values) b[v.first] = uint8_t(v.second);
    return b;
}

std::string chunkStraddling() {
    // The token "abcd" starts 2 bytes before the first 4096-byte chunk ends.
    return std::string(4094, ' ') + "abcd\n";
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadMemFile,
    ::testing::Values(
        MemCase{"Empty", "", 8, QV_NO_ERROR, bytes({}, 8), 0},
        MemCase{"OnlyComments", "// line\n/* block\n */ // x", 8, QV_NO_ERROR, bytes({}, 8), 0},
        MemCase{"OddDigitCount", "abc\n", 8, QV_NO_ERROR, bytes({0x0a, 0xbc}, 8), 2},
        MemCase{"TokensAndOddToken", "12 345\n", 8, QV_NO_ERROR, bytes({0x12, 0x03, 0x45}, 8), 3},
        MemCase{"Address", "@4\n01 02\n", 8, QV_NO_ERROR, at({{4, 1}, {5, 2}}, 8), 6},
        MemCase{"AddressHex", "@10 ff\n", 20, QV_NO_ERROR, at({{16, 0xff}}, 20), 17},
        MemCase{"AddressWithoutDigits", "aa @ bb\n", 4, QV_NO_ERROR, bytes({0xbb}, 4), 1},
        MemCase{"TokenThenLineComment", "01// c\n", 4, QV_NO_ERROR, bytes({1}, 4), 1},
        MemCase{"TokenThenBlockComment", "01/* c */02\n", 4, QV_NO_ERROR, bytes({1, 2}, 4), 2},
        MemCase{"ShortestBlockComment", "/*/ 05\n", 4, QV_NO_ERROR, bytes({5}, 4), 1},
        MemCase{"AddressThenComment", "@2//x\n07\n", 4, QV_NO_ERROR, at({{2, 7}}, 4), 3},
        MemCase{"LastTokenWithoutSeparatorIsKept", "01 7f", 4, QV_NO_ERROR, bytes({1, 0x7f}, 4), 2},
        MemCase{"BadDigit", "0g\n", 4, QV_COMMAND_INTERNAL, bytes({}, 4), 0},
        MemCase{"BadCharacter", "01 x\n", 4, QV_COMMAND_INTERNAL, bytes({1}, 4), 1},
        MemCase{"SlashWithoutComment", "01 /x\n", 4, QV_COMMAND_INTERNAL, bytes({1}, 4), 1},
        MemCase{"BufferTooSmall", "010203\n", 2, QV_BUFFER_TOO_SMALL, bytes({1, 2}, 2), 2},
        MemCase{"AddressBeyondBuffer", "@ffffffffff 01\n", 4, QV_BUFFER_TOO_SMALL, bytes({}, 4), 0},
        MemCase{"TokenStraddlesChunks", chunkStraddling(), 4, QV_NO_ERROR, bytes({0xab, 0xcd}, 4), 2},
        MemCase{"AddressesGoBackwards", "@8 aa @0 bb\n", 10, QV_NO_ERROR, at({{0, 0xbb}, {8, 0xaa}}, 10), 9},
        MemCase{"LongestToken", std::string(4095, '0') + "\n", 2048, QV_NO_ERROR, bytes({}, 2048), 2048},
        MemCase{"TokenTooLong", std::string(4096, '0') + "\n", 4096, QV_BUFFER_TOO_SMALL, bytes({}, 4096), 0}),
    [](const ::testing::TestParamInfo<MemCase>& info) { return std::string(info.param.name); });

TEST(ReadMemFileArguments, FileAndBufferFailures) {
    uint8_t buffer[4] = {9, 9, 9, 9};
    int32_t used = -1;
    EXPECT_EQ(ReadMEMFile("/nonexistent/dir/image.mem", buffer, 4, &used), QV_FILE_FAILED);
    EXPECT_EQ(used, 0);
    EXPECT_EQ(buffer[0], 0);
    TempFile file("01\n");
    // A directory opens but cannot be read.
    EXPECT_EQ(ReadMEMFile(file.dir(), buffer, 4, &used), QV_FILE_FAILED);
    EXPECT_EQ(ReadMEMFile(file.path(), nullptr, 4, &used), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(ReadMEMFile(file.path(), buffer, -1, &used), QV_BUFFER_TOO_SMALL);
    EXPECT_EQ(ReadMEMFile(nullptr, buffer, 4, &used), QV_FILE_FAILED);
    EXPECT_EQ(ReadMEMFile(file.path(), buffer, 4, nullptr), QV_NO_ERROR);
    EXPECT_EQ(buffer[0], 1);
}

}  // namespace
