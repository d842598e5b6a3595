#include "server/text/AsciiParser.h"

#include "AsciiGrammar.hpp"
#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "server/text/AsciiParseContext.h"
#include "server/text/AsciiScannerSupport.h"

#include <cstdio>
#include <new>

// The generated scanner's entry points (prefix "ascii_").
int ascii_lex_init_extra(tarnix::impl::AsciiParseContext* extra, yyscan_t* scanner);
int ascii_lex_destroy(yyscan_t scanner);
void ascii_restart(FILE* input, yyscan_t scanner);
tarnix::impl::AsciiParseContext* ascii_get_extra(yyscan_t scanner);
int ascii_scan(ASCII_STYPE* value, yyscan_t scanner);

// The parser's token source. A scanner failure ends the parse like the end
// of the input does, instead of unwinding through the generated parser (which
// would leak its stack).
int ascii_lex(ASCII_STYPE* value, yyscan_t scanner) {
    try {
        return ascii_scan(value, scanner);
    } catch (const tarnix::impl::AsciiScannerError& e) {
        QVLOG_LIMITED(tarnix::logging::warning) << "Text protocol scanner failed: " << e.what();
        ascii_get_extra(scanner)->noteScannerFailure();
        return 0;
    }
}

namespace tarnix {
namespace impl {

void asciiScannerFailure(const char* message) { throw AsciiScannerError(message); }

}  // namespace impl

void AsciiParser::ScannerDeleter::operator()(void* scanner) const { ascii_lex_destroy(scanner); }

AsciiParser::ScannerPtr AsciiParser::createScanner(impl::AsciiParseContext& context) {
    yyscan_t scanner = nullptr;
    if (ascii_lex_init_extra(&context, &scanner) != 0) throw std::bad_alloc();
    return ScannerPtr(scanner);
}

AsciiParser::AsciiParser(AsciiCommandHandler& handler)
    : context_(new impl::AsciiParseContext(handler)), scanner_(createScanner(*context_)) {}

AsciiParser::~AsciiParser() = default;

void AsciiParser::parse(const char* text, std::size_t length) {
    context_->begin(text, length);
    int result = 0;
    try {
        ascii_restart(nullptr, scanner_.get());
        result = ascii_parse(scanner_.get(), *context_);
    } catch (const impl::AsciiScannerError& e) {
        QVLOG_LIMITED(logging::warning) << "Text protocol scanner failed: " << e.what();
        context_->noteScannerFailure();
    }
    if (context_->scannerFailed()) {
        // Its state is unknown now: go on with a fresh one.
        scanner_ = createScanner(*context_);
        context_->syntaxError();
    } else if (result == 2) {
        context_->syntaxError();  // nested beyond the parser's stack limit
    }
    context_->begin(nullptr, 0);
}

}  // namespace tarnix
