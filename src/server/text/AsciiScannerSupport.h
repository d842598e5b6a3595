#pragma once
#include "server/text/AsciiParseContext.h"
#include "server/text/AsciiValue.h"

#include <stdexcept>

// Shared by the generated scanner and parser of the text protocol and by
// their driver (AsciiParser).
typedef void* yyscan_t;

namespace tarnix {
namespace impl {

// Thrown in place of the scanner's own fatal exit.
class AsciiScannerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void asciiScannerFailure(const char* message);

}  // namespace impl
}  // namespace tarnix
