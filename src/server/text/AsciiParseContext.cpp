#include "server/text/AsciiParseContext.h"

#include <algorithm>
#include <cstring>

namespace tarnix {
namespace impl {

void AsciiParseContext::begin(const char* data, std::size_t length) {
    data_ = data;
    length_ = length;
    position_ = 0;
    texts_.clear();
    scannerFailed_ = false;
}

std::size_t AsciiParseContext::read(char* buffer, std::size_t maxSize) {
    std::size_t n = std::min({maxSize, kReadPiece, length_ - position_});
    if (n > 0) std::memcpy(buffer, data_ + position_, n);
    position_ += n;
    return n;
}

AsciiValue AsciiParseContext::makeText(const char* text, std::size_t length) {
    AsciiValue v = asciiInteger(0);
    v.kind = AsciiValueKind::Text;
    v.tooLong = length > kAsciiMaxText;
    texts_.emplace_back(text, std::min(length, kAsciiMaxText));
    v.text = static_cast<int32_t>(texts_.size() - 1);
    return v;
}

AsciiValue AsciiParseContext::integerText(int64_t value) {
    std::string digits = std::to_string(value);
    return makeText(digits.data(), digits.size());
}

bool AsciiParseContext::join(AsciiValue& result, const AsciiValue& a, char separator, const AsciiValue& b) {
    const std::string& left = text(a);
    const std::string& right = text(b);
    if (left.size() + 1 + right.size() > kAsciiMaxText) return false;
    std::string joined;
    joined.reserve(left.size() + 1 + right.size());
    joined.append(left).append(1, separator).append(right);
    result = makeText(joined.data(), joined.size());
    return true;
}

const std::string& AsciiParseContext::text(const AsciiValue& v) const {
    static const std::string none;
    if (v.text < 0 || static_cast<std::size_t>(v.text) >= texts_.size()) return none;
    return texts_[static_cast<std::size_t>(v.text)];
}

AsciiValue AsciiParseContext::command(AsciiCommand command) { return this->command(command, emptyText()); }

AsciiValue AsciiParseContext::command(AsciiCommand command, const AsciiValue& paths) {
    return this->command(command, paths, asciiInteger(0));
}

AsciiValue AsciiParseContext::command(AsciiCommand command, const AsciiValue& paths, const AsciiValue& value) {
    AsciiValue result = value;
    result.command = command;
    result.paths = paths.text;
    return result;
}

void AsciiParseContext::run(const AsciiValue& command) {
    if (!open()) return;
    AsciiValue pathsValue = command;
    pathsValue.text = command.paths;
    const std::string& paths = text(pathsValue);
    switch (command.command) {
    case AsciiCommand::None: break;
    case AsciiCommand::Get: handler_.get(paths); break;
    case AsciiCommand::Set:
        switch (command.kind) {
        case AsciiValueKind::Integer: handler_.setInteger(paths, command.integer); break;
        case AsciiValueKind::Double: handler_.setDouble(paths, command.real); break;
        case AsciiValueKind::Text: handler_.setText(paths, text(command)); break;
        }
        break;
    case AsciiCommand::Select: handler_.select(paths); break;
    case AsciiCommand::PrintPath: handler_.printPath(); break;
    case AsciiCommand::List: handler_.list(paths, false); break;
    case AsciiCommand::Tree: handler_.list(paths, true); break;
    case AsciiCommand::Subscribe: handler_.subscribe(paths, true); break;
    case AsciiCommand::Unsubscribe: handler_.subscribe(paths, false); break;
    case AsciiCommand::Proto: handler_.proto(paths); break;
    case AsciiCommand::Update: handler_.update(); break;
    case AsciiCommand::Help: handler_.help(); break;
    case AsciiCommand::Exit: handler_.exit(); break;
    }
}

void AsciiParseContext::syntaxError() {
    if (open()) handler_.syntaxError();
}

}  // namespace impl
}  // namespace tarnix
