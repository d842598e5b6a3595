#include "qvAPI.h"

namespace {

constexpr int32_t kKindSuccess = 0;
constexpr int32_t kKindWarning = 0x4000;
constexpr int32_t kKindError = 0x8000;

// Success, then the warnings from 0x4000, then the errors from 0x8000: the
// table's order.
#define QV_STATUS_TEXT(name, code, text) text,
constexpr const char* kStatusTexts[] = {QV_STATUS_TABLE(QV_STATUS_TEXT)};
#undef QV_STATUS_TEXT
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
