#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>

#include "qvAPI.h"

// Reader of memory-image text files: hexadecimal data tokens, "@" address
// tokens and C/C++ style comments, written into a caller's byte buffer.
namespace {

constexpr size_t kChunkSize = 4096;
constexpr size_t kMaxTokenLength = 4095;

int hexValue(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isSeparator(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

class MemImageScanner {
public:
    MemImageScanner(uint8_t* buffer, int32_t size, int32_t* bytesUsed)
        : buffer_(buffer), size_(size), bytesUsed_(bytesUsed) {}

    QV_STATUS feed(const char* chunk, size_t length) {
        for (size_t i = 0; i < length; ++i) {
            QV_STATUS st = step(static_cast<unsigned char>(chunk[i]));
            if (st != QV_NO_ERROR) return st;
        }
        return QV_NO_ERROR;
    }

    // A token still open at the end of the file is complete there.
    QV_STATUS finish() {
        if (state_ == State::Address || state_ == State::Data) return endToken();
        return QV_NO_ERROR;
    }

private:
    enum class State { Idle, Slash, LineComment, BlockComment, Address, Data };

    QV_STATUS step(int c) {
        switch (state_) {
            case State::Idle:
                return idle(c);
            case State::Slash:
                if (c == '/') {
                    state_ = State::LineComment;
                } else if (c == '*') {
                    state_ = State::BlockComment;
                    previous_ = c;  // so that "/*/" already ends the comment
                } else {
                    return QV_COMMAND_INTERNAL;
                }
                return QV_NO_ERROR;
            case State::LineComment:
                if (c == '\n') state_ = State::Idle;
                return QV_NO_ERROR;
            case State::BlockComment:
                if (c == '/' && previous_ == '*') state_ = State::Idle;
                previous_ = c;
                return QV_NO_ERROR;
            case State::Address:
            case State::Data:
                return inToken(c);
        }
        return QV_COMMAND_INTERNAL;
    }

    QV_STATUS idle(int c) {
        if (isSeparator(c)) return QV_NO_ERROR;
        if (c == '/') {
            state_ = State::Slash;
        } else if (c == '@') {
            token_.clear();
            state_ = State::Address;
        } else if (hexValue(c) >= 0) {
            token_.assign(1, char(c));
            state_ = State::Data;
        } else {
            return QV_COMMAND_INTERNAL;
        }
        return QV_NO_ERROR;
    }

    QV_STATUS inToken(int c) {
        if (hexValue(c) >= 0) {
            if (token_.size() >= kMaxTokenLength) return QV_BUFFER_TOO_SMALL;
            token_.push_back(char(c));
            return QV_NO_ERROR;
        }
        if (isSeparator(c)) return endToken();
        if (c == '/') {
            // The slash is not part of the token: it starts a comment.
            QV_STATUS st = endToken();
            if (st != QV_NO_ERROR) return st;
            state_ = State::Slash;
            return QV_NO_ERROR;
        }
        return QV_COMMAND_INTERNAL;
    }

    QV_STATUS endToken() {
        State ended = state_;
        state_ = State::Idle;
        return ended == State::Address ? setAddress() : writeData();
    }

    QV_STATUS setAddress() {
        constexpr int64_t kLargest = std::numeric_limits<int32_t>::max();
        int64_t address = 0;
        for (char digit : token_) {
            address = address * 16 + hexValue(digit);
            if (address > kLargest) {
                address = kLargest;
                break;
            }
        }
        position_ = address;
        return QV_NO_ERROR;
    }

    QV_STATUS writeData() {
        size_t at = 0;
        // An odd digit count: the first digit alone makes the first byte.
        if (token_.size() % 2 != 0) {
            QV_STATUS st = writeByte(hexValue(token_[0]));
            if (st != QV_NO_ERROR) return st;
            at = 1;
        }
        for (; at < token_.size(); at += 2) {
            QV_STATUS st = writeByte(hexValue(token_[at]) * 16 + hexValue(token_[at + 1]));
            if (st != QV_NO_ERROR) return st;
        }
        return QV_NO_ERROR;
    }

    QV_STATUS writeByte(int value) {
        if (position_ >= size_) return QV_BUFFER_TOO_SMALL;
        buffer_[position_] = uint8_t(value);
        ++position_;
        if (bytesUsed_ != nullptr && *bytesUsed_ < position_) *bytesUsed_ = int32_t(position_);
        return QV_NO_ERROR;
    }

    uint8_t* buffer_;
    int64_t size_;
    int32_t* bytesUsed_;
    State state_ = State::Idle;
    int previous_ = 0;
    std::string token_;
    int64_t position_ = 0;
};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

extern "C" QV_STATUS ReadMEMFile(const char* fileName, uint8_t* buffer, int32_t bufferSize, int32_t* bytesUsed) {
    if (bytesUsed != nullptr) *bytesUsed = 0;
    if (buffer == nullptr || bufferSize < 0) return QV_BUFFER_TOO_SMALL;
    std::memset(buffer, 0, size_t(bufferSize));
    if (fileName == nullptr) return QV_FILE_FAILED;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(fileName, "rb"));
    if (!file) return QV_FILE_FAILED;
    try {
        MemImageScanner scanner(buffer, bufferSize, bytesUsed);
        char chunk[kChunkSize];
        for (;;) {
            size_t n = std::fread(chunk, 1, sizeof chunk, file.get());
            QV_STATUS st = scanner.feed(chunk, n);
            if (st != QV_NO_ERROR) return st;
            if (n < sizeof chunk) break;
        }
        if (std::ferror(file.get())) return QV_FILE_FAILED;
        return scanner.finish();
    } catch (const std::bad_alloc&) {
        return QV_ALLOC_FAILED;
    }
}
