// The LabVIEW functions that need no event: status texts, record size and
// the run-time module hook.
#include <cstddef>

#include "LabVIEWText.h"
#include "qvLabVIEW.h"

namespace {

constexpr int32_t kLvKindNone = 0;
constexpr int32_t kLvKindWarning = 1;
constexpr int32_t kLvKindError = 2;
constexpr int32_t kApiKindWarning = 0x4000;
constexpr int32_t kApiKindError = 0x8000;

static_assert(sizeof(QvEvent) == offsetof(QvEvent, dataArea) + QV_EVENT_DATA_SIZE, "no padding after the data");
static_assert(sizeof(QvEvent) <= 0x7FFFFFFF, "the size is reported as int32_t");

}  // namespace

extern "C" {

QV_STATUS qvAPILVGetError(QV_STATUS code, char* text, int32_t* kind) {
    const char* found = nullptr;
    int32_t apiKind = 0;
    const QV_STATUS result = qvAPIGetError(code, &found, &apiKind);
    tarnix::client::labview::copyToTextBuffer(found, text);
    if (kind != nullptr) {
        *kind = apiKind == kApiKindWarning ? kLvKindWarning : apiKind == kApiKindError ? kLvKindError : kLvKindNone;
    }
    return result;
}

int32_t QVetLVRTModule(void) { return -1; }

int32_t qvLvSizeofQvEvent(void) { return int32_t(sizeof(QvEvent)); }

}  // extern "C"
