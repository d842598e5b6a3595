#include "server/text/AsciiHelpText.h"

namespace tarnix {
namespace {

constexpr char kHelpText[] =
    "All parameters from and to the device are organized in a tree structure. This simple interface allows you "
    "to interact with the device and use all its features based on an ascii-protocol.\n"
    "\n"
    "The interface holds a current working node to which all paths you give are relative unless you begin a "
    "path with a \"/\". You may use \"..\" to reference a node one level higher in hierarchy. In all paths "
    "wildcards \"*\" may be used.\n"
    "\n"
    "The following commands are recognized by the ascii-interface:\n"
    "\n"
    "[path] [value]\tSets the value of the node(s) at the specified path.\n"
    "[path] ?\tGets the value of the node(s) at the specified path.\n"
    "sel|cd [path]\tSets the working path according to the provided one.\n"
    "sel|cd ?\tPrints the current working path.\n"
    "ls [path]\tLists all children available in the given path.\n"
    "tr [path]\tPrints all children and children's children of the specified path as a tree.\n"
    "subs [path]\tSubscribes the nodes of the given path for event forwarding.\n"
    "unsubs [path]\tUnsubscribes the nodes of the given path from event forwarding.\n"
    "exit\t\tterminates the running session\n"
    "help\t\tShows this page\n";

}  // namespace

std::string_view asciiHelpText() { return std::string_view(kHelpText, sizeof kHelpText - 1); }

}  // namespace tarnix
