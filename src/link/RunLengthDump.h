#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnix {

// The class log's picture of a buffer: runs of equal bytes (at most 255 a run)
// as "%02x%02x" pairs of run length and byte value, each but the last followed
// by a blank, and a line break and 15 blanks after every tenth pair but the
// last. The first run is counted
// against the value 0, so a buffer that does not start with 0 begins "0000".
std::string runLengthDump(const uint8_t* data, std::size_t size);

}  // namespace tarnix
