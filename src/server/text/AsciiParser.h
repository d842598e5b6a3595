#pragma once
#include "server/text/AsciiCommandHandler.h"

#include <cstddef>
#include <memory>

namespace tarnix {

namespace impl {
class AsciiParseContext;
}

// Runs the text protocol's grammar over complete command lines and calls the
// handler for every command. Owns the scanner; one parser per session.
class AsciiParser {
public:
    explicit AsciiParser(AsciiCommandHandler& handler);
    ~AsciiParser();
    AsciiParser(const AsciiParser&) = delete;
    AsciiParser& operator=(const AsciiParser&) = delete;

    // Parses text that ends with a line end. A line that the parser cannot take
    // at all (nested too deeply, scanner failure) is answered as a syntax error.
    void parse(const char* text, std::size_t length);

private:
    struct ScannerDeleter {
        void operator()(void* scanner) const;
    };
    using ScannerPtr = std::unique_ptr<void, ScannerDeleter>;

    static ScannerPtr createScanner(impl::AsciiParseContext& context);

    std::unique_ptr<impl::AsciiParseContext> context_;
    ScannerPtr scanner_;
};

}  // namespace tarnix
