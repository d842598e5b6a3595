#include "server/text/AsciiLineAssembler.h"

namespace tarnix {
namespace {

bool isLineEnd(char c) { return c == '\n' || c == '\r'; }

std::size_t findLineEnd(const char* data, std::size_t from, std::size_t length) {
    while (from < length && !isLineEnd(data[from])) ++from;
    return from;
}

}  // namespace

void AsciiLineAssembler::stop() {
    pending_.clear();
    dropping_ = false;
}

std::size_t AsciiLineAssembler::feed(const char* data, std::size_t length, Consumer& consumer) {
    std::size_t at = 0;
    while (at < length) {
        std::size_t end = findLineEnd(data, at, length);
        bool complete = end < length;
        std::size_t pieceLength = end - at;
        if (dropping_) {
            if (complete) dropping_ = false;
        } else if (pending_.size() + pieceLength > maxLineLength_) {
            pending_.clear();
            dropping_ = !complete;
            consumer.overlong();
        } else if (!complete) {
            pending_.append(data + at, pieceLength);
        } else {
            bool goOn;
            if (pending_.empty()) {
                goOn = consumer.line(data + at, pieceLength + 1);
            } else {
                pending_.append(data + at, pieceLength + 1);
                std::string line;
                line.swap(pending_);
                goOn = consumer.line(line.data(), line.size());
            }
            if (!goOn) {
                stop();
                return end + 1;
            }
        }
        at = complete ? end + 1 : length;
    }
    return length;
}

void AsciiLineAssembler::finish(Consumer& consumer) {
    bool hadLine = !pending_.empty() && !dropping_;
    std::string line;
    line.swap(pending_);
    dropping_ = false;
    if (!hadLine) return;
    line.push_back('\n');
    consumer.line(line.data(), line.size());
}

}  // namespace tarnix
