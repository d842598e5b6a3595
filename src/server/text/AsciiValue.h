#pragma once
#include <cstddef>
#include <cstdint>

namespace tarnix {
namespace impl {

enum class AsciiValueKind : uint8_t { Integer = 0, Double = 1, Text = 2 };

// A recognised command line, carried up to the line end before it runs.
enum class AsciiCommand : uint8_t {
    None,
    Get,
    Set,
    Select,
    PrintPath,
    List,
    Tree,
    Subscribe,
    Unsubscribe,
    Proto,
    Update,
    Help,
    Exit,
};

// Semantic value of a token or grammar symbol of the text protocol. Texts
// live in the parse's text store (AsciiParseContext) and are named by index,
// so that the value stays a plain record the parser can copy freely.
struct AsciiValue {
    AsciiValueKind kind;
    bool tooLong;  // a text that exceeded kAsciiMaxText and was cut
    AsciiCommand command;
    int32_t text;   // index into the text store, -1 when none
    int32_t paths;  // of a command: its path list in the text store, -1 when none
    int64_t integer;
    double real;
};

// Longest text of one value: a word, a quoted string or a whole path list.
constexpr std::size_t kAsciiMaxText = 1023;

AsciiValue asciiInteger(int64_t value);
AsciiValue asciiDouble(double value);

// Arithmetic of the grammar. An integer that would leave 64 bits saturates
// (to the largest or smallest 64-bit number, which no setting takes), so that
// it never wraps into a number a setting does take.
double asciiToDouble(const AsciiValue& v);
AsciiValue asciiNegate(const AsciiValue& v);
// 'G', 'M', 'k' scale integers as integers; 'm', 'u', 'n' give doubles.
AsciiValue asciiScale(const AsciiValue& v, char unit);
// Always a double; two integers are first added or subtracted in 64 bits.
AsciiValue asciiAdd(const AsciiValue& a, const AsciiValue& b);
AsciiValue asciiSubtract(const AsciiValue& a, const AsciiValue& b);
AsciiValue asciiDivide(const AsciiValue& a, const AsciiValue& b);

// Digits of an integer literal in the given base. Decimal digits beyond the
// largest 64-bit number, and any digits beyond 64 bits, give the largest one;
// up to 64 bits, hexadecimal and binary digits are a two's complement pattern.
int64_t asciiParseUnsigned(const char* digits, std::size_t length, unsigned base);

}  // namespace impl
}  // namespace tarnix
