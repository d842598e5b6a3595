#include <gtest/gtest.h>

#include <string>

#include "qvAPI.h"

namespace {

struct TextCase {
    QV_STATUS code;
    const char* text;
    int32_t kind;
};

class StatusTexts : public ::testing::TestWithParam<TextCase> {};

TEST_P(StatusTexts, CodeGivesTextAndKind) {
    const char* text = nullptr;
    int32_t kind = -1;
    EXPECT_EQ(qvAPIGetError(GetParam().code, &text, &kind), QV_NO_ERROR);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, GetParam().text);
    EXPECT_EQ(kind, GetParam().kind);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StatusTexts,
    ::testing::Values(TextCase{0x0000, "Success (no error)", 0}, TextCase{0x4000, "Warning (general)", 0x4000},
                      TextCase{0x4001, "FIFO Underrun", 0x4000}, TextCase{0x4002, "FIFO Overflow", 0x4000},
                      TextCase{0x4003, "Value or Node not found", 0x4000},
                      TextCase{0x8000, "Error (general)", 0x8000},
                      TextCase{0x8001, "USB Communication failed", 0x8000},
                      TextCase{0x8002, "Memory allocation failed", 0x8000},
                      TextCase{0x8003, "Unable to initialize mutex", 0x8000},
                      TextCase{0x8004, "Unable to destroy mutex", 0x8000},
                      TextCase{0x8005, "Unable to lock mutex", 0x8000},
                      TextCase{0x8006, "Unable to unlock mutex", 0x8000},
                      TextCase{0x8007, "Unable to start thread", 0x8000},
                      TextCase{0x8008, "Unable to join thread", 0x8000},
                      TextCase{0x8009, "Can't initialize socket", 0x8000},
                      TextCase{0x800A, "Unable to connect socket", 0x8000},
                      TextCase{0x800B, "Hostname not found", 0x8000},
                      TextCase{0x800C, "Connection invalid", 0x8000},
                      TextCase{0x800D, "Command timed out", 0x8000},
                      TextCase{0x800E, "Command internally failed", 0x8000},
                      TextCase{0x800F, "Command failed in server", 0x8000},
                      TextCase{0x8010, "Provided Buffer is too small", 0x8000},
                      TextCase{0x8011, "Can't open file or read from it", 0x8000},
                      TextCase{0x8012, "There is already a similar item", 0x8000},
                      // Outside the table.
                      TextCase{0x0001, "Unknown Error Code", 0x8000}, TextCase{0x4004, "Unknown Error Code", 0x8000},
                      TextCase{0x8013, "Unknown Error Code", 0x8000},
                      TextCase{0xFFFFFFFF, "Unknown Error Code", 0x8000}));

TEST(StatusTextsOutputs, NullOutputsAreSkipped) {
    const char* text = nullptr;
    int32_t kind = -1;
    EXPECT_EQ(qvAPIGetError(0x800C, nullptr, nullptr), QV_NO_ERROR);
    EXPECT_EQ(qvAPIGetError(0x4002, &text, nullptr), QV_NO_ERROR);
    EXPECT_STREQ(text, "FIFO Overflow");
    EXPECT_EQ(qvAPIGetError(0x4002, nullptr, &kind), QV_NO_ERROR);
    EXPECT_EQ(kind, 0x4000);
}

}  // namespace
