#include "qvAPI.h"

namespace {

constexpr int32_t kKindSuccess = 0;
constexpr int32_t kKindWarning = 0x4000;
constexpr int32_t kKindError = 0x8000;

// Success, then the warnings from 0x4000, then the errors from 0x8000.
constexpr const char* kStatusTexts[] = {
    "Success (no error)",
    "Warning (general)",
    "FIFO Underrun",
    "FIFO Overflow",
    "Value or Node not found",
    "Error (general)",
    "USB Communication failed",
    "Memory allocation failed",
    "Unable to initialize mutex",
    "Unable to destroy mutex",
    "Unable to lock mutex",
    "Unable to unlock mutex",
    "Unable to start thread",
    "Unable to join thread",
    "Can't initialize socket",
    "Unable to connect socket",
    "Hostname not found",
    "Connection invalid",
    "Command timed out",
    "Command internally failed",
    "Command failed in server",
    "Provided Buffer is too small",
    "Can't open file or read from it",
    "There is already a similar item",
};
constexpr unsigned kFirstWarningIndex = 1;
constexpr unsigned kFirstErrorIndex = 5;
constexpr const char* kUnknownText = "Unknown Error Code";

static_assert(sizeof kStatusTexts / sizeof kStatusTexts[0] == 24, "one text per status code");

}  // namespace

extern "C" QV_STATUS qvAPIGetError(QV_STATUS code, const char** text, int32_t* kind) {
    const char* found = kUnknownText;
    int32_t foundKind = kKindError;
    if (code == QV_NO_ERROR) {
        found = kStatusTexts[0];
        foundKind = kKindSuccess;
    } else if (code >= QV_WARN_GENERAL && code <= QV_VALUE_NOT_FOUND) {
        found = kStatusTexts[kFirstWarningIndex + (code - QV_WARN_GENERAL)];
        foundKind = kKindWarning;
    } else if (code >= QV_ERR_GENERAL && code <= QV_ITEM_EXISTS) {
        found = kStatusTexts[kFirstErrorIndex + (code - QV_ERR_GENERAL)];
    }
    if (text != nullptr) *text = found;
    if (kind != nullptr) *kind = foundKind;
    return QV_NO_ERROR;
}
