#pragma once
#include "server/text/AsciiCommandHandler.h"
#include "server/text/AsciiValue.h"

#include <cstddef>
#include <string>
#include <vector>

namespace tarnix {
namespace impl {

// Everything the scanner and the parser's actions share for one parse: the
// input being scanned, the texts of the semantic values and the handler that
// runs the commands. It is the scanner's extra data.
class AsciiParseContext {
public:
    // The scanner takes at most this much per read.
    static constexpr std::size_t kReadPiece = 8192;

    explicit AsciiParseContext(AsciiCommandHandler& handler) : handler_(handler) {}
    AsciiParseContext(const AsciiParseContext&) = delete;
    AsciiParseContext& operator=(const AsciiParseContext&) = delete;

    // Starts a parse over data (not copied; must live until the parse ends).
    void begin(const char* data, std::size_t length);
    // Scanner input: copies up to min(maxSize, kReadPiece) bytes; 0 at the end.
    std::size_t read(char* buffer, std::size_t maxSize);

    // Text values. A text longer than kAsciiMaxText is cut and marked.
    AsciiValue makeText(const char* text, std::size_t length);
    AsciiValue emptyText() { return makeText("", 0); }
    AsciiValue integerText(int64_t value);
    // a + separator + b; false when the result would exceed kAsciiMaxText.
    bool join(AsciiValue& result, const AsciiValue& a, char separator, const AsciiValue& b);
    const std::string& text(const AsciiValue& v) const;

    // A command with its path list and, for a set, its value.
    AsciiValue command(AsciiCommand command);
    AsciiValue command(AsciiCommand command, const AsciiValue& paths);
    AsciiValue command(AsciiCommand command, const AsciiValue& paths, const AsciiValue& value);
    // Runs a command whose whole line has parsed, while the handler takes input.
    void run(const AsciiValue& command);
    void syntaxError();

    // Set when the scanner failed inside a read; the parse then ends.
    void noteScannerFailure() { scannerFailed_ = true; }
    bool scannerFailed() const { return scannerFailed_; }

private:
    bool open() const { return !handler_.inputClosed(); }

    AsciiCommandHandler& handler_;
    const char* data_ = nullptr;
    std::size_t length_ = 0;
    std::size_t position_ = 0;
    std::vector<std::string> texts_;
    bool scannerFailed_ = false;
};

}  // namespace impl
}  // namespace tarnix
