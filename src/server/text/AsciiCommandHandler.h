#pragma once
#include <cstdint>
#include <string>

namespace tarnix {

// What the text protocol's grammar asks for, one call per command line.
// Paths are path lists as typed (blank-separated, relative to the current
// node unless they start with '/'); an empty text means the current node.
class AsciiCommandHandler {
public:
    virtual ~AsciiCommandHandler() = default;

    virtual void get(const std::string& paths) = 0;
    // The full 64-bit result of the typed expression.
    virtual void setInteger(const std::string& paths, int64_t value) = 0;
    virtual void setDouble(const std::string& paths, double value) = 0;
    virtual void setText(const std::string& paths, const std::string& text) = 0;
    virtual void select(const std::string& paths) = 0;
    virtual void printPath() = 0;
    // ls (direct children) or tr (whole subtree, indented).
    virtual void list(const std::string& paths, bool wholeTree) = 0;
    virtual void subscribe(const std::string& paths, bool subscribe) = 0;
    virtual void proto(const std::string& word) = 0;
    virtual void update() = 0;
    virtual void help() = 0;
    virtual void exit() = 0;
    // A line that is not a command.
    virtual void syntaxError() = 0;

    // True once the handler takes no more commands (after exit or a protocol
    // switch): the rest of the input is dropped.
    virtual bool inputClosed() const { return false; }
};

}  // namespace tarnix
