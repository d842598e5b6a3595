#pragma once
// Builders and readers of binary-protocol messages for the binary protocol's
// tests.
#include "platform/endian/ByteOrder.h"
#include "wire/BinaryWire.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tarnix {
namespace test {

typedef std::vector<uint8_t> Bytes;

inline Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// "01 00 0c ..." for readable failures and byte-exact expectations.
inline std::string hex(const uint8_t* data, size_t length) {
    std::string text;
    char digits[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(digits, sizeof digits, i ? " %02x" : "%02x", data[i]);
        text += digits;
    }
    return text;
}
inline std::string hex(const Bytes& bytes) { return hex(bytes.data(), bytes.size()); }
inline std::string hex(const std::string& bytes) {
    return hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// A whole message: header with the given total length (default: the real
// one), then the body.
inline Bytes message(uint16_t type, uint16_t sequenceId, const Bytes& body, int64_t totalLength = -1) {
    Bytes m(wire::kHeaderSize + body.size());
    wire::encodeHeader(m.data(), type, totalLength < 0 ? uint32_t(m.size()) : uint32_t(totalLength), sequenceId);
    std::copy(body.begin(), body.end(), m.begin() + wire::kHeaderSize);
    return m;
}

inline Bytes pathBody(const std::string& path) {
    Bytes body(wire::pathFieldSize(uint16_t(path.size())));
    wire::encodePathField(body.data(), path.data(), uint16_t(path.size()));
    return body;
}

inline Bytes withU32(Bytes body, uint32_t value) {
    body.resize(body.size() + 4);
    le::put32(&body[body.size() - 4], value);
    return body;
}

inline Bytes withU64(Bytes body, uint64_t value) {
    body.resize(body.size() + 8);
    le::put64(&body[body.size() - 8], value);
    return body;
}

inline Bytes withDouble(Bytes body, double value) {
    body.resize(body.size() + 8);
    le::putDouble(&body[body.size() - 8], value);
    return body;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// One message cut out of a received byte stream.
struct Message {
    wire::BinaryMessageHeader header;
    Bytes bytes;  // the whole message, header included

    uint32_t count() const { return le::get32(&bytes[wire::kReplyCountAt]); }
    bool event(wire::ValueEventView& view) const {
        return wire::decodeValueEvent(bytes.data(), uint32_t(bytes.size()), view);
    }
    std::string eventPath() const {
        wire::ValueEventView view;
        return event(view) ? std::string(view.path.text, view.path.length) : std::string();
    }
};

// Splits a stream into whole messages; a trailing partial message is left in
// `rest` (when given).
inline std::vector<Message> splitMessages(const std::string& stream, std::string* rest = nullptr) {
    std::vector<Message> messages;
    size_t at = 0;
    while (stream.size() - at >= wire::kHeaderSize) {
        const auto* p = reinterpret_cast<const uint8_t*>(stream.data() + at);
        wire::BinaryMessageHeader header = wire::decodeHeader(p);
        if (header.totalLength < wire::kHeaderSize || header.totalLength > stream.size() - at) break;
        messages.push_back({header, Bytes(p, p + header.totalLength)});
        at += header.totalLength;
    }
    if (rest) *rest = stream.substr(at);
    return messages;
}

}  // namespace test
}  // namespace tarnix
