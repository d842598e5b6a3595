#pragma once
#include <cstddef>
#include <cstring>

#include "qvLabVIEW.h"

namespace tarnix {
namespace client {
namespace labview {

// Copies a text into one of LabVIEW's fixed text buffers: at most
// QV_LV_TEXT_SIZE - 1 characters, then a NUL. A null buffer is skipped.
inline void copyToTextBuffer(const char* from, char* to) {
    if (to == nullptr) return;
    const std::size_t length = strnlen(from, QV_LV_TEXT_SIZE - 1);
    std::memcpy(to, from, length);
    to[length] = '\0';
}

}  // namespace labview
}  // namespace client
}  // namespace tarnix
