#pragma once
#include <cstddef>
#include <string>

namespace tarnix {

// Cuts the received byte stream of a text session into complete lines, so that
// a command split across TCP reads runs once, whole. A line ends with a
// newline or a carriage return; the bytes after the last line end wait for
// the next read. A line longer than the limit is refused and dropped up to
// its line end, so a flood without line ends cannot grow memory.
class AsciiLineAssembler {
public:
    static constexpr std::size_t kMaxLineLength = 64 * 1024;

    class Consumer {
    public:
        virtual ~Consumer() = default;
        // One complete line including its line end character. Returning false
        // ends the feed after it: pending bytes are dropped and feed returns
        // where the line ended.
        virtual bool line(const char* text, std::size_t length) = 0;
        // A line exceeded the limit and is being dropped.
        virtual void overlong() = 0;
    };

    explicit AsciiLineAssembler(std::size_t maxLineLength = kMaxLineLength) : maxLineLength_(maxLineLength) {}

    // Returns how many bytes of the data were taken: all of them, unless
    // the consumer ended the feed after a line.
    std::size_t feed(const char* data, std::size_t length, Consumer& consumer);
    // The sending side is closed: a pending partial line runs as if ended.
    void finish(Consumer& consumer);

    std::size_t pendingLength() const { return pending_.size(); }

private:
    void stop();

    std::size_t maxLineLength_;
    std::string pending_;
    bool dropping_ = false;  // inside an overlong line, until its line end
};

}  // namespace tarnix
