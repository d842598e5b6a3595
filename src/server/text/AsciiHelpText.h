#pragma once
#include <string_view>

namespace tarnix {

// The page that the text protocol's "help" command shows after its header.
std::string_view asciiHelpText();

}  // namespace tarnix
